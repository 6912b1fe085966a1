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
    : EConnectError(FormatComError(code, operation)), FCode(code), FOperation(operation)
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

TCommHandle::TCommHandle() : FSyncTarget(TCommEventThread::MakeSyncTarget(this)) {}

TCommHandle::~TCommHandle()
{
    DestroyConnection();
    for (const auto& thread : FAbandonedThreads)
        TCommEventThread::WaitFinished(thread);
    if (FHandle >= 0) {
        ::close(FHandle); // adopted but never opened
        FHandle = -1;
    }
}

void TCommHandle::SetHandle(int fd)
{
    CheckInactive();
    if (FHandle >= 0 && FHandle != fd)
        ::close(FHandle);
    FHandle = fd;
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

void TCommHandle::SetBaudrate(TBaudrate value) { ChangeLineSetting(FBaudrate, value); }
void TCommHandle::SetParity(TParity value) { ChangeLineSetting(FParity, value); }
void TCommHandle::SetStopbits(TStopbits value) { ChangeLineSetting(FStopbits, value); }
void TCommHandle::SetDatabits(TDatabits value) { ChangeLineSetting(FDatabits, value); }
void TCommHandle::SetOptions(TCommOptions value) { ChangeLineSetting(FOptions, value); }
void TCommHandle::SetFlowControl(TFlowControl value) { ChangeLineSetting(FFlowControl, value); }
void TCommHandle::SetXonChar(char value) { ChangeLineSetting(FXonChar, value); }
void TCommHandle::SetXoffChar(char value) { ChangeLineSetting(FXoffChar, value); }
void TCommHandle::SetErrorChar(char value) { ChangeLineSetting(FErrorChar, value); }
void TCommHandle::SetEofChar(char value) { ChangeLineSetting(FEofChar, value); }
void TCommHandle::SetEvtChar(char value) { ChangeLineSetting(FEvtChar, value); }

void TCommHandle::SetReadBufSize(int value)
{
    CheckInactive();
    FReadBufSize = value;
}

void TCommHandle::SetWriteBufSize(int value)
{
    CheckInactive();
    FWriteBufSize = value;
}

void TCommHandle::SetMonitorEvents(TCommEventTypes value)
{
    CheckInactive();
    FMonitorEvents = value;
}

void TCommHandle::DoOpen()
{
    if (FHandle < 0)
        RaiseError(QStringLiteral("CreateFile"), EBADF);

    struct stat st {};
    if (fstat(FHandle, &st) != 0 || !S_ISCHR(st.st_mode)) {
        ::close(FHandle);
        FHandle = -1;
        RaiseError(QStringLiteral("GetFileType"), ENOTTY);
    }

    std::erase_if(FAbandonedThreads, [](const auto& t) { return TCommEventThread::Finished(t); });
    FHungUp = false;
    FPendingErrors = 0;
    FTxPending = false;
    {
        std::lock_guard<std::mutex> rx(FRxCountLock);
        FRxConsumed = 0;
    }
    FEventThread = std::make_unique<TCommEventThread>(this, FHandle, FMonitorEvents);
    SetTimeouts();
    ApplySettings();
    // The driver's queue sizes are its own here; ReadBufSize and WriteBufSize stay stored.
}

void TCommHandle::DoClose()
{
    if (FHandle < 0)
        return;
    ++FCloseCount;
    if (FEventThread && FEventThread->IsCurrentThread())
        FAbandonedThreads.push_back(FEventThread->SharedState());
    FEventThread.reset();
    std::lock_guard<std::recursive_mutex> io(FIoLock);
    // Discarding the queues first also keeps close() from waiting for output that cannot drain.
    tcflush(FHandle, TCIOFLUSH);
    ::close(FHandle);
    FHandle = -1;
    FHungUp = false;
}

void TCommHandle::DoAfterOpen()
{
    // Active is true now: events may flow.
    if (FEventThread)
        FEventThread->Release();
    TCommunicationConnection::DoAfterOpen();
}

void TCommHandle::SetTimeouts()
{
    // A read returns at once with what the driver holds: non-blocking descriptor, VMIN = VTIME = 0.
    const int flags = fcntl(FHandle, F_GETFL);
    if (flags < 0 || fcntl(FHandle, F_SETFL, flags | O_NONBLOCK) != 0) {
        const int err = errno;
        RaiseError(QStringLiteral("SetCommTimeouts"), err);
    }
    termios t{};
    if (tcgetattr(FHandle, &t) != 0) {
        const int err = errno;
        RaiseError(QStringLiteral("SetCommTimeouts"), err);
    }
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(FHandle, TCSANOW, &t) != 0) {
        const int err = errno;
        RaiseError(QStringLiteral("SetCommTimeouts"), err);
    }
}

void TCommHandle::ApplySettings()
{
    termios t{};
    // A failure here shows again, with its code, in tcsetattr below.
    (void)tcgetattr(FHandle, &t);
    TLineConfig config;
    config.Baudrate = FBaudrate;
    config.Parity = FParity;
    config.Stopbits = FStopbits;
    config.Databits = FDatabits;
    config.FlowControl = FFlowControl;
    config.Options = FOptions;
    config.XonChar = FXonChar;
    config.XoffChar = FXoffChar;
    const TComposedLine line = ComposeTermios(config, t);
    if (line.Error != 0)
        RaiseError(QStringLiteral("SetCommState"), line.Error);
    if (tcsetattr(FHandle, TCSANOW, &t) != 0) {
        const int err = errno;
        RaiseError(QStringLiteral("SetCommState"), err);
    }
    if (line.CustomSpeed != 0 && !SetCustomLineSpeed(FHandle, line.CustomSpeed)) {
        const int err = errno;
        RaiseError(QStringLiteral("SetCommState"), err);
    }
    if (line.LowerDtrRts) {
        // A pseudo-terminal has no modem lines; failing to lower them is no failure.
        int bits = TIOCM_DTR | TIOCM_RTS;
        (void)ioctl(FHandle, TIOCMBIC, &bits);
    }
}

int TCommHandle::InQueCount()
{
    if (FHandle < 0)
        return -1;
    int queued = 0;
    if (ioctl(FHandle, FIONREAD, &queued) != 0)
        return 0;
    return queued;
}

void TCommHandle::PurgeIn()
{
    if (FHandle < 0)
        return;
    std::lock_guard<std::mutex> rx(FRxCountLock);
    int queued = 0;
    if (ioctl(FHandle, FIONREAD, &queued) != 0)
        queued = 0;
    tcflush(FHandle, TCIFLUSH);
    // Discarded bytes count as taken, so the event thread does not mistake the drop for news.
    FRxConsumed += static_cast<uint64_t>(std::max(queued, 0));
}

void TCommHandle::PurgeOut()
{
    if (FHandle < 0)
        return;
    tcflush(FHandle, TCOFLUSH);
}

uint64_t TCommHandle::ReceivedTotal(int* queued)
{
    std::lock_guard<std::mutex> rx(FRxCountLock);
    int q = 0;
    if (FHandle < 0 || ioctl(FHandle, FIONREAD, &q) != 0 || q < 0)
        q = 0;
    if (queued)
        *queued = q;
    return FRxConsumed + static_cast<uint64_t>(q);
}

void TCommHandle::NoteHangUp()
{
    FHungUp = true;
    FPendingErrors.fetch_or(CE_IOE);
}

int TCommHandle::Read(char* buffer, int count)
{
    std::lock_guard<std::recursive_mutex> io(FIoLock);
    if (FHandle < 0)
        RaiseError(QStringLiteral("ReadFile"), EBADF);
    if (count <= 0 || buffer == nullptr)
        return 0;
    for (;;) {
        std::lock_guard<std::mutex> rx(FRxCountLock);
        const ssize_t n = ::read(FHandle, buffer, static_cast<size_t>(count));
        if (n >= 0) {
            FRxConsumed += static_cast<uint64_t>(n);
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
    std::lock_guard<std::recursive_mutex> io(FIoLock);
    if (FHandle < 0)
        RaiseError(QStringLiteral("WriteFile"), EBADF);
    if (count <= 0 || buffer == nullptr)
        return 0;
    if (FHungUp)
        RaiseError(QStringLiteral("WriteFile"), EIO);

    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(FWriteTimeout, 0));
    int done = 0;
    while (done < count) {
        const ssize_t n = ::write(FHandle, buffer + done, static_cast<size_t>(count - done));
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
        pollfd p{FHandle, POLLOUT, 0};
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
        tcflush(FHandle, TCOFLUSH);
        return 0;
    }
    FTxPending = true;
    if (FEventThread)
        FEventThread->Wake();
    return done;
}

void TCommHandle::HandleEvents(uint32_t mask)
{
    if (FHandle < 0)
        return;
    const int errors = static_cast<int>(FPendingErrors.exchange(0));
    const int queued = InQueCount();
    // A handler may close the port, or close and reopen it; the rest of this mask belongs to
    // the line that is gone.
    const uint64_t closeCount = FCloseCount.load();
    auto same = [&] { return FHandle >= 0 && FCloseCount.load() == closeCount; };
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
    FDeviceName = name;
}

void TComm::DoOpen()
{
    const QString path = DevicePathForPortName(FDeviceName);
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
    FHandle = fd;
    TCommHandle::DoOpen();
}

void TComm::DoClose()
{
    if (FHandle >= 0)
        (void)ioctl(FHandle, TIOCNXCL); // the device outlives us; others may use it next
    TCommHandle::DoClose();
}
