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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The window's program folder: beside a portable copy's executable, or for an installed one
    // the user's own folder, filled from the package's data as the window fills it. Both programs
    // then share setup.ini, the model files and the backups.
    const QString programDir = PrepareProgramFolder().path;
    auto out = [](const QString& text) { Print(stdout, text); };
    auto err = [](const QString& text) { Print(stderr, text); };
    const QStringList args = app.arguments().mid(1);
    const TParsedCommandLine parsed = ParseCliCommandLine(args);
    TCliOptions options = parsed.options;

    // What the window would use when the command line does not say.
    TProfileFile setup(programDir + kSetupFile);
    setup.Load();
    auto setting = [&](const char* key, const char* def) {
        return setup.ReadString(kSetupSection, QString::fromLatin1(key), QString::fromLatin1(def));
    };
    // A command line that does not parse is still answered in the language it asks for.
    if (options.language.isEmpty())
        options.language = CliOptionValue(args, QStringLiteral("--lang"));
    if (options.language.isEmpty())
        options.language = setting("LANGUAGE", "CZ");
    if (options.dataDir.isEmpty())
        options.dataDir = CliOptionValue(args, QStringLiteral("--data"));
    QString dataDir = options.dataDir.isEmpty() ? programDir : options.dataDir;
    dataDir = QDir(dataDir).absolutePath() + QLatin1Char('/');
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
    if (options.poles.isEmpty())
        options.poles = setting("POCETP", "2");
    if (options.ratio.isEmpty())
        options.ratio = setting("PREVOD", "1");
    if (options.port.isEmpty() && !options.usb) {
        if (setting("DEVICE", "USB") == QLatin1String("COM"))
            options.port = setting("COM", "COM1");
        else
            options.usb = true;
    }

    if (options.command == QLatin1String("ports")) {
        const TPortReport report = ListPorts();
        const QString text = options.json ? PortsJson(report) : PortsText(report);
        if (!text.isEmpty())
            out(text);
        return kExitOk;
    }

    QtClock clock;
    TComm comm;
    comm.SetBaudrate(br600);
    const std::unique_ptr<ISerialPort> com = MakeCommPort(comm);
    TStderrFtErrors ftErrors;
    TUsbLink usb(&ftErrors);
    TCliEnv env{&clock, com.get(), &usb, dataDir, [] { return QDateTime::currentDateTime(); },
                out,    err};
    TCliSession session(env, options, messages);
    usb.onPermissionDenied = [&](const QString& detail) { session.UsbPermissionDenied(detail); };
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
