// The program itself over "USB": korvalinex in a program folder of its own, started with the
// emulated FTDI adapter in place of libusb-1.0, and the simulator on the adapter's serial side. It
// must find the adapter, wake the regulator and read it, with the stop bits switched around the
// wake-up pattern, and connect again after an unplug and a replug.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

namespace {

QStringList Lines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

// Real processes and real time: the limit only bounds a failure.
bool WaitFor(const std::function<bool()>& pred, int limitMs = 20000)
{
    QDeadlineTimer deadline(limitMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

struct Stopped {
    QProcess& p;
    ~Stopped()
    {
        p.terminate();
        if (!p.waitForFinished(5000))
            p.kill();
        p.waitForFinished(2000);
    }
};

TEST(ProgramOverEmulatedUsb, ConnectsReadsAndSurvivesAnUnplug)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath("korvalinex");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KX_PROGRAM), program));
    QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
    {
        QFile setup(dir.filePath("setup.ini"));
        ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
        setup.write("[SETUP]\r\nDEVICE=USB\r\nLANGUAGE=CZ\r\n");
    }
    // The demo regulator's model definition and lookup files, so that its read follows.
    ASSERT_TRUE(QDir(dir.path()).mkpath("Regulators/CZ"));
    for (const QString rel : {"Regulators/CZ/KVX-40 OPTO.ini", "Teplota1.txt", "Teplota2.txt"})
        ASSERT_TRUE(QFile::copy(QStringLiteral(KX_SOURCE_DIR "/data/") + rel, dir.filePath(rel)));
    const QString port = dir.filePath("port"), record = dir.filePath("record.txt"),
                  lineLog = dir.filePath("line.log"), unplugged = dir.filePath("unplugged");

    QProcess sim;
    sim.start(QStringLiteral(KX_REGSIM_PROGRAM),
              {"--file", KX_REGSIM_DEMO_FILE, "--link", port, "--record", record});
    Stopped stopSim{sim};
    ASSERT_TRUE(sim.waitForStarted(5000));
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(port); }, 5000));

    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_LIBRARY_PATH", KX_FTDIEMU_DIR);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("KXEMU_PORT", port);
    env.insert("KXEMU_LINE_LOG", lineLog);
    env.insert("KXEMU_UNPLUG_FILE", unplugged);
    // Bytes leave the chip at 600 baud and are logged with the settings in force as they leave,
    // so a stop-bit switch that overtook bytes still in the chip would show.
    env.insert("KXEMU_PACE", "1");
    app.setProcessEnvironment(env);
    app.setWorkingDirectory(dir.path());
    app.start(program, {});
    Stopped stopApp{app};
    ASSERT_TRUE(app.waitForStarted(5000));

    const auto count = [&](const QString& message) { return Lines(record).count(message); };
    ASSERT_TRUE(WaitFor([&] { return count("wake-up") >= 1 && count("read") >= 1; }))
        << "simulator recorded: " << Lines(record).join(", ").toStdString();
    EXPECT_EQ(app.state(), QProcess::Running);

    // The wake-up pattern goes out with one stop bit, the read request with two, at 600 baud: the
    // switch to two follows the identification reply, which the regulator only sends once the
    // pattern has arrived, so no byte of the pattern is still in the chip by then.
    const QStringList bytes = Lines(lineLog).filter(QRegularExpression("^[0-9A-F]{2} "));
    const int firstRead = bytes.indexOf(QRegularExpression("^FC baud=600 bits=8 stop=2 parity=0"));
    ASSERT_GE(firstRead, 10) << Lines(lineLog).join('\n').toStdString();
    for (int i = 0; i < firstRead; ++i) {
        if (bytes[i].startsWith("55 ")) {
            EXPECT_EQ(bytes[i].toStdString(), "55 baud=600 bits=8 stop=0 parity=0") << i;
        }
    }

    // Unplug: the emulation notices on the program's next call; replug: the program opens the
    // adapter again and wakes the regulator once more. What the regulator answered into the
    // unplugged adapter is lost, and the reset after the reopen drops anything left, so the
    // identification after the replug is the regulator's answer to the new wake-up.
    const int wakeUps = count("wake-up");
    QFile(unplugged).open(QIODevice::WriteOnly);
    ASSERT_TRUE(WaitFor([&] { return Lines(lineLog).contains("# unplugged"); }));
    QFile::remove(unplugged);
    ASSERT_TRUE(WaitFor([&] { return Lines(lineLog).contains("# plugged"); }));
    // An unplug during the read ends it only through its watchdog (four ticks 4 s apart, the
    // time-out reset 2 s after the last): about 18 s to the new wake-up.
    EXPECT_TRUE(WaitFor([&] { return count("wake-up") > wakeUps && count("read") >= 2; }, 30000))
        << "simulator recorded: " << Lines(record).join(", ").toStdString();
    EXPECT_EQ(app.state(), QProcess::Running);
}

} // namespace
