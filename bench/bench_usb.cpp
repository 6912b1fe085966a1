// USB link figures over the simulated adapter paced at 600 baud, in real time:
//  1. the read exchange (request FC 01 02 and the reply frame), with the traditional receive of
//     511 bytes that waits out its 1500 ms, and with the receive that ends with the reply;
//  2. the longest stall of the window's event loop during a session: silent regulator, connect,
//     read, write; with the receive on the worker and, for comparison, blocking the window.
// Run: ./build/bench/bench_usb  (takes about 40 s)

#include "common/clock.h"
#include "link/usblink.h"
#include "protocol/replyend.h"
#include "shell/mainform.h"
#include "shell/messageboxes.h"
#include "tools/regsim/ftsimadapter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct TQuietBoxes final : IMessageBoxes {
    void Show(TBoxKind, const QString&, const QString& text) override
    {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
    }
    bool Ask(const QString&, const QString&, const QString&, const QString&,
             TDefaultAnswer) override
    {
        return true;
    }
    int Choose(const QString&, const QString&, const QStringList&, int preset) override
    {
        return preset;
    }
};

// The receive on the window's own thread, as the adapter's library is used traditionally.
struct TBlockingRunner final : IUsbReadRunner {
    void Run(std::function<UsbReadResult()> work, UsbReadDone done) override { done(work()); }
    void Stop() override {}
};

void Pump(const std::function<bool()>& until, int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (!until() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void ExchangeTimes()
{
    regsim::Regulator sim(regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo"));
    regsim::FtSimAdapters adapters;
    adapters.SetPaced(true);
    adapters.AddAdapter("KX000001", "Simulated FT232R", &sim);
    FtInstallDriver(&adapters);
    const size_t frame = sim.ReadPayload().size() + 3;
    const double wireMs = (3 + frame) * 11 * 1000.0 / 600;
    std::printf("read exchange: request 3 bytes, reply %zu bytes, wire time %.0f ms (11 bits a "
                "byte at 600 baud)\n",
                frame, wireMs);
    for (bool earlyEnd : {false, true}) {
        TUsbLink link(nullptr, TUsbLinkOptions{earlyEnd, nullptr, {}, {}});
        link.UsbReadyCheck();
        link.UsbSetDataCharacteristics(8, 2, 0);
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer t;
            t.start();
            bool done = false;
            qsizetype got = 0;
            link.UsbSend(QByteArray::fromHex("FC0102"));
            link.UsbReadAsync(
                511, [](const QByteArray& b) { return ReplyBytesNeeded(b, {}); },
                [&](const UsbReadResult& r) {
                    got = r.bytes.size();
                    done = true;
                });
            Pump([&] { return done; }, 5000);
            times.push_back(t.nsecsElapsed() / 1e6);
            if (got != qsizetype(frame))
                std::printf("  short reply: %lld bytes\n", static_cast<long long>(got));
        }
        std::sort(times.begin(), times.end());
        std::printf("  %-28s median %7.1f ms  max %7.1f ms  (wire + %.1f ms)\n",
                    earlyEnd ? "after (ends with the reply)" : "before (511 bytes, 1500 ms)",
                    times[2], times.back(), times[2] - wireMs);
    }
    FtInstallDriver(nullptr);
}

QByteArray SourceFile(const char* rel)
{
    QFile f(QStringLiteral(KX_SOURCE_DIR "/") + QLatin1String(rel));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void Stalls(bool blocking)
{
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');
    QDir().mkpath(root + "Regulators/CZ");
    for (const char* rel : {"Teplota1.txt", "Teplota2.txt"}) {
        QFile f(root + rel);
        f.open(QIODevice::WriteOnly);
        f.write(SourceFile((std::string("data/") + rel).c_str()));
    }
    QFile m(root + "Regulators/CZ/KVX-40 OPTO.ini");
    m.open(QIODevice::WriteOnly);
    m.write(SourceFile("data/Regulators/CZ/KVX-40 OPTO.ini"));
    m.close();

    regsim::Regulator sim(regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo"));
    sim.faults().silent = true;
    regsim::FtSimAdapters adapters;
    adapters.SetPaced(true);
    adapters.AddAdapter("KX000001", "Simulated FT232R", &sim);
    FtInstallDriver(&adapters);
    TBlockingRunner blockingRunner;
    TQuietBoxes boxes;
    {
        TUsbLink link(nullptr, TUsbLinkOptions{true, blocking ? &blockingRunner : nullptr, {}, {}});
        TMainFormEnv env;
        env.programDir = root;
        env.boxes = &boxes;
        env.usb = &link;
        TMainForm form(env);
        form.show();

        QElapsedTimer sinceBeat;
        sinceBeat.start();
        qint64 longest = 0;
        QString phase = "silent", longestPhase;
        QTimer heartbeat;
        heartbeat.setInterval(2);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            const qint64 gap = sinceBeat.nsecsElapsed() / 1000;
            sinceBeat.restart();
            if (gap > longest) {
                longest = gap;
                longestPhase = phase;
            }
        });
        heartbeat.start();
        const auto connected = [&] {
            return form.StatusPanel1->text() == QString::fromUtf8(" Regulátor PRIPOJEN ") &&
                   form.Button1->isEnabled();
        };
        Pump([] { return false; }, 6000);
        phase = "connect";
        sim.faults().silent = false;
        Pump(connected, 10000);
        const bool found = connected();
        phase = "read";
        form.Button1->click();
        Pump([] { return false; }, 200);
        Pump(connected, 5000);
        phase = "write";
        const int writes = int(sim.Writes().size());
        form.Button2->click();
        Pump([&] { return int(sim.Writes().size()) > writes && connected(); }, 5000);
        const bool written = int(sim.Writes().size()) > writes;
        phase = "idle";
        Pump([] { return false; }, 3000);
        std::printf("  %-34s longest stall %7.1f ms (during %s); connected %s, write %s\n",
                    blocking ? "before (receive blocks the window)" : "after (receive on a worker)",
                    longest / 1000.0, qPrintable(longestPhase), found ? "yes" : "NO",
                    written ? "stored" : "MISSING");
    }
    FtInstallDriver(nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ExchangeTimes();
    std::printf("event loop of the window, 2 ms heartbeat: 6 s silent regulator, connect, read, "
                "write, 3 s idle\n");
    Stalls(true);
    Stalls(false);
    return 0;
}
