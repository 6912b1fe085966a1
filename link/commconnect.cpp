#include "link/commconnect.h"

#include "link/lineconfig.h"
#include "link/linespeed.h"
#include "link/portname.h"
#include "link/threadwake.h"

#include <QFile>
#include <QObject>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct EventBit {
    TCommEventType event;
    uint32_t bit;
};
constexpr EventBit kEventBits[] = {
    {evBreak, EV_BREAK},   {evCts, EV_CTS},       {evDsr, EV_DSR},
    {evError, EV_ERR},     {evRing, EV_RING},     {evRlsd, EV_RLSD},
    {evRxChar, EV_RXCHAR}, {evRxFlag, EV_RXFLAG}, {evTxEmpty, EV_TXEMPTY}};

constexpr int kBaudrates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                              19200, 38400, 56000, 57600, 115200, 128000, 256000};

constexpr uint32_t kOptionFlags[] = {0x0002, 0x0040, 0x0080, 0x0400, 0x0800};

// strerror_r comes in two flavours; both are handled so the build does not depend on which.
[[maybe_unused]] const char* PickMessage(const char* result, const char*) { return result; }
[[maybe_unused]] const char* PickMessage(int result, const char* buffer)
{
    return result == 0 ? buffer : nullptr;
}

QString FormatComError(int code, const QString& operation)
{
    return QStringLiteral("Error %1 %2 in function: %3")
        .arg(QString::number(code), SystemErrorMessage(code), operation);
}

// Queue sizes and counts arrive as int; a byte string longer than that is cut, not wrapped.
int ClampToInt(qsizetype n) { return static_cast<int>(std::min<qsizetype>(n, INT_MAX)); }

} // namespace

uint32_t CommEventMaskBit(TCommEventType event)
{
    for (const EventBit& e : kEventBits)
        if (e.event == event)
            return e.bit;
    return 0;
}

uint32_t CommEventMask(TCommEventTypes events)
{
    uint32_t mask = 0;
    for (const EventBit& e : kEventBits)
        if (events.Contains(e.event))
            mask |= e.bit;
    return mask;
}

int BaudrateValue(TBaudrate rate)
{
    const auto i = static_cast<size_t>(rate);
    return i < std::size(kBaudrates) ? kBaudrates[i] : 0;
}

uint32_t CommOptionFlag(TCommOption option)
{
    const auto i = static_cast<size_t>(option);
    return i < std::size(kOptionFlags) ? kOptionFlags[i] : 0;
}

QString SystemErrorMessage(int code)
{
    char buffer[256] = {};
    const char* text = PickMessage(strerror_r(code, buffer, sizeof buffer), buffer);
    QString message =
        text ? QString::fromLocal8Bit(text) : QStringLiteral("Unknown error %1").arg(code);
    while (!message.isEmpty() && (message.back() == u'.' || message.back().isSpace()))
        message.chop(1);
    return message;
}

EComError::EComError(int code, const QString& operation)
    : EConnectError(FormatComError(code, operation)), code_(code), operation_(operation)
{
}

// ---------------------------------------------------------------------------------------------
// TCommunicationConnection

int TCommunicationConnection::SendString(const QByteArray& bytes)
{
    Log(1, bytes);
    return Write(bytes.constData(), ClampToInt(bytes.size()));
}

void TCommunicationConnection::ReadString(int count, QByteArray& bytes)
{
    bytes.resize(std::max(count, 0));
    const int got = bytes.isEmpty() ? 0 : Read(bytes.data(), ClampToInt(bytes.size()));
    bytes.resize(std::max(got, 0));
    Log(2, bytes);
}

void TCommunicationConnection::RaiseError(const QString& operation) const
{
    RaiseError(operation, errno);
}

void TCommunicationConnection::RaiseError(const QString& operation, int code) const
{
    throw EComError(code, operation);
}

void TCommunicationConnection::DoRxChar(int count)
{
    if (OnRxChar)
        OnRxChar(this, count);
}

// ---------------------------------------------------------------------------------------------
// TCommHandle

TCommHandle::TCommHandle() : syncTarget_(TCommEventThread::MakeSyncTarget(this)) {}

TCommHandle::~TCommHandle()
{
    DestroyConnection();
    for (const auto& thread : abandonedThreads_)
        TCommEventThread::WaitFinished(thread);
    if (handle_ >= 0) {
        ::close(handle_); // adopted but never opened
        handle_ = -1;
    }
}

void TCommHandle::SetHandle(int fd)
{
    CheckInactive();
    if (handle_ >= 0 && handle_ != fd)
        ::close(handle_);
    handle_ = fd;
}

template <typename T> void TCommHandle::ChangeLineSetting(T& field, T value)
{
    if (field == value)
        return;
    const T old = field;
    field = value;
    if (!Active())
        return;
    try {
        ApplySettings();
    } catch (...) {
        field = old;
        try {
            ApplySettings();
        } catch (...) {
            // The first failure is the one worth reporting.
        }
        throw;
    }
}

void TCommHandle::SetBaudrate(TBaudrate value) { ChangeLineSetting(line_.baudrate, value); }
void TCommHandle::SetParity(TParity value) { ChangeLineSetting(line_.parity, value); }
void TCommHandle::SetStopbits(TStopbits value) { ChangeLineSetting(line_.stopbits, value); }
void TCommHandle::SetDatabits(TDatabits value) { ChangeLineSetting(line_.databits, value); }
void TCommHandle::SetOptions(TCommOptions value) { ChangeLineSetting(line_.options, value); }
void TCommHandle::SetFlowControl(TFlowControl value)
{
    ChangeLineSetting(line_.flowControl, value);
}
void TCommHandle::SetXonChar(char value) { ChangeLineSetting(line_.xonChar, value); }
void TCommHandle::SetXoffChar(char value) { ChangeLineSetting(line_.xoffChar, value); }
void TCommHandle::SetErrorChar(char value) { ChangeLineSetting(errorChar_, value); }
void TCommHandle::SetEofChar(char value) { ChangeLineSetting(eofChar_, value); }
void TCommHandle::SetEvtChar(char value) { ChangeLineSetting(evtChar_, value); }

void TCommHandle::SetReadBufSize(int value)
{
    CheckInactive();
    readBufSize_ = value;
}

void TCommHandle::SetWriteBufSize(int value)
{
    CheckInactive();
    writeBufSize_ = value;
}

void TCommHandle::SetMonitorEvents(TCommEventTypes value)
{
    CheckInactive();
    monitorEvents_ = value;
}

void TCommHandle::DoOpen()
{
    if (handle_ < 0)
        RaiseError(QStringLiteral("CreateFile"), EBADF);

    struct stat st {};
    if (fstat(handle_, &st) != 0 || !S_ISCHR(st.st_mode)) {
        ::close(handle_);
        handle_ = -1;
        RaiseError(QStringLiteral("GetFileType"), ENOTTY);
    }

    std::erase_if(abandonedThreads_, [](const auto& t) { return TCommEventThread::Finished(t); });
    hungUp_ = false;
    pendingErrors_ = 0;
    txPending_ = false;
    {
        std::lock_guard<std::mutex> rx(rxCountLock_);
        rxConsumed_ = 0;
    }
    eventThread_ = std::make_unique<TCommEventThread>(this, handle_, monitorEvents_);
    SetTimeouts();
    ApplySettings();
    // The driver's queue sizes are its own here; ReadBufSize and WriteBufSize stay stored.
}

void TCommHandle::DoClose()
{
    if (handle_ < 0)
        return;
    ++closeCount_;
    if (eventThread_ && eventThread_->IsCurrentThread())
        abandonedThreads_.push_back(eventThread_->SharedState());
    eventThread_.reset();
    std::lock_guard<std::recursive_mutex> io(ioLock_);
    // Discarding the queues first also keeps close() from waiting for output that cannot drain.
    tcflush(handle_, TCIOFLUSH);
    ::close(handle_);
    handle_ = -1;
    hungUp_ = false;
}

void TCommHandle::DoAfterOpen()
{
    // Active is true now: events may flow.
    if (eventThread_)
        eventThread_->Release();
    TCommunicationConnection::DoAfterOpen();
}

void TCommHandle::SetTimeouts()
{
    // A read returns at once with what the driver holds: non-blocking descriptor, VMIN = VTIME = 0.
    const int flags = fcntl(handle_, F_GETFL);
    if (flags < 0 || fcntl(handle_, F_SETFL, flags | O_NONBLOCK) != 0) {
        const int err = errno;
        RaiseError(QStringLiteral("SetCommTimeouts"), err);
    }
    termios t{};
    if (tcgetattr(handle_, &t) != 0) {
        const int err = errno;
        RaiseError(QStringLiteral("SetCommTimeouts"), err);
    }
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(handle_, TCSANOW, &t) != 0) {
        const int err = errno;
        RaiseError(QStringLiteral("SetCommTimeouts"), err);
    }
}

void TCommHandle::ApplySettings()
{
    termios t{};
    // A failure here shows again, with its code, in tcsetattr below.
    (void)tcgetattr(handle_, &t);
    const TComposedLine line = ComposeTermios(line_, t);
    if (line.error != 0)
        RaiseError(QStringLiteral("SetCommState"), line.error);
    if (tcsetattr(handle_, TCSANOW, &t) != 0) {
        const int err = errno;
        RaiseError(QStringLiteral("SetCommState"), err);
    }
    if (line.customSpeed != 0 && !SetCustomLineSpeed(handle_, line.customSpeed)) {
        const int err = errno;
        RaiseError(QStringLiteral("SetCommState"), err);
    }
    if (line.lowerDtrRts) {
        // A pseudo-terminal has no modem lines; failing to lower them is no failure.
        int bits = TIOCM_DTR | TIOCM_RTS;
        (void)ioctl(handle_, TIOCMBIC, &bits);
    }
}

int TCommHandle::InQueCount()
{
    if (handle_ < 0)
        return -1;
    int queued = 0;
    if (ioctl(handle_, FIONREAD, &queued) != 0)
        return 0;
    return queued;
}

void TCommHandle::PurgeIn()
{
    if (handle_ < 0)
        return;
    std::lock_guard<std::mutex> rx(rxCountLock_);
    int queued = 0;
    if (ioctl(handle_, FIONREAD, &queued) != 0)
        queued = 0;
    tcflush(handle_, TCIFLUSH);
    // Discarded bytes count as taken, so the event thread does not mistake the drop for news.
    rxConsumed_ += static_cast<uint64_t>(std::max(queued, 0));
}

void TCommHandle::PurgeOut()
{
    if (handle_ < 0)
        return;
    tcflush(handle_, TCOFLUSH);
}

uint64_t TCommHandle::ReceivedTotal(int* queued)
{
    std::lock_guard<std::mutex> rx(rxCountLock_);
    int q = 0;
    if (handle_ < 0 || ioctl(handle_, FIONREAD, &q) != 0 || q < 0)
        q = 0;
    if (queued)
        *queued = q;
    return rxConsumed_ + static_cast<uint64_t>(q);
}

void TCommHandle::NoteHangUp()
{
    hungUp_ = true;
    pendingErrors_.fetch_or(CE_IOE);
}

int TCommHandle::Read(char* buffer, int count)
{
    std::lock_guard<std::recursive_mutex> io(ioLock_);
    if (handle_ < 0)
        RaiseError(QStringLiteral("ReadFile"), EBADF);
    if (count <= 0 || buffer == nullptr)
        return 0;
    for (;;) {
        std::lock_guard<std::mutex> rx(rxCountLock_);
        const ssize_t n = ::read(handle_, buffer, static_cast<size_t>(count));
        if (n >= 0) {
            rxConsumed_ += static_cast<uint64_t>(n);
            return static_cast<int>(n);
        }
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err == EAGAIN || err == EWOULDBLOCK)
            return 0;
        if (err == EIO) {
            // The line is gone; the event thread reports it, the protocol's time-outs take over.
            NoteHangUp();
            return 0;
        }
        RaiseError(QStringLiteral("ReadFile"), err);
    }
}

int TCommHandle::Write(const char* buffer, int count)
{
    using Clock = std::chrono::steady_clock;
    std::lock_guard<std::recursive_mutex> io(ioLock_);
    if (handle_ < 0)
        RaiseError(QStringLiteral("WriteFile"), EBADF);
    if (count <= 0 || buffer == nullptr)
        return 0;
    if (hungUp_)
        RaiseError(QStringLiteral("WriteFile"), EIO);

    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(writeTimeout_, 0));
    int done = 0;
    while (done < count) {
        const ssize_t n = ::write(handle_, buffer + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0) {
            const int err = errno;
            if (err == EINTR)
                continue;
            if (err != EAGAIN && err != EWOULDBLOCK) {
                if (err == EIO)
                    NoteHangUp();
                RaiseError(QStringLiteral("WriteFile"), err);
            }
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{handle_, POLLOUT, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), INT_MAX)));
        if (r < 0 && errno != EINTR) {
            const int err = errno;
            RaiseError(QStringLiteral("WriteFile"), err);
        }
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            NoteHangUp();
            RaiseError(QStringLiteral("WriteFile"), EIO);
        }
    }
    if (done < count) {
        // Given up: what is still queued is dropped so that no stale command goes out later.
        tcflush(handle_, TCOFLUSH);
        return 0;
    }
    txPending_ = true;
    if (eventThread_)
        eventThread_->Wake();
    return done;
}

void TCommHandle::HandleEvents(uint32_t mask)
{
    if (handle_ < 0)
        return;
    const int errors = static_cast<int>(pendingErrors_.exchange(0));
    const int queued = InQueCount();
    // A handler may close the port, or close and reopen it; the rest of this mask belongs to
    // the line that is gone.
    const uint64_t closeCount = closeCount_.load();
    auto same = [&] { return handle_ >= 0 && closeCount_.load() == closeCount; };
    auto fire = [&](uint32_t bit, const TCommNotifyEvent& handler) {
        if ((mask & bit) && handler && same())
            handler(this);
    };
    fire(EV_BREAK, OnBreak);
    fire(EV_CTS, OnCts);
    fire(EV_DSR, OnDsr);
    if ((mask & EV_ERR) && OnError && same())
        OnError(this, errors);
    fire(EV_RING, OnRing);
    fire(EV_RLSD, OnRlsd);
    if ((mask & EV_RXCHAR) && queued > 0 && same())
        DoRxChar(queued);
    fire(EV_RXFLAG, OnRxFlag);
    fire(EV_TXEMPTY, OnTxEmpty);
}

// ---------------------------------------------------------------------------------------------
// TComm

TComm::TComm() = default;

TComm::~TComm()
{
    // Here, while TComm::DoClose still exists, so that the exclusive claim is released.
    DestroyConnection();
}

void TComm::SetDeviceName(const QString& name)
{
    CheckInactive();
    deviceName_ = name;
}

void TComm::DoOpen()
{
    const QString path = DevicePathForPortName(deviceName_);
    if (path.isEmpty())
        RaiseError(QStringLiteral("CreateFile"), ENOENT);
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        RaiseError(QStringLiteral("CreateFile"), err);
    }
    // Exclusive use. TIOCEXCL keeps out other openers but not the superuser; the lock keeps out
    // every program that asks for it, including a second instance of this one.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        RaiseError(QStringLiteral("CreateFile"), err == EWOULDBLOCK ? EBUSY : err);
    }
    (void)ioctl(fd, TIOCEXCL); // not a terminal: GetFileType or SetCommTimeouts will say so
    handle_ = fd;
    TCommHandle::DoOpen();
}

void TComm::DoClose()
{
    if (handle_ >= 0)
        (void)ioctl(handle_, TIOCNXCL); // the device outlives us; others may use it next
    TCommHandle::DoClose();
}
