// The references for the start-up figures: an empty Qt Widgets main window, built with the same
// compiler flags as the program, shown the same way and timed by the same hook. Built a second time
// as emptylabel, with one line of text in it: a window that draws text loads fonts, which the empty
// one never does, so this one shows how much of the program's start is the first text it lays out.

#include "shell/shownhook.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <cstdio>

int main(int argc, char** argv)
{
    AnnounceMainEntered();
    QApplication app(argc, argv);
    QMainWindow window;
#ifdef KX_WITH_LABEL
    window.setCentralWidget(new QLabel(QStringLiteral("Regulátor NEPRIPOJEN")));
#endif
    // "emptywindow 802x575": the window at a given size. Its pixels are held in memory, so beside
    // the program the fair reference has the program's size.
    int width = 0, height = 0;
    if (argc > 1 && std::sscanf(argv[1], "%dx%d", &width, &height) == 2 && width > 0 && height > 0)
        window.setFixedSize(width, height);
    InstallShownHook(&window);
    window.show();
    return app.exec();
}
