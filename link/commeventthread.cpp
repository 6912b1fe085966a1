// The event thread of a serial port: it waits with poll() on the port and on its wake descriptor,
// turns what it sees into an event mask and hands the mask to the component's HandleEvents.

#include "link/commconnect.h"

#include "link/threadwake.h"

#include <QtGlobal>
#include <cerrno>
#include <condition_variable>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>

namespace {

// Modem lines and error counters cannot be waited for with poll(); while the device has them and
// they are watched, they are sampled at this interval. The same interval re-checks a queue that
// holds bytes nobody has read (POLLIN would only repeat itself).
constexpr int kLineSampleMs = 50;
// While a write drains, the output queue is sampled this often for evTxEmpty.
constexpr int kTxEmptySampleMs = 10;

constexpr uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD;

bool ReadModemLines(int fd, int& lines) { return ioctl(fd, TIOCMGET, &lines) == 0; }

bool ReadCounters(int fd, serial_icounter_struct& counters)
{
    return ioctl(fd, TIOCGICOUNT, &counters) == 0;
}

uint32_t ModemChanges(int before, int now)
{
    const int changed = before ^ now;
    uint32_t mask = 0;
    if (changed & TIOCM_CTS)
        mask |= EV_CTS;
    if (changed & TIOCM_DSR)
        mask |= EV_DSR;
    if (changed & TIOCM_RNG)
        mask |= EV_RING;
    if (changed & TIOCM_CAR)
        mask |= EV_RLSD;
    return mask;
}

// Line errors and breaks since the last sample, as event bits and error bits.
uint32_t CounterChanges(const serial_icounter_struct& before, const serial_icounter_struct& now,
                        uint32_t& errors)
{
    uint32_t mask = 0;
    if (now.brk != before.brk) {
        mask |= EV_BREAK;
        errors |= CE_BREAK;
    }
    if (now.frame != before.frame)
        errors |= CE_FRAME;
    if (now.overrun != before.overrun)
        errors |= CE_OVERRUN;
    if (now.parity != before.parity)
        errors |= CE_RXPARITY;
    if (now.buf_overrun != before.buf_overrun)
        errors |= CE_RXOVER;
    if (errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_RXOVER))
        mask |= EV_ERR;
    return mask;
}

void DrainWake(int fd)
{
    uint64_t value = 0;
    while (::read(fd, &value, sizeof value) > 0) {
    }
}

} // namespace

struct TCommEventThread::State {
    TCommHandle* owner = nullptr;
    int handle = -1;
    uint32_t mask = 0;
    int wakeFd = -1;
    std::atomic<bool> terminated{false};
    // Hand-offs to the owner's thread: the thread posts ticket n with its mask and waits until
    // handled == n or it is terminated. A delivery after termination is void.
    std::mutex lock;
    std::condition_variable handledChanged;
    uint64_t posted = 0;
    uint64_t handled = 0;
    uint32_t pendingMask = 0; // the mask of ticket `posted`
    uint64_t taken = 0;       // the ticket whose handler has begun (a handler may run a loop)
    bool released = false;
    bool finished = false;
    std::thread::id id;

    ~State()
    {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }
};

TCommEventThread::TCommEventThread(TCommHandle* owner, int handle, TCommEventTypes events)
    : state_(std::make_shared<State>())
{
    state_->owner = owner;
    state_->handle = handle;
    state_->mask = CommEventMask(events);
    state_->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state_->wakeFd < 0) {
        const int err = errno;
        throw EComError(err, QStringLiteral("CreateEvent"));
    }
    // The platform's thread priorities need privileges here; the thread runs at normal priority.
    try {
        thread_ = std::thread(&TCommEventThread::Execute, state_);
        nativeHandle_ = thread_.native_handle();
        state_->id = thread_.get_id();
    } catch (const std::system_error& e) {
        throw EComError(e.code().value(), QStringLiteral("CreateThread"));
    }
}

TCommEventThread::~TCommEventThread()
{
    Terminate();
    if (!thread_.joinable())
        return;
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach(); // closed from a handler on this very thread; it ends when that returns
    else
        thread_.join();
}

void TCommEventThread::Release()
{
    // Once released, a handler on the thread may close the port and delete this object at once;
    // only the shared state is touched after the unlock.
    const std::shared_ptr<State> s = state_;
    {
        std::lock_guard<std::mutex> lock(s->lock);
        s->released = true;
    }
    s->handledChanged.notify_all();
}

void TCommEventThread::Terminate()
{
    {
        std::lock_guard<std::mutex> lock(state_->lock);
        state_->terminated = true;
    }
    state_->handledChanged.notify_all();
    Wake();
}

void TCommEventThread::Wake()
{
    const uint64_t one = 1;
    (void)!::write(state_->wakeFd, &one, sizeof one);
}

uint32_t TCommEventThread::EventMask() const { return state_->mask; }

bool TCommEventThread::Finished(const std::shared_ptr<State>& state)
{
    std::lock_guard<std::mutex> lock(state->lock);
    return state->finished;
}

void TCommEventThread::WaitFinished(const std::shared_ptr<State>& state)
{
    if (state->id == std::this_thread::get_id())
        return;
    std::unique_lock<std::mutex> lock(state->lock);
    state->handledChanged.wait(lock, [&] { return state->finished; });
}

namespace {

// Runs HandleEvents where the owner wants it and returns when it has run, or when the thread is
// terminated meanwhile (closing must not wait for a GUI thread that is itself closing).
bool HandOff(const std::shared_ptr<TCommEventThread::State>& s, TThreadWake* target, uint32_t mask)
{
    TCommHandle* owner = s->owner;
    if (owner->DontSynchronize()) {
        try {
            owner->HandleEvents(mask);
        } catch (const std::exception& e) {
            // Nobody on this thread could show it; the owner's thread never sees this call.
            qWarning("Serial event handler failed: %s", e.what());
        } catch (...) {
            qWarning("Serial event handler failed");
        }
        return !s->terminated;
    }

    uint64_t ticket = 0;
    {
        std::lock_guard<std::mutex> lock(s->lock);
        if (s->terminated)
            return false;
        ticket = ++s->posted;
        s->pendingMask = mask;
    }
    // The mask stays here; the owner's thread only learns that there is something to pick up.
    target->Ring();

    std::unique_lock<std::mutex> lock(s->lock);
    s->handledChanged.wait(lock, [&] { return s->handled == ticket || s->terminated; });
    return !s->terminated;
}

} // namespace

std::unique_ptr<TThreadWake> TCommEventThread::MakeSyncTarget(TCommHandle* owner)
{
    return std::make_unique<TThreadWake>([owner] { DeliverPending(owner); });
}

void TCommEventThread::DeliverPending(TCommHandle* owner)
{
    // A wake-up may outlive the line it was posted for (closed, or closed and reopened since): it
    // then finds nothing pending, or delivers early what the new line's thread is waiting for.
    if (!owner->eventThread_)
        return;
    const std::shared_ptr<State> s = owner->eventThread_->state_;
    uint64_t ticket = 0;
    uint32_t mask = 0;
    {
        std::lock_guard<std::mutex> lock(s->lock);
        if (s->terminated || s->handled == s->posted || s->taken == s->posted)
            return;
        ticket = s->posted;
        s->taken = ticket;
        mask = s->pendingMask;
    }
    // Marks the call handled even when a handler throws on to the general error report; the
    // handler may also close the port and so end the owner's hold on the state.
    struct Done {
        const std::shared_ptr<State>& s;
        uint64_t ticket;
        ~Done()
        {
            {
                std::lock_guard<std::mutex> lock(s->lock);
                s->handled = ticket;
            }
            s->handledChanged.notify_all();
        }
    } done{s, ticket};
    owner->HandleEvents(mask);
}

namespace {

// Tells WaitFinished, whichever way the thread's body ends.
struct MarkFinished {
    TCommEventThread::State& s;
    ~MarkFinished()
    {
        {
            std::lock_guard<std::mutex> lock(s.lock);
            s.finished = true;
        }
        s.handledChanged.notify_all();
    }
};

void WaitReleased(TCommEventThread::State& s)
{
    std::unique_lock<std::mutex> lock(s.lock);
    s.handledChanged.wait(lock, [&] { return s.released || s.terminated; });
}

} // namespace

// What the event thread watches on its port and what it has seen there so far; only that thread
// touches it.
struct TCommEventThread::PortWatch {
    PortWatch(TCommHandle* owner, int fd, uint32_t watched);

    short PollEvents() const { return watchRx && !rxPending ? POLLIN : 0; }
    // How long poll() may wait; a pending "look now" is used up by asking.
    int Timeout();
    // The watched events since the last look, given what poll() said about the port.
    uint32_t Collect(short revents);
    // A handler has run: bytes that came in meanwhile are looked at without waiting.
    void AfterHandOff();
    // Once the port has hung up only the wake descriptor is watched.
    bool HungUp() const { return hungUp; }

private:
    uint32_t RxEvents();
    uint32_t ModemEvents();
    uint32_t CounterEvents();
    uint32_t TxEvents();

    TCommHandle* owner;
    const int fd;
    const uint32_t watched;
    const bool watchRx;
    int modemLines = 0;
    bool watchModem = false;
    serial_icounter_struct counters{};
    bool watchCounters = false;
    int outQueue = 0;
    bool watchTx = false;
    bool hungUp = false;
    // Bytes received up to the last report; only growth beyond it is news for evRxChar.
    uint64_t rxReported = 0;
    // Bytes wait unread: POLLIN would fire at once for ever, so the queue is sampled instead.
    bool rxPending = false;
    // New bytes came in while a handler ran: look again without waiting.
    bool lookNow = false;
};

TCommEventThread::PortWatch::PortWatch(TCommHandle* owner, int fd, uint32_t watched)
    : owner(owner), fd(fd), watched(watched), watchRx((watched & EV_RXCHAR) != 0)
{
    watchModem = (watched & kModemEvents) && ReadModemLines(fd, modemLines);
    watchCounters = (watched & (EV_BREAK | EV_ERR)) && ReadCounters(fd, counters);
    watchTx = (watched & EV_TXEMPTY) && ioctl(fd, TIOCOUTQ, &outQueue) == 0;
}

int TCommEventThread::PortWatch::Timeout()
{
    int timeout = -1;
    if (!hungUp) {
        if (watchTx && owner->txPending_)
            timeout = kTxEmptySampleMs;
        else if (watchModem || watchCounters || rxPending)
            timeout = kLineSampleMs;
        if (lookNow)
            timeout = 0;
    }
    lookNow = false;
    return timeout;
}

uint32_t TCommEventThread::PortWatch::Collect(short revents)
{
    uint32_t mask = 0;
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
        hungUp = true;
        owner->NoteHangUp();
        mask |= EV_ERR;
    }
    if (watchRx)
        mask |= RxEvents();
    if (watchModem && !hungUp)
        mask |= ModemEvents();
    if (watchCounters && !hungUp)
        mask |= CounterEvents();
    if (watchTx && owner->txPending_)
        mask |= TxEvents();
    return mask & watched;
}

uint32_t TCommEventThread::PortWatch::RxEvents()
{
    int queued = 0;
    const uint64_t total = owner->ReceivedTotal(&queued);
    rxReported = std::min(rxReported, total); // a purge raced with the count
    uint32_t mask = 0;
    if (total > rxReported) {
        mask = EV_RXCHAR;
        rxReported = total;
    }
    rxPending = queued > 0;
    return mask;
}

uint32_t TCommEventThread::PortWatch::ModemEvents()
{
    int now = 0;
    if (!ReadModemLines(fd, now))
        return 0;
    const uint32_t mask = ModemChanges(modemLines, now);
    modemLines = now;
    return mask;
}

uint32_t TCommEventThread::PortWatch::CounterEvents()
{
    serial_icounter_struct now{};
    if (!ReadCounters(fd, now))
        return 0;
    uint32_t errors = 0;
    const uint32_t mask = CounterChanges(counters, now, errors);
    owner->pendingErrors_.fetch_or(errors);
    counters = now;
    return mask;
}

uint32_t TCommEventThread::PortWatch::TxEvents()
{
    if (ioctl(fd, TIOCOUTQ, &outQueue) != 0 || outQueue != 0)
        return 0;
    owner->txPending_ = false;
    return EV_TXEMPTY;
}

void TCommEventThread::PortWatch::AfterHandOff()
{
    if (!watchRx || hungUp)
        return;
    int queued = 0;
    const uint64_t total = owner->ReceivedTotal(&queued);
    lookNow = total > rxReported;
    rxPending = queued > 0;
}

void TCommEventThread::Execute(std::shared_ptr<State> s)
{
    MarkFinished markFinished{*s};
    WaitReleased(*s);
    TCommHandle* owner = s->owner;
    TThreadWake* target = owner->syncTarget_.get();
    const int fd = s->handle;
    PortWatch port(owner, fd, s->mask);

    while (!s->terminated) {
        pollfd fds[2] = {{s->wakeFd, POLLIN, 0}, {fd, port.PollEvents(), 0}};
        const int timeout = port.Timeout();
        // After a hang-up only the wake descriptor is watched: the port would report POLLHUP
        // for ever, and the protocol's own time-outs take over from here.
        const int r = ::poll(fds, port.HungUp() ? 1 : 2, timeout);
        if (s->terminated)
            break;
        if (r < 0) {
            if (errno == EINTR)
                continue;
            if (port.HungUp())
                break; // even the wake descriptor fails: nothing left to wait for
            fds[1].revents = POLLERR;
        }
        if (fds[0].revents & POLLIN)
            DrainWake(s->wakeFd);
        if (port.HungUp())
            continue;

        const uint32_t mask = port.Collect(fds[1].revents);
        if (mask == 0)
            continue;
        if (!HandOff(s, target, mask))
            break; // closed meanwhile; the owner may be gone, so touch nothing more
        port.AfterHandOff();
    }
}
