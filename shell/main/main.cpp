// Program entry: the application, the main window, the message loop.

#include "common/programdir.h"
#include "common/settings.h"
#include "i18n/languages.h"
#include "i18n/msglangres.h"
#include "link/ftd2xx.h"
#include "shell/application.h"
#include "shell/demo.h"
#include "shell/mainform.h"
#include "shell/shownhook.h"
#include "shell/termination.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

namespace {

// Nothing that leaves an event handler escapes into the event loop: its text is shown, the current
// operation ends and the program goes on.
class TKorvalinexApp final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            QMessageBox::critical(activeWindow(), QStringLiteral("KORVALINEX"),
                                  QString::fromStdString(e.what()));
        }
        return false;
    }
};

bool AsksForHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    return false;
}

// A message in the language of the folder's setup.ini, before any window has its messages.
QString MessageBeforeTheWindow(const QString& programDir, const char* key, const QString& arg)
{
    QObject owner; // names the section the window's messages are read from
    owner.setObjectName(QStringLiteral("MainForm"));
    TsmlMsgLangRes messages(&owner, programDir);
    messages.SetAutoCreateMode(false);
    messages.SetIgnoreEmptyString(true);
    if (const QString file = LanguageFileOf(ReadUserSettings(programDir).language); !file.isEmpty())
        messages.SetLangFileName(file);
    messages.SetActive(true);
    return messages.LookupMessage(QLatin1String(key)).arg(arg);
}

// The demo's simulated adapter, installed as the FTDI driver; nullptr when it cannot be had, which
// has been said on stderr and in a message box: the demo never starts without its regulator.
std::unique_ptr<TDemoAdapter> StartDemo(const TStartOptions& options, const QString& programDir)
{
    QString error;
    std::unique_ptr<TDemoAdapter> demo =
        TDemoAdapter::Load(DemoModuleCandidates(QCoreApplication::applicationDirPath()),
                           options.regulatorFile, options.paced, &error);
    if (!demo) {
        std::fprintf(stderr, "korvalinex: --demo: %s\n", qPrintable(error));
        QMessageBox::critical(nullptr, QStringLiteral("KORVALINEX"),
                              MessageBeforeTheWindow(programDir, "Str520", error));
        return nullptr;
    }
    FtInstallDriver(demo->Driver());
    demo->TogglePlugOnSigusr1(qApp);
    return demo;
}

} // namespace

int main(int argc, char** argv)
{
    AnnounceMainEntered();
    // Before the application: help needs no display.
    if (AsksForHelp(argc, argv)) {
        std::fputs(qPrintable(StartOptionsHelp()), stdout);
        return 0;
    }
    TKorvalinexApp app(argc, argv);
    TStartOptions options;
    QString error;
    if (!ParseStartOptions(app.arguments().mid(1), &options, &error)) {
        std::fprintf(stderr, "korvalinex: %s\n%s", qPrintable(error),
                     qPrintable(StartOptionsHelp()));
        return 2;
    }
    SetUpApplication(app);
    // Made before the window and so gone after it: the window's link talks to it to the end.
    // Before the signals are taken over, so that a `kill` ends the message box of a failed start.
    const QString programDir =
        PrepareProgramFolder(options.demo ? TFolderUse::Demo : TFolderUse::Normal).path;
    std::unique_ptr<TDemoAdapter> demo;
    if (options.demo && !(demo = StartDemo(options, programDir)))
        return 1;
    // A logout or `kill` closes the window as "Konec" does, so the settings are written; a second
    // request while that is still going on (a message box is up) ends the program at once. The
    // requests are taken from here on and handled once the event loop runs.
    TMainForm* window = nullptr;
    bool closing = false;
    TTerminationRequests termination([&] {
        if (window && !std::exchange(closing, true))
            window->close();
        QApplication::quit();
    });
    TMainFormEnv env;
    env.programDir = programDir;
    TMainForm form(env);
    window = &form;
    InstallShownHook(&form);
    form.show();
    // Centred on the desktop.
    if (const QScreen* screen = form.screen())
        form.move(screen->availableGeometry().center() - form.rect().center());
    const int code = app.exec();
    return code;
}
