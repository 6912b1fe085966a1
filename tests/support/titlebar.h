#pragma once
// The text the window system shows in a window's title bar. Qt hands the platform the title of the
// top-level window; the platform's windows (xcb, Wayland, ...) append the application's display
// name to it, after " — ", whenever the program has set one and the title does not already end
// with it. The offscreen platform of the tests shows no title bar, so the rule is applied here.

#include <QGuiApplication>
#include <QString>
#include <QWidget>
#include <QWindow>

inline bool ApplicationHasDisplayName()
{
    // Unset, the display name follows the application's name; set, it stays put.
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(name + QStringLiteral("#probe"));
    const bool set =
        QGuiApplication::applicationDisplayName() != QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(name);
    return set;
}

inline QString TitleBarText(const QWidget* w)
{
    const QWidget* top = w->window();
    const QString title = top->windowHandle() ? top->windowHandle()->title() : top->windowTitle();
    if (!ApplicationHasDisplayName())
        return title.isEmpty() ? QCoreApplication::applicationName() : title;
    const QString displayName = QGuiApplication::applicationDisplayName();
    if (title.endsWith(displayName))
        return title;
    return title.isEmpty() ? displayName : title + QString::fromUtf8(" \u2014 ") + displayName;
}
