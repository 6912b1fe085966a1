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

inline long long ShownHookNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The first thing main() does: "main <ns>", so that the benchmark can tell the time the loader
// takes (the libraries and their initialisers) from the time the program's own start takes.
inline void AnnounceMainEntered()
{
    if (qEnvironmentVariableIsEmpty("KORVALINEX_SHOWN_HOOK"))
        return;
    std::printf("main %lld\n", ShownHookNow());
    std::fflush(stdout);
}

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
                std::printf("shown %lld\n", ShownHookNow());
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
