#pragma once
// The real USB link over simulated FTDI adapters, on virtual time: a receive's blocking part runs
// at once against the simulated adapters' clock, and its result comes back when the test clock
// reaches the moment the read would have ended.

#include "common/clock.h"
#include "link/usblink.h"
#include "tools/regsim/ftsimadapter.h"

#include <functional>
#include <utility>
#include <vector>

// Runs the read in place and hands its result back at the virtual moment it would have ended.
class TVirtualReadRunner final : public IUsbReadRunner {
public:
    TVirtualReadRunner(IClock& clock, regsim::FtSimClock& simClock)
        : clock_(clock), simClock_(simClock)
    {
    }
    void Run(std::function<UsbReadResult()> work, UsbReadDone done) override
    {
        if (beforeNextRead)
            std::exchange(beforeNextRead, nullptr)();
        const int64_t start = simClock_.NowUs();
        const UsbReadResult result = work();
        const int64_t tookMs = (simClock_.NowUs() - start + 999) / 1000;
        ++reads;
        lastTookMs = tookMs;
        pending_.push_back(clock_.After(int(tookMs), [done, result] { done(result); }));
    }
    void Stop() override { pending_.clear(); }
    // Runs once as the next read starts, for what happens while the read waits (outside the
    // adapters' lock, so it may unplug one).
    std::function<void()> beforeNextRead;
    int reads = 0;
    int64_t lastTookMs = 0;

private:
    IClock& clock_;
    regsim::FtSimClock& simClock_;
    std::vector<IClock::Token> pending_;
};
