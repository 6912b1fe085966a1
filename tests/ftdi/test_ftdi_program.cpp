// The program itself over "USB": korvalinex in a program folder of its own, started with the
// emulated FTDI adapter in place of libusb-1.0, and the simulator on the adapter's serial side. It
// must find the adapter, wake the regulator and read it, with the stop bits switched around the
// wake-up pattern, and connect again after an unplug and a replug.

#include "tests/support/process.h"
#include "tests/support/programdir.h"
#include "tests/support/pump.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

QStringList Lines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

TEST(ProgramOverEmulatedUsb, ConnectsReadsAndSurvivesAnUnplug)
{
    TProgramDir dir;
    const QString program = dir.File("korvalinex");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KX_PROGRAM), program));
    QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
    dir.Write("setup.ini", "[SETUP]\r\nDEVICE=USB\r\nLANGUAGE=CZ\r\n");
    // The demo regulator's model definition and lookup files, so that its read follows.
    dir.WriteDemoFiles();
    const QString port = dir.File("port"), record = dir.File("record.txt"),
                  lineLog = dir.File("line.log"), unplugged = dir.File("unplugged");

    TChildProcess sim;
    ASSERT_TRUE(sim.Launch(QStringLiteral(KX_REGSIM_PROGRAM),
                           {"--file", KX_REGSIM_DEMO_FILE, "--link", port, "--record", record}));
    ASSERT_TRUE(PumpUntil([&] { return QFile::exists(port); }));

    TChildProcess app;
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
    app.setWorkingDirectory(dir.Path());
    ASSERT_TRUE(app.Launch(program, {}));

    const auto count = [&](const QString& message) { return Lines(record).count(message); };
    ASSERT_TRUE(PumpUntil([&] { return count("wake-up") >= 1 && count("read") >= 1; }))
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
    // adapter again and goes on talking to the regulator. What the regulator answered into the
    // unplugged adapter is lost, and the reset after the reopen drops anything left. When the
    // unplug lost a read, its watchdog ends it (four ticks 4 s apart, the time-out reset 2 s after
    // the last: about 18 s) and a new wake-up and read follow; when it only lost a presence query,
    // the regulator is still awake and the next queries are answered.
    const int wakeUps = count("wake-up"), reads = count("read");
    QFile(unplugged).open(QIODevice::WriteOnly);
    ASSERT_TRUE(PumpUntil([&] { return Lines(lineLog).contains("# unplugged"); }));
    QFile::remove(unplugged);
    ASSERT_TRUE(PumpUntil([&] { return Lines(lineLog).contains("# plugged"); }));
    const int presencesAtReplug = count("presence");
    EXPECT_TRUE(PumpUntil(
        [&] {
            return (count("wake-up") > wakeUps && count("read") > reads) ||
                   count("presence") >= presencesAtReplug + 2;
        },
        30000))
        << "simulator recorded: " << Lines(record).join(", ").toStdString();
    EXPECT_EQ(app.state(), QProcess::Running);
}

} // namespace
