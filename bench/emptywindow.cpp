// The reference for the start-up figures: an empty Qt Widgets main window, built with the same
// compiler flags as the program, shown the same way and timed by the same hook.

#include "shell/shownhook.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    InstallShownHook(&window);
    window.show();
    return app.exec();
}
