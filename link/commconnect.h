#pragma once
// Module CommConnect: the serial-port classes on POSIX terminals. A port is opened without
// blocking, configured through termios as a raw 8-bit line, and watched by one event thread that
// hands each event to the thread owning the component (the GUI thread) and waits until it has
// been handled.

#include "link/connect.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TCommHandle;
class TThreadWake;

// A set over a small enumeration, one bit per element in declaration order.
template <typename E, typename Word> class TSmallSet {
public:
    constexpr TSmallSet() = default;
    constexpr TSmallSet(std::initializer_list<E> elements)
    {
        for (E e : elements)
            bits_ |= Bit(e);
    }
    static constexpr TSmallSet FromBits(Word bits)
    {
        TSmallSet s;
        s.bits_ = bits;
        return s;
    }
    constexpr Word Bits() const { return bits_; }
    constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr TSmallSet& Include(E e)
    {
        bits_ |= Bit(e);
        return *this;
    }
    constexpr TSmallSet& Exclude(E e)
    {
        bits_ &= static_cast<Word>(~Bit(e));
        return *this;
    }
    constexpr bool operator==(const TSmallSet&) const = default;

private:
    static constexpr Word Bit(E e) { return static_cast<Word>(Word(1) << static_cast<int>(e)); }
    Word bits_ = 0;
};

// Line events and the event bits they stand for in an event mask.
enum TCommEventType : uint8_t {
    evBreak,
    evCts,
    evDsr,
    evError,
    evRing,
    evRlsd,
    evRxChar,
    evRxFlag,
    evTxEmpty
};
using TCommEventTypes = TSmallSet<TCommEventType, uint16_t>;
inline constexpr TCommEventTypes AllCommEvents{evBreak, evCts,    evDsr,    evError,  evRing,
                                               evRlsd,  evRxChar, evRxFlag, evTxEmpty};

inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;

uint32_t CommEventMaskBit(TCommEventType event);
uint32_t CommEventMask(TCommEventTypes events);

// Error bits handed to OnError.
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;
// The line is gone: adapter unplugged or the far end of a pseudo-terminal closed.
inline constexpr uint32_t CE_IOE = 0x0400;

enum TBaudrate : uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
int BaudrateValue(TBaudrate rate);

enum TParity : uint8_t { paNone = 0, paOdd = 1, paEven = 2, paMark = 3, paSpace = 4 };
// sb15 has no POSIX counterpart; it gives two stop bits, as UARTs do for 5-bit words.
enum TStopbits : uint8_t { sb10 = 0, sb15 = 1, sb20 = 2 };
enum TDatabits : uint8_t { da4 = 4, da5 = 5, da6 = 6, da7 = 7, da8 = 8 };
enum TFlowControl : uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };

enum TCommOption : uint8_t {
    coParityCheck,
    coDsrSensitivity,
    coIgnoreXOff,
    coErrorChar,
    coNullStrip
};
using TCommOptions = TSmallSet<TCommOption, uint8_t>;
// The device-control flag bit each option stands for.
uint32_t CommOptionFlag(TCommOption option);

// A failing system call: "Error <errno> <message> in function: <operation>".
class EComError : public EConnectError {
public:
    EComError(int code, const QString& operation);
    int Code() const { return code_; }
    const QString& Operation() const { return operation_; }

private:
    int code_;
    QString operation_;
};

// What the line is set to: what the driver's termios record is composed from (lineconfig.h).
struct TLineConfig {
    TBaudrate baudrate = br9600;
    TParity parity = paNone;
    TStopbits stopbits = sb10;
    TDatabits databits = da8;
    TFlowControl flowControl = fcDefault;
    TCommOptions options;
    char xonChar = 17;
    char xoffChar = 19;
};

// The system's message for an error code, without trailing dots and blanks.
QString SystemErrorMessage(int code);

using TCommRxCharEvent = std::function<void(class TCommunicationConnection* Sender, int Count)>;
using TCommNotifyEvent = std::function<void(TCommHandle* Sender)>;
using TCommErrorEvent = std::function<void(TCommHandle* Sender, int Errors)>;

class TCommunicationConnection : public TLogConnection {
public:
    virtual int InQueCount() = 0;
    virtual void PurgeIn() = 0;
    virtual void PurgeOut() = 0;
    virtual int Write(const char* buffer, int count) = 0;
    virtual int Read(char* buffer, int count) = 0;

    // Logs the bytes on channel 1, then writes them; the number written, 0 on time-out.
    int SendString(const QByteArray& bytes);
    // Reads what is there, up to count bytes, without waiting for more; logs it on channel 2.
    void ReadString(int count, QByteArray& bytes);

    bool DontSynchronize() const { return dontSynchronize_.load(); }
    void SetDontSynchronize(bool value) { dontSynchronize_.store(value); }

    [[noreturn]] void RaiseError(const QString& operation) const;
    [[noreturn]] void RaiseError(const QString& operation, int code) const;

    TCommRxCharEvent OnRxChar;

protected:
    virtual void DoRxChar(int count);

private:
    // Read by the event thread, set by the owner's thread.
    std::atomic<bool> dontSynchronize_{false};
};

// Waits for port events on behalf of one TCommHandle: poll() on the port and on a wake descriptor
// that closing signals.
class TCommEventThread {
public:
    TCommEventThread(TCommHandle* owner, int handle, TCommEventTypes events);
    // Terminates and joins; from inside a handler running on the thread itself it detaches
    // instead, and the thread leaves as soon as the handler returns.
    ~TCommEventThread();
    TCommEventThread(const TCommEventThread&) = delete;
    TCommEventThread& operator=(const TCommEventThread&) = delete;

    // The thread waits for this before it looks at the port, so that no handler runs (on the
    // thread, with DontSynchronize) while the open sequence is still under way.
    void Release();
    void Terminate();
    // Makes the thread look at the port again (after a write, for evTxEmpty).
    void Wake();
    uint32_t EventMask() const;
    std::thread::native_handle_type NativeHandle() const { return nativeHandle_; }
    bool IsCurrentThread() const { return thread_.get_id() == std::this_thread::get_id(); }

    struct State;
    std::shared_ptr<State> SharedState() const { return state_; }
    // The object in the owner's thread that hand-offs wake, and what it runs there: the handler
    // for the event mask the owner's current event thread is waiting on, if any.
    static std::unique_ptr<TThreadWake> MakeSyncTarget(TCommHandle* owner);
    static void DeliverPending(TCommHandle* owner);
    // For a thread left running by a close from its own handler: whether its body has returned,
    // and waiting for that (at once when asked on that thread itself).
    static bool Finished(const std::shared_ptr<State>& state);
    static void WaitFinished(const std::shared_ptr<State>& state);

protected:
    static void Execute(std::shared_ptr<State> state);

private:
    struct PortWatch;

    std::shared_ptr<State> state_;
    std::thread thread_;
    std::thread::native_handle_type nativeHandle_{};
};

class TCommHandle : public TCommunicationConnection {
public:
    TCommHandle();
    ~TCommHandle() override;

    // The open descriptor, -1 when closed. SetHandle adopts a descriptor opened elsewhere; the
    // component closes it with itself.
    int Handle() const { return handle_; }
    void SetHandle(int fd);

    TBaudrate Baudrate() const { return line_.baudrate; }
    void SetBaudrate(TBaudrate value);
    TParity Parity() const { return line_.parity; }
    void SetParity(TParity value);
    TStopbits Stopbits() const { return line_.stopbits; }
    void SetStopbits(TStopbits value);
    TDatabits Databits() const { return line_.databits; }
    void SetDatabits(TDatabits value);
    TCommOptions Options() const { return line_.options; }
    void SetOptions(TCommOptions value);
    TFlowControl FlowControl() const { return line_.flowControl; }
    void SetFlowControl(TFlowControl value);
    char XonChar() const { return line_.xonChar; }
    void SetXonChar(char value);
    char XoffChar() const { return line_.xoffChar; }
    void SetXoffChar(char value);
    char ErrorChar() const { return errorChar_; }
    void SetErrorChar(char value);
    char EofChar() const { return eofChar_; }
    void SetEofChar(char value);
    char EvtChar() const { return evtChar_; }
    void SetEvtChar(char value);
    int ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int ms) { readTimeout_ = ms; }
    int WriteTimeout() const { return writeTimeout_; }
    void SetWriteTimeout(int ms) { writeTimeout_ = ms; }
    int ReadBufSize() const { return readBufSize_; }
    void SetReadBufSize(int value);
    int WriteBufSize() const { return writeBufSize_; }
    void SetWriteBufSize(int value);
    TCommEventTypes MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TCommEventTypes value);

    int InQueCount() override;
    void PurgeIn() override;
    void PurgeOut() override;
    int Write(const char* buffer, int count) override;
    int Read(char* buffer, int count) override;

    virtual void ApplySettings();
    virtual void HandleEvents(uint32_t mask);

    // The I/O lock that serialises Read and Write; recursive, so a holder may call both.
    void Lock() { ioLock_.lock(); }
    void Unlock() { ioLock_.unlock(); }

    // True once the line has hung up (POLLHUP, POLLERR or EIO) until the port is closed.
    bool HungUp() const { return hungUp_.load(); }
    // The running event thread, for diagnostics; null while closed.
    const TCommEventThread* EventThread() const { return eventThread_.get(); }

    TCommNotifyEvent OnBreak;
    TCommNotifyEvent OnCts;
    TCommNotifyEvent OnDsr;
    TCommErrorEvent OnError;
    TCommNotifyEvent OnRing;
    TCommNotifyEvent OnRlsd;
    TCommNotifyEvent OnRxFlag;
    TCommNotifyEvent OnTxEmpty;

protected:
    void DoOpen() override;
    void DoClose() override;
    void DoAfterOpen() override;
    void SetTimeouts();
    // Stores a line setting and re-applies the port settings when open; the old value comes back
    // if the port refuses the new one, so the property always describes the line.
    template <typename T> void ChangeLineSetting(T& field, T value);

    int handle_ = -1;

private:
    friend class TCommEventThread;

    // Bytes received so far = bytes taken out of the input queue + bytes still in it. The event
    // thread compares it with what it has reported, so that only new bytes raise evRxChar.
    uint64_t ReceivedTotal(int* queued);
    void NoteHangUp();

    TLineConfig line_;
    int readTimeout_ = 1000;
    int writeTimeout_ = 1000;
    int readBufSize_ = 4096;
    int writeBufSize_ = 2048;
    TCommEventTypes monitorEvents_ = AllCommEvents;
    char errorChar_ = 0;
    char eofChar_ = 0;
    char evtChar_ = 0;

    std::recursive_mutex ioLock_;
    // Guards a read together with the count of bytes it took, against the event thread's count.
    std::mutex rxCountLock_;
    uint64_t rxConsumed_ = 0;
    std::atomic<uint32_t> pendingErrors_{0};
    std::atomic<bool> hungUp_{false};
    std::atomic<bool> txPending_{false};
    // Lives in the thread that created the component; queued hand-offs run there.
    std::unique_ptr<TThreadWake> syncTarget_;
    std::unique_ptr<TCommEventThread> eventThread_;
    // Event threads closed from their own handler (DontSynchronize): they finish that handler
    // on their own, and the component must outlive them.
    std::vector<std::shared_ptr<TCommEventThread::State>> abandonedThreads_;
    // Counts closes, so that HandleEvents stops when a handler closed (or reopened) the port.
    std::atomic<uint64_t> closeCount_{0};
};

class TComm : public TCommHandle {
public:
    TComm();
    ~TComm() override;

    // As the program sets it: "\\.\COM1" or a device path; DoOpen maps it to a device.
    const QString& DeviceName() const { return deviceName_; }
    void SetDeviceName(const QString& name);

protected:
    void DoOpen() override;
    void DoClose() override;

private:
    QString deviceName_ = QStringLiteral("Com2");
};
