#pragma once
// Time as the program sees it. The protocol timers, its pauses and the arrow repeat run on these
// interfaces: the program uses Qt timers, tests drive a virtual clock so that a 16 s watchdog path
// runs in microseconds and no test sleeps.

#include <QDateTime>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

// A repeating timer, the shape of the window's timer components: an interval, an enabled state and
// one handler. Enabling a running timer restarts its interval, as the platform's timers do.
class ITimer {
public:
    virtual ~ITimer() = default;
    virtual void SetInterval(int ms) = 0;
    virtual int Interval() const = 0;
    virtual void SetEnabled(bool on) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetOnTimer(std::function<void()> handler) = 0;
    void Start() { SetEnabled(true); }
    void Stop() { SetEnabled(false); }
};

// The wall clock, handed in from outside so that the core never reads it and tests fix the time.
using TimeSource = std::function<QDateTime()>;

class IClock {
public:
    virtual ~IClock() = default;
    virtual std::unique_ptr<ITimer> CreateTimer() = 0;
    // Runs fn once after ms milliseconds. The returned token cancels it when destroyed or reset;
    // keep it as long as the call may still be wanted.
    using Token = std::shared_ptr<void>;
    [[nodiscard]] virtual Token After(int ms, std::function<void()> fn) = 0;
};

// The program's clock: Qt timers on the thread that creates them (the GUI thread).
class QtClock final : public IClock {
public:
    std::unique_ptr<ITimer> CreateTimer() override;
    Token After(int ms, std::function<void()> fn) override;
};

// Virtual time for tests. Nothing moves until Advance is called; timers fire in time order, and a
// timer's handler may start, stop or create timers, which take effect at once.
class VirtualClock final : public IClock {
public:
    VirtualClock();
    ~VirtualClock() override;
    std::unique_ptr<ITimer> CreateTimer() override;
    Token After(int ms, std::function<void()> fn) override;

    int64_t Now() const { return now_; }
    // Moves time forward by ms, firing every timer that falls due on the way, in order.
    void Advance(int64_t ms);
    // Moves time to the next due event (at most max_ms ahead) and fires it; false when none is due.
    bool Step(int64_t max_ms);
    // Advances until pred() holds or limit_ms have passed; true when pred() held.
    bool AdvanceUntil(const std::function<bool()>& pred, int64_t limit_ms, int64_t step_ms = 1);

    struct Entry;

private:
    friend class VirtualTimer;
    int64_t now_ = 0;
    uint64_t seq_ = 0;
    std::shared_ptr<std::vector<Entry*>> live_;
    Entry* NextDue(int64_t until) const;
    void Fire(Entry* e);
};
