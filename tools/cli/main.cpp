// korvalinex-cli: the regulator's settings without the window, for workshops and scripts. Same
// protocol code and timers as the window, on a Qt event loop without widgets.

#include "common/clock.h"
#include "common/profile.h"
#include "common/programdir.h"
#include "common/settings.h"
#include "diagnose/machine.h"
#include "i18n/msglangres.h"
#include "link/commconnect.h"
#include "link/comport.h"
#include "link/ftd2xx.h"
#include "link/usblink.h"
#include "tools/cli/diff.h"
#include "tools/cli/doctor.h"
#include "tools/cli/ports.h"
#include "tools/cli/report.h"
#include "tools/cli/runner.h"
#include "tools/cli/sheet.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

// The first failure to write the results: a full disk or a closed pipe must not pass for success.
int stdoutError = 0;

void PrintBytes(FILE* stream, const QByteArray& bytes)
{
    const bool ok =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size()) &&
        std::fflush(stream) == 0;
    if (!ok && stream == stdout && stdoutError == 0)
        stdoutError = errno ? errno : EIO;
}

// A line for the terminal: messages made for a box may carry carriage returns, which would
// overwrite the line on a terminal.
void Print(FILE* stream, QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char(' '));
    PrintBytes(stream, text.toUtf8() + '\n');
}

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

// The regulator's motor and the links, from setup.ini where the command line leaves them out.
void ChooseMotorAndLink(TCliOptions& options, const TWindowSetup& setup)
{
    if (options.poles.isEmpty())
        options.poles = setup.Value("POCETP", "2");
    if (options.ratio.isEmpty())
        options.ratio = setup.Value("PREVOD", "1");
    if (options.links.isEmpty()) {
        if (setup.Value("DEVICE", "USB") == QLatin1String("COM"))
            options.links = {{false, setup.Value("COM", "COM1")}};
        else
            options.links = {{true, QString()}};
    }
    for (TLinkArg& link : options.links)
        if (!link.usb)
            link.name = CliPortPath(link.name);
}

// The links doctor checks: setup.ini's as it names its port, or those of the command line.
QList<TCheckedLink> CheckedLinks(const TCliOptions& options, const TWindowSetup& setup,
                                 bool fromSetup)
{
    QList<TCheckedLink> links;
    for (const TLinkArg& given : options.links) {
        TCheckedLink link;
        link.usb = given.usb;
        link.usbSerial = given.usb ? given.name : QString();
        link.port = given.usb ? QString() : given.name;
        link.fromSetup = fromSetup;
        if (fromSetup && !given.usb)
            link.port = setup.Value("COM", "COM1");
        links.append(link);
    }
    return links;
}

int ListPortsCommand(const TCliOptions& options, const TsmlMsgLangRes& messages, const TLineFn& out)
{
    const TPortReport report = ListPorts();
    const QString text = options.json ? PortsJson(report) : PortsText(report, messages);
    if (!text.isEmpty())
        out(text);
    return kExitOk;
}

// Ctrl-C and a polite kill reach the event loop through a pipe, so that the run can say what
// became of a write before it ends.
int signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void CatchSignals()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM})
        ::sigaction(sig, &action, nullptr);
    // A reader that went away is a failed write of the results, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
}

// A sheet's PDF needs fonts, and so an application with a GUI: on Qt's screenless platform, for the
// tool shows no window and runs where there is no display.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const TCliOptions o = ParseCliCommandLine(args).options;
    if (o.command == QLatin1String("sheet") && !o.output.isEmpty() &&
        SheetFormatFor(o.output) == TSheetFormat::Pdf) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return std::make_unique<QGuiApplication>(argc, argv);
    }
    return std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace

int main(int argc, char** argv)
{
    const std::unique_ptr<QCoreApplication> application = MakeApplication(argc, argv);
    QCoreApplication& app = *application;
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

    int status = kExitOk;
    if (options.help) {
        out(CliUsage(options.command, language));
    } else if (options.version) {
        out(QStringLiteral("korvalinex-cli %1").arg(QStringLiteral(KX_VERSION)));
    } else if (!parsed.error.Empty()) {
        const QString text = messages.LookupMessage(QStringLiteral("str137"))
                                 .arg(CliErrorText(parsed.error, messages));
        err(text);
        err(CliUsage(options.command, language));
        if (args.contains(QStringLiteral("--json")))
            out(ErrorJson(kExitUsage, {text}));
        status = kExitUsage;
    } else {
        const bool linkFromSetup = options.links.isEmpty();
        // A sheet of a file without a link on the command line is that of the file alone.
        const bool fileAlone = options.command == QLatin1String("sheet") &&
                               !options.argument.isEmpty() && options.links.isEmpty();
        ChooseMotorAndLink(options, setup);
        if (fileAlone) {
            status = SheetFileCommand(
                options, dataDir, messages, QDateTime::currentDateTime(),
                {err, [](const QByteArray& b) { PrintBytes(stdout, b); }, options.verbosity});
        } else if (options.command == QLatin1String("ports")) {
            status = ListPortsCommand(options, messages, out);
        } else if (options.command == QLatin1String("doctor")) {
            status = DoctorCommand(options, CheckedLinks(options, setup, linkFromSetup), TMachine(),
                                   dataDir, messages, out, [&](const TCheckedLink& link) {
                                       return CheckLiveLink(options, link, dataDir, messages);
                                   });
        } else if (options.command == QLatin1String("diff") && !options.argument2.isEmpty()) {
            status = DiffFilesCommand(options, dataDir, messages, out, err);
        } else {
            CatchSignals();
            status = RunLinks(app, signalPipe[0], options, dataDir, messages,
                              {out, err, [](const QByteArray& b) { PrintBytes(stdout, b); }});
        }
    }
    if (stdoutError != 0) {
        err(messages.LookupMessage(QStringLiteral("str233"))
                .arg(QString::fromLocal8Bit(std::strerror(stdoutError))));
        if (status == kExitOk)
            status = kExitFailure;
    }
    return status;
}
