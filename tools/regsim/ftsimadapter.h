#pragma once
// Simulated FTDI adapters behind the FT_* functions, with the regulator simulator on their serial
// side. For the tests of the USB link and for the demo program without hardware. Adapters can be
// unplugged and plugged in again; every byte the PC sends is recorded with the line settings in
// force when it went out. Optionally paced at the line's speed. Thread-safe: a read may block on
// one thread while other calls come from another.

#include "link/ftd2xx.h"
#include "tools/regsim/regulator.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace regsim {

// Time as the simulated adapters see it, in microseconds.
class FtSimClock {
public:
    virtual ~FtSimClock() = default;
    virtual int64_t NowUs() = 0;
    // Returns at untilUs at the latest, or earlier when cv is notified.
    virtual void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                           int64_t untilUs) = 0;
};

// Real time: waits really wait.
class FtSimSteadyClock final : public FtSimClock {
public:
    int64_t NowUs() override;
    void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   int64_t untilUs) override;
};

// Virtual time for tests on one thread: now is the test clock's time plus whatever reads have
// waited since it last moved; a wait only moves that offset.
class FtSimVirtualClock final : public FtSimClock {
public:
    explicit FtSimVirtualClock(std::function<int64_t()> baseUs) : base_(std::move(baseUs)) {}
    int64_t NowUs() override;
    void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   int64_t untilUs) override;

private:
    std::function<int64_t()> base_;
    int64_t lastBase_ = 0;
    int64_t waited_ = 0;
    int64_t last_ = 0;
};

// One byte the PC sent, and the line settings it went out with.
struct SentByte {
    uint8_t byte = 0;
    uint32_t baud = 0;
    uint8_t wordLength = 0;
    uint8_t stopBits = 0; // FT_STOP_BITS codes: 0 one, 2 two
    uint8_t parity = 0;
    int write = 0; // which FT_Write call of the adapter it came with, from 1
};

class FtSimAdapters final : public IFtDriver {
public:
    // clock: nullptr for real time.
    explicit FtSimAdapters(FtSimClock* clock = nullptr);
    ~FtSimAdapters() override;

    // Adds a plugged-in adapter with reg on its serial side (nullptr: nothing answers). Returns
    // its number for the calls below; adapters are listed in the order they were added.
    int AddAdapter(const std::string& serialNo, const std::string& description, Regulator* reg);
    void Unplug(int adapter);
    void Plug(int adapter);
    bool Plugged(int adapter) const;
    // The user may not open this adapter (its device node's permissions).
    void SetPermissionDenied(int adapter, bool denied);
    // Bytes go out and come back at the line's speed (start bit, data bits, parity, stop bits).
    void SetPaced(bool paced);
    // Replies come in pieces of this many bytes with gapMs between them (0: whole).
    void SetReplyPieces(size_t pieceSize, int gapMs);
    // Bytes that have come into the chip but not yet over the USB: the queue status does not count
    // them, the next read returns them first, a reset or a receive purge drops them.
    void HoldInChip(int adapter, const Bytes& bytes);
    // The next count reads fail with an I/O error (the adapter stays plugged in).
    void FailReads(int adapter, int count);

    std::vector<SentByte> Sent(int adapter) const;
    void ClearSent(int adapter);
    int ReadCalls() const;
    int OpenCalls() const;

    // IFtDriver
    FT_STATUS ListDevices(PVOID pArg1, PVOID pArg2, DWORD flags) override;
    FT_STATUS Open(int deviceNumber, FT_HANDLE* handle) override;
    FT_STATUS Close(FT_HANDLE h) override;
    FT_STATUS ResetDevice(FT_HANDLE h) override;
    FT_STATUS SetBaudRate(FT_HANDLE h, ULONG baud) override;
    FT_STATUS SetDataCharacteristics(FT_HANDLE h, UCHAR wordLength, UCHAR stopBits,
                                     UCHAR parity) override;
    FT_STATUS SetFlowControl(FT_HANDLE h, USHORT mode, UCHAR xon, UCHAR xoff) override;
    FT_STATUS SetChars(FT_HANDLE h, UCHAR eventChar, UCHAR eventEnabled, UCHAR errorChar,
                       UCHAR errorEnabled) override;
    FT_STATUS SetTimeouts(FT_HANDLE h, ULONG readMs, ULONG writeMs) override;
    FT_STATUS GetQueueStatus(FT_HANDLE h, DWORD* rxBytes) override;
    FT_STATUS Write(FT_HANDLE h, LPVOID buffer, DWORD count, LPDWORD written) override;
    FT_STATUS Read(FT_HANDLE h, LPVOID buffer, DWORD count, LPDWORD received) override;
    FT_STATUS Purge(FT_HANDLE h, ULONG mask) override;
    const char* LastErrorDetail() const override;
    FtOpenFailure LastOpenFailure() const override;

private:
    struct Adapter;
    struct Incoming {
        uint8_t byte;
        int64_t atUs; // when it has arrived in the chip
    };
    // The open adapter behind a handle, or nullptr (unknown, closed, or unplugged since).
    Adapter* Live(FT_HANDLE h);
    std::vector<Adapter*> PluggedList();
    int Number(const Adapter* a) const; // as AddAdapter returned it
    void Deny(int number);              // the open failure of a denied adapter
    int64_t ByteTimeUs(const Adapter& a) const;

    FtSimClock* clock_;
    std::unique_ptr<FtSimClock> ownClock_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Adapter>> adapters_;
    bool paced_ = false;
    size_t pieceSize_ = 0;
    int pieceGapMs_ = 0;
    int readCalls_ = 0;
    int openCalls_ = 0;
    struct HandleRecord {
        int adapter;
        int generation;
    };
    std::map<FT_HANDLE, HandleRecord> handles_; // closed handles are gone, stale ones stay known
    uintptr_t nextHandle_ = 0x1000;
    std::string detail_;
    FtOpenFailure failure_ = FtOpenFailure::None;
};

} // namespace regsim
