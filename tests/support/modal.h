#pragma once
// Modal windows in tests: what runs while one is up, without a hang when none comes.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

// Runs fn on the window of kind D that the next modal loop shows, and closes it if fn left it
// open. A window that never comes is a failure, not a hang.
template <class D> void WhenShown(std::function<void(D&)> fn)
{
    QTimer::singleShot(0, [fn] {
        D* shown = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<D*>(w); d && d->isVisible())
                shown = d;
        if (!shown) {
            ADD_FAILURE() << "the window was not shown";
            return;
        }
        fn(*shown);
        if (shown->isVisible())
            shown->reject();
    });
}
