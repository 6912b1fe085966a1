// The program against the wire: the main window (offscreen, real timers, real event loop) talks to
// the regulator simulator over a 600-baud line that takes its real time in both directions, and
// every exchange is set beside the wire time of the bytes it moved. Three links:
//   COM   the window's own serial component on a pseudo-terminal; the far end is paced here;
//   USB   the simulated FTDI adapter (paced inside the adapter);
//   chip  the real libftdi over the emulated FT232R (the libusb stand-in), paced by the chip on
//         the way out and here on the way back.
// Figures: wake-up to the read reply decoded into the window; read, write, factory settings and a
// log of 200 records, each from the click to the window idle again, less the pauses the protocol
// prescribes (100 ms after a read and before and after a write, 700 ms after the default request);
// the longest stall of the window's event loop during each (a 1 ms heartbeat).
// Run: ./build/bench/bench_wire [log records, default 200]  (takes about three minutes)

#include "link/ftd2xx.h"
#include "link/usblink.h"
#include "shell/mainform.h"
#include "shell/messageboxes.h"
#include "tests/ftdiemu/ftdiemu.h"
#include "tools/regsim/ftsimadapter.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr double kBaud = 600;
constexpr double kGoalRatio = 1.05;
constexpr double kGoalStallMs = 50;

int64_t NowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               SteadyClock::now().time_since_epoch())
        .count();
}

// Every byte on the line: when it was handed over (PC) or complete (regulator), and its bits.
class LineLog {
public:
    void Add(bool fromPc, int bits, int n = 1)
    {
        const int64_t t = NowUs();
        std::lock_guard lock(m_);
        for (int i = 0; i < n; ++i)
            entries_.push_back({t, fromPc, bits});
    }
    // Wire time of the bytes between t0 and t1, in ms; counts of both directions.
    double WireMs(int64_t t0, int64_t t1, int* pcBytes = nullptr, int* regBytes = nullptr) const
    {
        std::lock_guard lock(m_);
        long bits = 0;
        int pc = 0, reg = 0;
        for (const Entry& e : entries_)
            if (e.t >= t0 && e.t <= t1) {
                bits += e.bits;
                (e.fromPc ? pc : reg) += 1;
            }
        if (pcBytes)
            *pcBytes = pc;
        if (regBytes)
            *regBytes = reg;
        return bits * 1000.0 / kBaud;
    }
    int64_t FirstPcByteAfter(int64_t t) const
    {
        std::lock_guard lock(m_);
        for (const Entry& e : entries_)
            if (e.fromPc && e.t >= t)
                return e.t;
        return 0;
    }

private:
    struct Entry {
        int64_t t;
        bool fromPc;
        int bits;
    };
    mutable std::mutex m_;
    std::vector<Entry> entries_;
};

// The regulator at the far end of a pseudo-terminal. Bytes from the PC reach it one byte time
// after the previous one (when paceIn: the pseudo-terminal itself delivers at once), its replies
// are written into the line when their last bit would have arrived.
class PacedPty {
public:
    PacedPty(regsim::Regulator& reg, LineLog& log, bool paceIn, int pcBits, int regBits)
        : reg_(reg), log_(log), paceIn_(paceIn), pcBits_(pcBits), regBits_(regBits)
    {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        termios t;
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        path_ = name;
        thread_ = std::thread([this] { Loop(); });
    }
    ~PacedPty()
    {
        stop_ = true;
        thread_.join();
        ::close(master_);
        ::close(slave_);
    }
    const std::string& Path() const { return path_; }

private:
    int64_t ByteUs(int bits) const { return int64_t(bits * 1e6 / kBaud); }

    void Loop()
    {
        struct In {
            uint8_t b;
            int64_t at;
        };
        std::vector<In> in;
        std::vector<In> out;
        int64_t lastIn = 0, lastOut = 0;
        while (!stop_) {
            int64_t now = NowUs();
            int64_t next = now + 20'000;
            if (!in.empty())
                next = std::min(next, in.front().at);
            if (!out.empty())
                next = std::min(next, out.front().at);
            const int64_t waitUs = std::max<int64_t>(0, next - now);
            timespec ts{time_t(waitUs / 1'000'000), long(waitUs % 1'000'000) * 1000};
            pollfd p{master_, POLLIN, 0};
            ppoll(&p, 1, &ts, nullptr);
            now = NowUs();
            if (p.revents & POLLIN) {
                uint8_t buf[512];
                const ssize_t n = ::read(master_, buf, sizeof buf);
                for (ssize_t i = 0; i < n; ++i) {
                    const int64_t at = paceIn_ ? std::max(lastIn, now) + ByteUs(pcBits_) : now;
                    lastIn = at;
                    in.push_back({buf[i], at});
                }
                if (paceIn_ && n > 0)
                    log_.Add(true, pcBits_, int(n));
            }
            now = NowUs();
            while (!in.empty() && in.front().at <= now) {
                const regsim::Bytes reply = reg_.Feed(&in.front().b, 1);
                const int64_t arrived = in.front().at;
                in.erase(in.begin());
                for (uint8_t b : reply) {
                    const int64_t at = std::max(lastOut, arrived) + ByteUs(regBits_);
                    lastOut = at;
                    out.push_back({b, at});
                }
            }
            now = NowUs();
            while (!out.empty() && out.front().at <= now) {
                if (::write(master_, &out.front().b, 1) != 1)
                    break;
                log_.Add(false, regBits_);
                out.erase(out.begin());
            }
        }
    }

    regsim::Regulator& reg_;
    LineLog& log_;
    bool paceIn_;
    int pcBits_, regBits_;
    int master_ = -1, slave_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The FT_* functions of another driver, with every byte written or read entered in the log.
class LoggingDriver final : public IFtDriver {
public:
    LoggingDriver(IFtDriver& inner, LineLog& log, bool logReads)
        : inner_(inner), log_(log), logReads_(logReads)
    {
    }
    FT_STATUS ListDevices(PVOID a, PVOID b, DWORD f) override
    {
        return inner_.ListDevices(a, b, f);
    }
    FT_STATUS Open(int n, FT_HANDLE* h) override { return inner_.Open(n, h); }
    FT_STATUS Close(FT_HANDLE h) override { return inner_.Close(h); }
    FT_STATUS ResetDevice(FT_HANDLE h) override { return inner_.ResetDevice(h); }
    FT_STATUS SetBaudRate(FT_HANDLE h, ULONG b) override { return inner_.SetBaudRate(h, b); }
    FT_STATUS SetDataCharacteristics(FT_HANDLE h, UCHAR w, UCHAR s, UCHAR p) override
    {
        bits_ = 1 + w + (s == 2 ? 2 : 1) + (p ? 1 : 0);
        return inner_.SetDataCharacteristics(h, w, s, p);
    }
    FT_STATUS SetFlowControl(FT_HANDLE h, USHORT m, UCHAR a, UCHAR b) override
    {
        return inner_.SetFlowControl(h, m, a, b);
    }
    FT_STATUS SetChars(FT_HANDLE h, UCHAR a, UCHAR b, UCHAR c, UCHAR d) override
    {
        return inner_.SetChars(h, a, b, c, d);
    }
    FT_STATUS SetTimeouts(FT_HANDLE h, ULONG r, ULONG w) override
    {
        return inner_.SetTimeouts(h, r, w);
    }
    FT_STATUS GetQueueStatus(FT_HANDLE h, DWORD* n) override { return inner_.GetQueueStatus(h, n); }
    FT_STATUS Purge(FT_HANDLE h, ULONG mask) override { return inner_.Purge(h, mask); }
    FT_STATUS Write(FT_HANDLE h, LPVOID buf, DWORD n, LPDWORD written) override
    {
        log_.Add(true, bits_, int(n));
        return inner_.Write(h, buf, n, written);
    }
    FT_STATUS Read(FT_HANDLE h, LPVOID buf, DWORD n, LPDWORD got) override
    {
        const FT_STATUS s = inner_.Read(h, buf, n, got);
        if (logReads_ && got && *got)
            log_.Add(false, bits_, int(*got));
        return s;
    }
    const char* LastErrorDetail() const override { return inner_.LastErrorDetail(); }
    FtOpenFailure LastOpenFailure() const override { return inner_.LastOpenFailure(); }

private:
    IFtDriver& inner_;
    LineLog& log_;
    bool logReads_;
    std::atomic<int> bits_{10};
};

struct QuietBoxes final : IMessageBoxes {
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

QByteArray SourceFile(const char* rel)
{
    QFile f(QStringLiteral(KX_SOURCE_DIR "/") + QLatin1String(rel));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

void Pump(const std::function<bool()>& until, int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (!until() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// The longest gap between beats of a 1 ms timer on the window's thread, less the interval.
class Heartbeat {
public:
    Heartbeat()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const int64_t now = NowUs();
            if (last_)
                longest_ = std::max(longest_, now - last_ - 1000);
            last_ = now;
        });
        timer_.start();
    }
    void Reset()
    {
        longest_ = 0;
        last_ = NowUs();
    }
    double LongestMs() const { return longest_ / 1000.0; }

private:
    QTimer timer_;
    int64_t last_ = 0;
    int64_t longest_ = 0;
};

struct Figure {
    std::string link, what;
    double measuredMs, pausesMs, wireMs, stallMs;
    int pcBytes, regBytes;
};
std::vector<Figure> g_figures;

void Print(const Figure& f)
{
    const double ours = f.measuredMs - f.pausesMs;
    const double ratio = f.wireMs > 0 ? ours / f.wireMs : 0;
    std::printf("  %-5s %-30s %9.1f ms - pauses %5.0f = %9.1f ms | wire %9.1f ms (%4d+%5d B) | "
                "ratio %.3f %s | stall %5.1f ms %s\n",
                f.link.c_str(), f.what.c_str(), f.measuredMs, f.pausesMs, ours, f.wireMs, f.pcBytes,
                f.regBytes, ratio, ratio <= kGoalRatio ? "ok  " : "MISS", f.stallMs,
                f.stallMs < kGoalStallMs ? "ok" : "MISS");
    std::fflush(stdout);
}

enum class Link { Com, Usb, Chip };

regsim::RegulatorData Regulator(int logRecords)
{
    regsim::RegulatorData d = regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo");
    d.flags |= 0x80; // keeps a log
    d.log.clear();
    for (int i = 0; i < logRecords; ++i)
        d.log.push_back({uint8_t(1 + i % 7), uint8_t(i), uint8_t(i >> 8), 0x42});
    return d;
}

// Implemented in the stand-in for libusb, found at run time.
template <typename F> F Emu(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}

void RunLink(Link link, int logRecords)
{
    const char* name = link == Link::Com ? "COM" : link == Link::Usb ? "USB" : "chip";
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');
    for (const char* rel : {"Teplota1.txt", "Teplota2.txt"})
        WriteFile(root + rel, SourceFile((std::string("data/") + rel).c_str()));
    WriteFile(root + "Regulators/CZ/KVX-40 OPTO.ini",
              SourceFile("data/Regulators/CZ/KVX-40 OPTO.ini"));

    LineLog log;
    regsim::Regulator sim(Regulator(logRecords));
    sim.faults().silent = true; // until the window is up and the heartbeat runs
    std::unique_ptr<PacedPty> pty;
    std::unique_ptr<regsim::FtSimAdapters> adapters;
    std::unique_ptr<LoggingDriver> driver;
    std::unique_ptr<TUsbLink> usb;
    TNoUsbAdapter noUsb;
    QByteArray setup = "[SETUP]\r\nLANGUAGE=CZ\r\n";
    if (link == Link::Com) {
        pty = std::make_unique<PacedPty>(sim, log, true, 10, 10);
        setup += "DEVICE=COM\r\nCOM=" + QByteArray::fromStdString(pty->Path()) + "\r\n";
    } else if (link == Link::Usb) {
        adapters = std::make_unique<regsim::FtSimAdapters>();
        adapters->SetPaced(true);
        adapters->AddAdapter("KX000001", "Simulated FT232R", &sim);
        driver = std::make_unique<LoggingDriver>(*adapters, log, true);
        setup += "DEVICE=USB\r\n";
    } else {
        const auto reset = Emu<kxemu_reset_fn>("kxemu_reset");
        const auto setPort = Emu<kxemu_set_port_fn>("kxemu_set_port");
        const auto setPacing = Emu<kxemu_set_pacing_fn>("kxemu_set_pacing");
        if (!reset || !setPort || !setPacing) {
            std::printf("  chip: the libusb stand-in is not loaded, skipped\n");
            return;
        }
        // The chip paces what the PC sends; the regulator answers with two stop bits.
        pty = std::make_unique<PacedPty>(sim, log, false, 11, 11);
        reset(1);
        setPort(0, pty->Path().c_str());
        setPacing(1);
        driver = std::make_unique<LoggingDriver>(FtLibftdiDriver(), log, false);
        setup += "DEVICE=USB\r\n";
    }
    WriteFile(root + "setup.ini", setup);
    if (driver) {
        FtInstallDriver(driver.get());
        usb = std::make_unique<TUsbLink>(nullptr);
    }
    QuietBoxes boxes;
    {
        TMainFormEnv env;
        env.programDir = root;
        env.boxes = &boxes;
        env.usb = usb ? static_cast<IUsbLink*>(usb.get()) : &noUsb;
        TMainForm form(env);
        form.show();
        Heartbeat beat;
        Pump([] { return false; }, 300);

        int64_t decodedAt = 0, idleAt = 0, logDoneAt = 0;
        QObject::connect(form.PB1, &QProgressBar::valueChanged, [&](int v) {
            if (v == 100 && !decodedAt)
                decodedAt = NowUs();
        });
        auto idle = [&] {
            return form.Button1->isEnabled() && !form.Cycle().State().busy &&
                   form.StatusPanel1->text() == QString::fromUtf8(" Regulátor PRIPOJEN ");
        };
        // The moment the window is idle again: the transfer buttons come back.
        struct EnableWatch : QObject {
            std::function<void()> fn;
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::EnabledChange)
                    fn();
                return false;
            }
        } watch;
        watch.fn = [&] {
            if (form.Button1->isEnabled() && !idleAt)
                idleAt = NowUs();
        };
        form.Button1->installEventFilter(&watch);
        QObject::connect(form.EEPROM1, &QAction::enabledChanged, [&](bool on) {
            if (on && !logDoneAt)
                logDoneAt = NowUs();
        });

        // 1. From the first byte of the wake-up pattern to the read reply in the window. The
        //    regulator starts answering now; the wake-up that follows is the measured one.
        const int64_t begin = NowUs();
        sim.faults().silent = false;
        beat.Reset();
        Pump([&] { return decodedAt != 0; }, 15000);
        // The wake-ups sent while it was silent went unanswered; the next one is measured.
        const int64_t t0 = log.FirstPcByteAfter(begin);
        Figure f{name, "wake-up -> read shown", 0, 0, 0, beat.LongestMs(), 0, 0};
        if (!decodedAt) {
            std::printf("  %s: never connected\n", name);
            FtInstallDriver(nullptr);
            return;
        }
        f.measuredMs = (decodedAt - t0) / 1000.0;
        f.wireMs = log.WireMs(t0, decodedAt, &f.pcBytes, &f.regBytes);
        g_figures.push_back(f);
        Print(f);
        Pump(idle, 5000);

        // 2. The transactions, each from the click to the window idle again.
        // The default request travels during the 700 ms pause that follows it: its wire time is
        // inside the pause and not added again.
        struct Tx {
            const char* what;
            double pausesMs;
            int bytesInPause;
            std::function<void()> start;
            bool log;
        };
        const std::vector<Tx> txs = {
            {"read", 100, 0, [&] { form.Button1->click(); }, false},
            {"write", 200, 0, [&] { form.Button2->click(); }, false},
            {"factory settings", 800, 3, [&] { form.Button3->click(); }, false},
            {"log", 0, 0, [&] { form.EEPROM1->trigger(); }, true},
        };
        for (const Tx& tx : txs) {
            const int repeats = tx.log ? 1 : 3;
            std::vector<Figure> runs;
            for (int r = 0; r < repeats; ++r) {
                // Not while a presence query is under way: the click would be refused.
                for (int tries = 0; tries < 200; ++tries) {
                    Pump(idle, 5000);
                    Pump([] { return false; }, 30);
                    if (idle())
                        break;
                }
                idleAt = logDoneAt = 0;
                beat.Reset();
                const int64_t start = NowUs();
                tx.start();
                if (!form.Cycle().State().busy) {
                    --r; // refused: a presence query came first
                    continue;
                }
                if (tx.log)
                    Pump([&] { return logDoneAt != 0; }, 600000);
                else
                    Pump([&] { return idleAt != 0; }, 20000);
                const int64_t end = tx.log ? logDoneAt : idleAt;
                Figure g{name, tx.what, 0, tx.pausesMs, 0, beat.LongestMs(), 0, 0};
                if (!end) {
                    std::printf("  %s %s: did not end\n", name, tx.what);
                    break;
                }
                g.measuredMs = (end - start) / 1000.0;
                g.wireMs = log.WireMs(start, end, &g.pcBytes, &g.regBytes) -
                           tx.bytesInPause * (link == Link::Com ? 10 : 11) * 1000.0 / kBaud;
                runs.push_back(g);
            }
            if (runs.empty())
                continue;
            std::sort(runs.begin(), runs.end(), [](const Figure& a, const Figure& b) {
                return a.measuredMs - a.wireMs < b.measuredMs - b.wireMs;
            });
            Figure median = runs[runs.size() / 2];
            for (const Figure& r : runs)
                median.stallMs = std::max(median.stallMs, r.stallMs);
            if (tx.log)
                median.what = "log of " + std::to_string(logRecords) + " records";
            else
                median.what += " (median of " + std::to_string(runs.size()) + ")";
            g_figures.push_back(median);
            Print(median);
        }
    }
    usb.reset();
    FtInstallDriver(nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int logRecords = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    QStringList links = qEnvironmentVariable("KX_BENCH_LINKS", "COM,USB,chip").split(',');
    std::printf("against the wire at 600 baud: measured less prescribed pauses, beside the wire "
                "time of the bytes exchanged (goal ratio <= %.2f; longest event-loop stall < %.0f "
                "ms)\n",
                kGoalRatio, kGoalStallMs);
    if (links.contains("COM"))
        RunLink(Link::Com, logRecords);
    if (links.contains("USB"))
        RunLink(Link::Usb, logRecords);
    if (links.contains("chip"))
        RunLink(Link::Chip, logRecords);
    return 0;
}
