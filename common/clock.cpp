#include "common/clock.h"

#include <QTimer>
#include <algorithm>
#include <limits>

namespace {

class QtTimer final : public ITimer {
public:
    QtTimer()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (handler_)
                handler_();
        });
    }
    void SetInterval(int ms) override { timer_.setInterval(ms); }
    int Interval() const override { return timer_.interval(); }
    void SetEnabled(bool on) override
    {
        if (on)
            timer_.start();
        else
            timer_.stop();
    }
    bool Enabled() const override { return timer_.isActive(); }
    void SetOnTimer(std::function<void()> handler) override { handler_ = std::move(handler); }

private:
    QTimer timer_;
    std::function<void()> handler_;
};

} // namespace

std::unique_ptr<ITimer> QtClock::CreateTimer() { return std::make_unique<QtTimer>(); }

IClock::Token QtClock::After(int ms, std::function<void()> fn)
{
    auto timer = std::make_shared<QTimer>();
    timer->setSingleShot(true);
    // The protocol's pauses are short and each one lies on the line's critical path: a coarse
    // timer may fire 5 % late (35 ms of a 700 ms pause).
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer.get(), &QTimer::timeout, std::move(fn));
    timer->start(ms);
    return timer;
}

// ---- virtual time -------------------------------------------------------------------------------

struct VirtualClock::Entry {
    int64_t due = 0;
    uint64_t seq = 0; // order among entries due at the same moment
    bool armed = false;
    bool repeat = false;
    int interval = 0;
    std::function<void()> fn;
};

class VirtualTimer final : public ITimer {
public:
    explicit VirtualTimer(VirtualClock* clock) : clock_(clock), live_(clock->live_)
    {
        live_->push_back(&entry_);
        entry_.repeat = true;
    }
    ~VirtualTimer() override
    {
        auto& v = *live_;
        v.erase(std::remove(v.begin(), v.end(), &entry_), v.end());
    }
    void SetInterval(int ms) override
    {
        entry_.interval = ms;
        if (entry_.armed)
            Arm();
    }
    int Interval() const override { return entry_.interval; }
    void SetEnabled(bool on) override
    {
        if (on)
            Arm();
        else
            entry_.armed = false;
    }
    bool Enabled() const override { return entry_.armed; }
    void SetOnTimer(std::function<void()> handler) override { entry_.fn = std::move(handler); }

private:
    void Arm()
    {
        entry_.armed = true;
        // A zero or 1 ms interval still takes a tick of time, as a real timer does.
        entry_.due = clock_->now_ + std::max(entry_.interval, 1);
        entry_.seq = clock_->seq_++;
    }
    VirtualClock* clock_;
    std::shared_ptr<std::vector<VirtualClock::Entry*>> live_;
    VirtualClock::Entry entry_;
};

VirtualClock::VirtualClock() : live_(std::make_shared<std::vector<Entry*>>()) {}
VirtualClock::~VirtualClock() = default;

std::unique_ptr<ITimer> VirtualClock::CreateTimer() { return std::make_unique<VirtualTimer>(this); }

IClock::Token VirtualClock::After(int ms, std::function<void()> fn)
{
    auto t = std::make_shared<VirtualTimer>(this);
    VirtualTimer* raw = t.get();
    std::weak_ptr<VirtualTimer> weak = t;
    raw->SetInterval(ms);
    raw->SetOnTimer([weak, fn = std::move(fn)] {
        if (auto self = weak.lock()) {
            self->Stop();
            fn();
        }
    });
    raw->Start();
    return t;
}

VirtualClock::Entry* VirtualClock::NextDue(int64_t until) const
{
    Entry* best = nullptr;
    for (Entry* e : *live_) {
        if (!e->armed || e->due > until)
            continue;
        if (!best || e->due < best->due || (e->due == best->due && e->seq < best->seq))
            best = e;
    }
    return best;
}

void VirtualClock::Fire(Entry* e)
{
    now_ = std::max(now_, e->due);
    // Re-arm before the handler so that a handler which stops the timer wins.
    e->due = now_ + std::max(e->interval, 1);
    e->seq = seq_++;
    auto fn = e->fn; // the handler may destroy the timer that owns e
    if (fn)
        fn();
}

bool VirtualClock::Step(int64_t max_ms)
{
    Entry* e = NextDue(now_ + max_ms);
    if (!e) {
        now_ += max_ms;
        return false;
    }
    Fire(e);
    return true;
}

void VirtualClock::Advance(int64_t ms)
{
    const int64_t until = now_ + ms;
    while (Entry* e = NextDue(until))
        Fire(e);
    now_ = until;
}

bool VirtualClock::AdvanceUntil(const std::function<bool()>& pred, int64_t limit_ms,
                                int64_t step_ms)
{
    const int64_t until = now_ + limit_ms;
    while (!pred()) {
        if (now_ >= until)
            return false;
        Advance(std::min(step_ms, until - now_));
    }
    return true;
}
