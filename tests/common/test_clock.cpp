// Virtual time: the order and count of timer events that the protocol tests rely on.
#include "common/clock.h"

#include <gtest/gtest.h>

#include <string>

TEST(VirtualClock, RepeatingTimerFiresOncePerInterval)
{
    VirtualClock clock;
    auto timer = clock.CreateTimer();
    std::vector<int64_t> at;
    timer->SetInterval(100);
    timer->SetOnTimer([&] { at.push_back(clock.Now()); });
    clock.Advance(1000);
    EXPECT_TRUE(at.empty()) << "a timer starts disabled";

    timer->Start();
    clock.Advance(350);
    EXPECT_EQ(at, (std::vector<int64_t>{1100, 1200, 1300}));
    EXPECT_EQ(clock.Now(), 1350);

    // Enabling a running timer restarts its interval.
    timer->Start();
    clock.Advance(99);
    EXPECT_EQ(at.size(), 3u);
    clock.Advance(1);
    EXPECT_EQ(at.back(), 1450);

    timer->Stop();
    clock.Advance(1000);
    EXPECT_EQ(at.size(), 4u);
}

TEST(VirtualClock, HandlerCanStopOrDestroyItsOwnTimer)
{
    VirtualClock clock;
    auto stopper = clock.CreateTimer();
    int stopped = 0;
    stopper->SetInterval(10);
    stopper->SetOnTimer([&] {
        ++stopped;
        stopper->Stop();
    });
    stopper->Start();

    auto doomed = clock.CreateTimer();
    int destroyed = 0;
    doomed->SetInterval(10);
    doomed->SetOnTimer([&] {
        ++destroyed;
        doomed.reset();
    });
    doomed->Start();

    clock.Advance(100);
    EXPECT_EQ(stopped, 1);
    EXPECT_FALSE(stopper->Enabled());
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(doomed, nullptr);
}

TEST(VirtualClock, AfterRunsOnceAndDroppedTokensCancel)
{
    VirtualClock clock;
    int kept = 0, dropped = 0, reset = 0;
    auto keep = clock.After(50, [&] { ++kept; });
    {
        auto gone = clock.After(50, [&] { ++dropped; });
    }
    auto cancelled = clock.After(50, [&] { ++reset; });
    cancelled.reset();

    clock.Advance(49);
    EXPECT_EQ(kept, 0);
    clock.Advance(1000);
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(reset, 0);
}

TEST(VirtualClock, EventsDueTogetherFireInTheOrderTheyWereArmed)
{
    VirtualClock clock;
    std::string order;
    auto t1 = clock.CreateTimer();
    auto t2 = clock.CreateTimer();
    t2->SetInterval(20);
    t2->SetOnTimer([&] { order += "B"; });
    t1->SetInterval(20);
    t1->SetOnTimer([&] { order += "A"; });
    t2->Start(); // armed first although created second
    auto once = clock.After(20, [&] { order += "C"; });
    t1->Start();
    clock.Advance(40);
    EXPECT_EQ(order, "BCABA");
}

TEST(VirtualClock, HandlersSeeTheirOwnDueTimeAndCanArmOthers)
{
    VirtualClock clock;
    std::vector<std::pair<char, int64_t>> seen;
    IClock::Token chained;
    auto timer = clock.CreateTimer();
    timer->SetInterval(30);
    timer->SetOnTimer([&] {
        seen.emplace_back('T', clock.Now());
        chained = clock.After(5, [&] { seen.emplace_back('A', clock.Now()); });
    });
    timer->Start();
    clock.Advance(65);
    EXPECT_EQ(seen,
              (std::vector<std::pair<char, int64_t>>{{'T', 30}, {'A', 35}, {'T', 60}, {'A', 65}}));

    // Step goes to the next event only.
    EXPECT_TRUE(clock.Step(1000));
    EXPECT_EQ(clock.Now(), 90);
    EXPECT_FALSE(clock.Step(3));
    EXPECT_EQ(clock.Now(), 93);

    EXPECT_TRUE(clock.AdvanceUntil([&] { return seen.size() == 6; }, 1000));
    EXPECT_EQ(clock.Now(), 95);
    EXPECT_FALSE(clock.AdvanceUntil([] { return false; }, 50));
    EXPECT_EQ(clock.Now(), 145);
}
