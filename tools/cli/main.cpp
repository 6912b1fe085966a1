// korvalinex-cli: the regulator's settings without the window, for workshops and scripts. Same
// protocol code and timers as the window, on a Qt event loop without widgets.

#include "common/clock.h"
#include "common/profile.h"
#include "common/programdir.h"
#include "common/settings.h"
#include "i18n/msglangres.h"
#include "link/commconnect.h"
#include "link/comport.h"
#include "link/ftd2xx.h"
#include "link/usblink.h"
#include "tools/cli/ports.h"
#include "tools/cli/report.h"
#include "tools/cli/session.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

void Print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// The adapter library's failures, in plain words on stderr.
class TStderrFtErrors final : public IFtErrorBox {
public:
    void ShowFtError(const QString& text) override { Print(stderr, text); }
};

using TLineFn = std::function<void(const QString&)>;

// What the window would use where the command line does not say.
class TWindowSetup {
public:
    explicit TWindowSetup(const QString& programDir) : setup_(programDir + kSetupFile)
    {
        setup_.Load();
    }
    QString Value(const char* key, const char* def) const
    {
        return setup_.ReadString(kSetupSection, QString::fromLatin1(key), QString::fromLatin1(def));
    }

private:
    TProfileFile setup_;
};

// The language and the data folder, which even a command line that does not parse chooses: its
// complaint comes in the language it asks for. Returns the data folder with a trailing "/".
QString ChooseLanguageAndData(TCliOptions& options, const QStringList& args,
                              const TWindowSetup& setup, const QString& programDir)
{
    if (options.language.isEmpty())
        options.language = CliOptionValue(args, QStringLiteral("--lang"));
    if (options.language.isEmpty())
        options.language = setup.Value("LANGUAGE", "CZ");
    if (options.dataDir.isEmpty())
        options.dataDir = CliOptionValue(args, QStringLiteral("--data"));
    const QString dataDir = options.dataDir.isEmpty() ? programDir : options.dataDir;
    return QDir(dataDir).absolutePath() + QLatin1Char('/');
}

// The regulator's motor and the link, from setup.ini where the command line leaves them out.
void ChooseMotorAndLink(TCliOptions& options, const TWindowSetup& setup)
{
    if (options.poles.isEmpty())
        options.poles = setup.Value("POCETP", "2");
    if (options.ratio.isEmpty())
        options.ratio = setup.Value("PREVOD", "1");
    if (options.port.isEmpty() && !options.usb) {
        if (setup.Value("DEVICE", "USB") == QLatin1String("COM"))
            options.port = setup.Value("COM", "COM1");
        else
            options.usb = true;
    }
}

int ListPortsCommand(const TCliOptions& options, const TsmlMsgLangRes& messages, const TLineFn& out)
{
    const TPortReport report = ListPorts();
    const QString text = options.json ? PortsJson(report) : PortsText(report, messages);
    if (!text.isEmpty())
        out(text);
    return kExitOk;
}

// A command that talks to the regulator: the links opened, the session run on the event loop
// until it has its exit status, the links closed.
int RunSession(QCoreApplication& app, const TCliOptions& options, const QString& dataDir,
               const TsmlMsgLangRes& messages, const TLineFn& out, const TLineFn& err)
{
    QtClock clock;
    TComm comm;
    comm.SetBaudrate(br600);
    const std::unique_ptr<ISerialPort> com = MakeCommPort(comm);
    TStderrFtErrors ftErrors;
    TUsbLinkOptions usbOptions;
    usbOptions.serialNo = options.usbSerial;
    TUsbLink usb(&ftErrors, usbOptions);
    TCliEnv env{&clock, com.get(), &usb, dataDir, [] { return QDateTime::currentDateTime(); },
                out,    err};
    TCliSession session(env, options, messages);
    usb.onOpenProblem = [&](const TUsbOpenProblem& p) { session.UsbOpenProblem(p); };
    comm.OnRxChar = [&](TCommunicationConnection*, int count) {
        QByteArray bytes;
        comm.ReadString(count, bytes);
        session.Cycle().Comm1RxChar(bytes);
    };
    int status = kExitFailure;
    session.Start([&](int s) {
        status = s;
        QMetaObject::invokeMethod(
            &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    if (!session.Finished())
        app.exec();
    comm.OnRxChar = nullptr;
    if (options.usb && usb.UsbReadyCheck())
        usb.UsbClose();
    try {
        comm.Close();
    } catch (const std::exception&) {
        // The result is known; a port that went away cannot change it.
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The window's program folder: beside a portable copy's executable, or for an installed one
    // the user's own folder, filled from the package's data as the window fills it. Both programs
    // then share setup.ini, the model files and the backups.
    const QString programDir = PrepareProgramFolder().path;
    const TLineFn out = [](const QString& text) { Print(stdout, text); };
    const TLineFn err = [](const QString& text) { Print(stderr, text); };
    const QStringList args = app.arguments().mid(1);
    const TParsedCommandLine parsed = ParseCliCommandLine(args);
    TCliOptions options = parsed.options;

    const TWindowSetup setup(programDir);
    const QString dataDir = ChooseLanguageAndData(options, args, setup, programDir);
    const TCliMessages language({dataDir, programDir}, options.language);
    const TsmlMsgLangRes& messages = language.Messages();

    if (!parsed.error.Empty()) {
        err(messages.LookupMessage(QStringLiteral("str137"))
                .arg(CliErrorText(parsed.error, messages)));
        err(CliUsage(options.command, messages));
        return kExitUsage;
    }
    if (options.help) {
        out(CliUsage(options.command, messages));
        return kExitOk;
    }
    ChooseMotorAndLink(options, setup);
    if (options.command == QLatin1String("ports"))
        return ListPortsCommand(options, messages, out);
    return RunSession(app, options, dataDir, messages, out, err);
}
