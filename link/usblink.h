#pragma once
// The USB link of the main window: the ready check that finds, opens and watches the first FTDI
// adapter, sending, and receiving off the user-interface thread. Over D2XXUnit, so over whichever
// FT_* driver is installed.

#include "link/d2xxunit.h"
#include "link/usbdevices.h"
#include "protocol/transport.h"

#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

class TThreadWake;

constexpr ULONG kUsbReadTimeoutMs = 1500;
constexpr ULONG kUsbWriteTimeoutMs = 1500;
constexpr ULONG kUsbBaudRate = 600;
// A receive reads the reply in pieces no longer than this, so closing never waits on a long read.
constexpr ULONG kUsbReadSliceMs = 50;

// Runs the blocking part of a receive somewhere else and hands its result back in order.
class IUsbReadRunner {
public:
    virtual ~IUsbReadRunner() = default;
    virtual void Run(std::function<UsbReadResult()> work, UsbReadDone done) = 0;
    // Waits until no work runs; work queued but not started is dropped, results not yet handed
    // back are never handed back.
    virtual void Stop() = 0;
};

// One worker thread; results come back through the event loop of the thread that made the runner.
class TThreadReadRunner final : public IUsbReadRunner {
public:
    TThreadReadRunner();
    ~TThreadReadRunner() override;
    void Run(std::function<UsbReadResult()> work, UsbReadDone done) override;
    void Stop() override;

private:
    struct Job {
        std::function<UsbReadResult()> work;
        UsbReadDone done;
    };
    void Loop();
    // In the runner's own thread: hands the finished results back, oldest first.
    void Deliver();

    // Wakes Deliver in the runner's own thread; lives as long as the runner.
    std::unique_ptr<TThreadWake> context_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::deque<std::pair<UsbReadDone, UsbReadResult>> results_;
    bool stopping_ = false;
    std::thread thread_;
};

// What the settings dialog reads of the link: the device table, the device count and whether an
// adapter is open.
struct TUsbLinkOptions {
    // false: one read of 511 bytes that waits out the whole read time-out, as the adapter's
    // library is used traditionally. Kept for comparison.
    bool earlyEnd = true;
    IUsbReadRunner* runner = nullptr; // default: a worker thread of the link's own
    // Monotonic milliseconds for the receive's time bound; default: the steady clock.
    std::function<int64_t()> nowMs;
    // The adapter to open, by its serial number; empty: the first one listed, as the window does.
    QString serialNo;
};

class TUsbLink final : public IUsbLink, public IUsbDeviceSource {
public:
    explicit TUsbLink(IFtErrorBox* errorBox, TUsbLinkOptions options = {});
    ~TUsbLink() override;

    // IUsbLink
    bool UsbReadyCheck() override;
    void UsbSend(const QByteArray& bytes) override;
    void UsbReadAsync(int count, UsbReplyNeed need, UsbReadDone done) override;
    void UsbSetDataCharacteristics(int wordLength, int stopBits, int parity) override;
    void UsbClose() override;
    void UsbDiscardInput() override;

    // IUsbDeviceSource
    const TUsbDeviceTable& DeviceTable() const override { return table_; }
    int DeviceCount() const override { return int(unit_.deviceCount); }
    bool UsbOpen() const override { return usbOpen_; }
    void GetFTDeviceCount() override;

    // The settings dialog, which takes the listed rows while it is the active window.
    void SetDeviceList(IUsbDeviceList* list) { deviceList_ = list; }
    // The reason the last check could not open a listed adapter; kind None while it is open or
    // none is listed.
    const TUsbOpenProblem& OpenProblem() const { return problem_; }
    // Called whenever that reason changes, also when it ends.
    std::function<void(const TUsbOpenProblem&)> onOpenProblem;

    // Start-up clears the flag.
    void SetUsbOpen(bool open) { usbOpen_ = open; }
    // The serial number of the adapter that is open, as it was listed; empty while none is.
    QString OpenSerialNo() const;
    D2XXUnit& Unit() { return unit_; }

private:
    UsbReadResult ReadReply(int count, const UsbReplyNeed& need);
    // Lists the adapters; the index of the one to open, or nothing if none has the serial number
    // asked for.
    std::optional<DWORD> ListDevices();
    bool DialogActive() const { return deviceList_ && deviceList_->IsActiveWindow(); }
    void SetOpenProblem(TUsbOpenProblem problem);

    D2XXUnit unit_;
    TUsbLinkOptions options_;
    std::unique_ptr<IUsbReadRunner> ownRunner_;
    IUsbReadRunner* runner_;
    IUsbDeviceList* deviceList_ = nullptr;
    TUsbDeviceTable table_;
    bool usbOpen_ = false;
    TUsbOpenProblem problem_;
    // The unit's state is touched by the worker during a receive and by this thread otherwise;
    // the lock is held for one short call at a time.
    std::mutex unitMutex_;
    std::atomic<int> readsInFlight_{0};
    UCHAR lineStopBits_ = FT_STOP_BITS_1; // the protocol's last choice
    std::atomic<bool> closing_{false};
};
