// Program entry: the application, the main window, the message loop.

#include "common/programdir.h"
#include "shell/mainform.h"
#include "shell/pictures.h"
#include "shell/shownhook.h"
#include "shell/termination.h"

#include "tools/regsim/ftsimadapter.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

#include <utility>

namespace {

// The demo without hardware: KORVALINEX_SIMULATED_ADAPTER names a regulator file of the
// simulator ("demo" for the built-in one), and the program finds a simulated FTDI adapter with
// that regulator behind it, paced at the line's speed. SIGUSR1 unplugs it, or plugs it in again.
std::atomic<bool> g_togglePlug{false};

struct TDemoAdapter {
    std::unique_ptr<regsim::Regulator> regulator;
    regsim::FtSimAdapters adapters;
    int adapter = -1;
    bool plugged = true;
};

std::unique_ptr<TDemoAdapter> InstallSimulatedAdapter(QApplication& app)
{
    const QByteArray file = qgetenv("KORVALINEX_SIMULATED_ADAPTER");
    if (file.isEmpty())
        return nullptr;
    auto demo = std::make_unique<TDemoAdapter>();
    try {
        demo->regulator = std::make_unique<regsim::Regulator>(
            file == "demo" ? regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo")
                           : regsim::LoadRegulatorFile(file.toStdString()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvalinex: %s\n", e.what());
        return nullptr;
    }
    demo->regulator->SetObserver([](const regsim::Event& e) {
        if (e.message == regsim::Message::Write && e.write)
            std::fprintf(stderr, "simulated regulator: write %s\n",
                         e.write->stored ? "stored" : "refused");
    });
    demo->adapters.SetPaced(qgetenv("KORVALINEX_SIMULATED_ADAPTER_PACE") != "0");
    demo->adapter =
        demo->adapters.AddAdapter("KX000001", "Simulated FT232R USB UART", demo->regulator.get());
    FtInstallDriver(&demo->adapters);
    std::signal(SIGUSR1, [](int) { g_togglePlug = true; });
    auto* poll = new QTimer(&app);
    TDemoAdapter* d = demo.get();
    QObject::connect(poll, &QTimer::timeout, [d] {
        if (!g_togglePlug.exchange(false))
            return;
        d->plugged = !d->plugged;
        if (d->plugged)
            d->adapters.Plug(d->adapter);
        else
            d->adapters.Unplug(d->adapter);
        std::fprintf(stderr, "simulated adapter %s\n", d->plugged ? "plugged in" : "unplugged");
    });
    poll->start(200);
    return demo;
}

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

} // namespace

int main(int argc, char** argv)
{
    AnnounceMainEntered();
    TKorvalinexApp app(argc, argv);
    app.setApplicationName(QStringLiteral("Korvalinex"));
    app.setApplicationDisplayName(QStringLiteral("KORVALINEX"));
    app.setDesktopFileName(QStringLiteral("korvalinex"));
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(Pictures::AppIcon(size)));
    app.setWindowIcon(icon);
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
    const std::unique_ptr<TDemoAdapter> demo = InstallSimulatedAdapter(app);
    TMainFormEnv env;
    env.programDir = PrepareProgramFolder().path;
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
