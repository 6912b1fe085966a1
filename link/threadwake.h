#pragma once
// A wake-up for the thread that makes it: any thread may ring it, and the thread that made it runs
// the handler from its event loop. Nothing but the ring crosses threads (an eventfd watched by a
// socket notifier, not a posted event), so whatever the handler picks up must be handed over under
// the caller's own lock; the thread checkers then see every hand-over in our code.

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

class TThreadWake final : public QObject {
public:
    explicit TThreadWake(std::function<void()> handler);
    ~TThreadWake() override;
    TThreadWake(const TThreadWake&) = delete;
    TThreadWake& operator=(const TThreadWake&) = delete;

    // Any thread, any number of times: the handler runs once for all rings made before it started.
    void Ring();

private:
    void Rung();

    std::function<void()> handler_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};
