#pragma once
// The one way tests wait for something that real threads, real I/O or other processes bring about:
// the event loop runs (so queued hand-offs are served) until the condition holds. The limit only
// bounds a failure; a passing test never waits for it.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

constexpr int kPumpLimitMs = 20000;

// Runs the event loop until pred holds; false when the limit passed first. Between checks the loop
// sleeps until an event comes, or at most a millisecond for a condition another thread changes
// without posting anything.
inline bool PumpUntil(const std::function<bool()>& pred, int limitMs = kPumpLimitMs)
{
    const QDeadlineTimer deadline(limitMs);
    QTimer tick;
    tick.start(1);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Keeps the event loop running for ms of wall time: only for measuring what a thread does over a
// stretch of time, never to hope that something has happened by its end.
inline void PumpFor(int ms)
{
    PumpUntil([] { return false; }, ms);
}
