#pragma once
// For the start-up benchmark (bench/bench_proc): with KORVALINEX_SHOWN_HOOK set in the
// environment, the first paint event that reaches the top-level window is announced on stdout as
// "shown <CLOCK_MONOTONIC nanoseconds>". The program and the empty reference window use the same
// hook, so both are timed to the same point.

#include <QEvent>
#include <QObject>
#include <QWidget>
#include <cstdio>
#include <ctime>

inline void InstallShownHook(QWidget* window)
{
    if (qEnvironmentVariableIsEmpty("KORVALINEX_SHOWN_HOOK"))
        return;
    class Hook final : public QObject {
    public:
        using QObject::QObject;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Paint && !done_) {
                done_ = true;
                timespec ts{};
                clock_gettime(CLOCK_MONOTONIC, &ts);
                std::printf("shown %lld\n",
                            static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
                std::fflush(stdout);
                watched->removeEventFilter(this);
            }
            return false;
        }

    private:
        bool done_ = false;
    };
    window->installEventFilter(new Hook(window));
}
