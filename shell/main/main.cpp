// Program entry: the application, the main window, the message loop.

#include "shell/mainform.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>

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
    TMainFormEnv env;
    env.programDir = ProgramDirectory();
    TMainForm form(env);
    form.show();
    // Centred on the desktop.
    if (const QScreen* screen = form.screen())
        form.move(screen->availableGeometry().center() - form.rect().center());
    return app.exec();
}
