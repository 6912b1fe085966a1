#pragma once
// korvalinex-cli's session in process: the demo regulator of the simulator behind the COM link or
// behind a simulated FTDI adapter and the real USB link, on virtual time, in a temporary program
// folder with the demo model's definition and lookup files.

#include "common/clock.h"
#include "i18n/msglangres.h"
#include "link/commconnect.h"
#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/programdir.h"
#include "tests/support/simport.h"
#include "tests/support/virtualusb.h"
#include "tools/cli/session.h"
#include "tools/regsim/regfile.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

// A COM port whose opening or sending fails, as a missing or unplugged device does.
class TBrokenPort final : public ISerialPort {
public:
    bool failOpen = false, failSend = false;
    ISerialPort* inner = nullptr;
    bool Active() const override { return inner->Active(); }
    void OpenComPort(const QString& name) override
    {
        if (failOpen)
            throw EComError(ENOENT, QStringLiteral("CreateFile"));
        inner->OpenComPort(name);
    }
    int SendString(const QByteArray& bytes) override
    {
        if (failSend)
            throw std::runtime_error("Error 5 Input/output error in function: WriteFile");
        return inner->SendString(bytes);
    }
    void SetReceiver(TSerialReceiver receiver) override { inner->SetReceiver(std::move(receiver)); }
};

// Which link a command line without --port or --usb uses.
enum class TCliLink { Serial, Usb };
inline const char* LinkName(TCliLink link)
{
    return link == TCliLink::Usb ? "UsbAdapter" : "SerialPort";
}
inline void PrintTo(TCliLink link, std::ostream* os) { *os << LinkName(link); }

// The adapter library's complaints, where the program prints them: stderr.
struct TFtErrorsToList final : IFtErrorBox {
    QStringList* lines = nullptr;
    void ShowFtError(const QString& text) override { lines->append(text); }
};

struct TCliFixture {
    TProgramDir dir;
    VirtualClock clock;
    regsim::Regulator sim;
    TSimPort port{clock, sim};
    TBrokenPort link;
    // The simulated FTDI adapter, with the same regulator on its serial side.
    regsim::FtSimVirtualClock simClock{[this] { return clock.Now() * 1000; }};
    regsim::FtSimAdapters adapters{&simClock};
    TVirtualReadRunner runner{clock, simClock};
    IFtDriver* previousDriver = nullptr;
    TFtErrorsToList ftErrors;
    std::unique_ptr<TUsbLink> usb;
    TCliLink linkKind;
    TsmlMsgLangRes messages;
    const TsmlMsgLangRes* language = nullptr; // the messages the runs speak; default: messages
    QStringList out, err;
    QByteArray outBytes; // a file sent to stdout (-o -)
    QDateTime now{QDate(2025, 3, 14), QTime(9, 26, 53)};
    std::unique_ptr<TCliSession> session;

    static constexpr int64_t kPatienceMs = 120'000;
    inline static const QString kModel = QStringLiteral("KVX-40 OPTO");
    inline static const std::string kAdapterSerial = "KX000001";
    inline static const std::string kAdapterDescription = "Simulated FT232R";

    explicit TCliFixture(TCliLink kind = TCliLink::Serial,
                         regsim::RegulatorData regulator =
                             regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo"))
        : sim(std::move(regulator)), linkKind(kind)
    {
        link.inner = &port;
        ftErrors.lines = &err;
        previousDriver = FtInstallDriver(&adapters);
        adapters.AddAdapter(kAdapterSerial, kAdapterDescription, &sim);
        dir.WriteDemoFiles();
        dir.Write("Regulators/EN/" + kModel + ".ini",
                  SourceFile("data/Regulators/EN/KVX-40 OPTO.ini"));
        QDir().mkpath(dir.File("Data"));
    }
    ~TCliFixture()
    {
        // Both hold on to the adapters, which go with the driver.
        session.reset();
        usb.reset();
        FtInstallDriver(previousDriver);
    }

    // Runs one command line to its end on virtual time; the exit status, or -1 if it never ended.
    int RunCli(const QStringList& args)
    {
        if (!StartCli(args))
            return kExitUsage;
        clock.AdvanceUntil([this] { return session->Finished(); }, kPatienceMs);
        return EndCli();
    }

    // The two halves of RunCli, for a run that the test drives on virtual time itself. False for
    // a command line that does not parse.
    bool StartCli(const QStringList& args)
    {
        out.clear();
        err.clear();
        outBytes.clear();
        const TParsedCommandLine parsed = ParseCliCommandLine(args);
        if (!parsed.error.Empty())
            return false;
        TCliOptions o = parsed.options;
        if (o.language.isEmpty())
            o.language = "CZ";
        if (o.poles.isEmpty())
            o.poles = "2";
        if (o.ratio.isEmpty())
            o.ratio = "1";
        if (o.port.isEmpty() && !o.usb) {
            if (linkKind == TCliLink::Usb)
                o.usb = true;
            else
                o.port = "SIM";
        }
        // Each run is a new program: a link of its own that opens the adapter afresh.
        session.reset();
        usb = std::make_unique<TUsbLink>(
            &ftErrors, TUsbLinkOptions{true, &runner, [this] { return simClock.NowUs() / 1000; },
                                       o.usbSerial});
        usb->onOpenProblem = [this](const TUsbOpenProblem& p) { session->UsbOpenProblem(p); };
        TCliEnv env{&clock,
                    &link,
                    usb.get(),
                    dir.Path(),
                    [this] { return now; },
                    [this](const QString& t) { out << t; },
                    [this](const QString& t) { err << t; },
                    [this] { return usb->OpenSerialNo(); },
                    [this](const QByteArray& b) { outBytes += b; }};
        session = std::make_unique<TCliSession>(env, o, language ? *language : messages);
        session->Start([](int) {});
        usbRun_ = o.usb;
        return true;
    }
    int EndCli()
    {
        port.deliver = nullptr;
        port.DropPending();
        if (usbRun_ && usb->UsbOpen())
            usb->UsbClose();
        // Later commands meet the regulator afresh, as a new run of the program would.
        sim.LineIdle();
        const int status = session->Status();
        return status;
    }

    bool usbRun_ = false;

    QString Out() const { return out.join('\n'); }
    QString Err() const { return err.join('\n'); }
    QString BackupDir() const { return dir.File("Data/" + kModel + "/Backup"); }
    QStringList Backups(const QString& ext = "txt") const
    {
        return QDir(BackupDir()).entryList({"*." + ext}, QDir::Files, QDir::Name);
    }
};
