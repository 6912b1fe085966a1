#pragma once
// A disk that stops answering until the test lets it go: the file writer's thread waits here before
// its work. The wait is bounded so that a window that waited for the disk fails the test instead of
// hanging it.

#include <chrono>
#include <condition_variable>
#include <mutex>

class TDiskGate {
public:
    // The first `free` pieces of work pass; the later ones wait for Open.
    explicit TDiskGate(int free = 0) : free_(free) {}
    void Hook()
    {
        std::unique_lock lock(m_);
        if (++batches_ <= free_)
            return;
        held_ = true;
        cv_.notify_all();
        if (!cv_.wait_for(lock, std::chrono::seconds(60), [this] { return open_; }))
            timedOut_ = true;
    }
    void Open()
    {
        std::lock_guard lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    // True once the writer is waiting at the gate.
    bool WaitHeld()
    {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, std::chrono::seconds(60), [this] { return held_; });
    }
    int Batches()
    {
        std::lock_guard lock(m_);
        return batches_;
    }
    bool TimedOut()
    {
        std::lock_guard lock(m_);
        return timedOut_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    int free_;
    int batches_ = 0;
    bool held_ = false, open_ = false, timedOut_ = false;
};
