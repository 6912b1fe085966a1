// Program entry: the application, the main window, the message loop.

#include "shell/mainform.h"
#include "shell/pictures.h"
#include "shell/programdir.h"
#include "shell/termination.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>

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

} // namespace

int main(int argc, char** argv)
{
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
    TMainFormEnv env;
    env.programDir = PrepareProgramFolder().path;
    TMainForm form(env);
    window = &form;
    form.show();
    // Centred on the desktop.
    if (const QScreen* screen = form.screen())
        form.move(screen->availableGeometry().center() - form.rect().center());
    return app.exec();
}
