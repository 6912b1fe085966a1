#include "link/usblink.h"

#include "link/threadwake.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr UCHAR kWordLength8 = FT_BITS_8;
constexpr UCHAR kNoParity = FT_PARITY_NONE;
constexpr USHORT kNoHandshake = FT_FLOW_NONE;
// Reads of what is queued that one discard makes at most.
constexpr int kDiscardPasses = 16;

int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// ---- worker thread
// -------------------------------------------------------------------------------

TThreadReadRunner::TThreadReadRunner()
    : context_(std::make_unique<TThreadWake>([this] { Deliver(); }))
{
}

TThreadReadRunner::~TThreadReadRunner() { Stop(); }

void TThreadReadRunner::Run(std::function<UsbReadResult()> work, UsbReadDone done)
{
    // Stop and Run come from the runner's own thread only, so nobody else starts or joins the
    // worker meanwhile; a runner that was stopped starts a fresh one.
    if (!thread_.joinable())
        thread_ = std::thread(&TThreadReadRunner::Loop, this);
    std::lock_guard lock(mutex_);
    jobs_.push_back({std::move(work), std::move(done)});
    wake_.notify_one();
}

void TThreadReadRunner::Stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
        // Results not yet delivered are never delivered; their wake-ups find nothing.
        results_.clear();
        wake_.notify_one();
    }
    if (thread_.joinable())
        thread_.join();
    std::lock_guard lock(mutex_);
    stopping_ = false;
}

void TThreadReadRunner::Deliver()
{
    // One at a time: a handler may start the next receive, or stop the runner.
    for (;;) {
        std::pair<UsbReadDone, UsbReadResult> next;
        {
            std::lock_guard lock(mutex_);
            if (results_.empty())
                return;
            next = std::move(results_.front());
            results_.pop_front();
        }
        next.first(next.second);
    }
}

void TThreadReadRunner::Loop()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        UsbReadResult result;
        try {
            result = job.work();
        } catch (const std::exception&) {
            result.failed = true;
        }
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            results_.emplace_back(std::move(job.done), std::move(result));
        }
        // The result stays here; the runner's thread only learns that there is one to pick up.
        context_->Ring();
    }
}

// ---- the link -----------------------------------------------------------------------------------

TUsbLink::TUsbLink(IFtErrorBox* errorBox, TUsbLinkOptions options)
    : unit_(errorBox), options_(std::move(options))
{
    if (!options_.nowMs)
        options_.nowMs = SteadyMs;
    if (!options_.runner)
        ownRunner_ = std::make_unique<TThreadReadRunner>();
    runner_ = options_.runner ? options_.runner : ownRunner_.get();
}

TUsbLink::~TUsbLink()
{
    closing_ = true;
    runner_->Stop();
    // The window's close has normally released the adapter already.
    if (unit_.handle)
        unit_.UsbClose();
}

void TUsbLink::GetFTDeviceCount()
{
    std::lock_guard lock(unitMutex_);
    unit_.GetFTDeviceCount();
}

std::optional<DWORD> TUsbLink::ListDevices()
{
    std::optional<DWORD> chosen;
    if (options_.serialNo.isEmpty())
        chosen = 0;
    unit_.GetFTDeviceCount();
    for (DWORD n = 1; n <= unit_.deviceCount; ++n) {
        // More adapters than the table holds are still listed in the dialog.
        TUsbDeviceEntry scratch;
        const bool dialog = DialogActive();
        TUsbDeviceEntry& entry =
            !dialog && n <= DWORD(kUsbDeviceTableSize) ? table_[n - 1] : scratch;
        entry.label = QStringLiteral("DEVICE ") + QString::number(n);
        // A failed listing leaves the previous adapter's text, which must not pick this one.
        if (unit_.GetFTDeviceSerialNo(n - 1) == FT_OK && !chosen &&
            unit_.deviceText == options_.serialNo)
            chosen = n - 1;
        entry.serialNo = unit_.deviceText;
        unit_.GetFTDeviceDescription(n - 1);
        entry.description = unit_.deviceText;
        if (dialog)
            deviceList_->AddDeviceRow(entry.label, entry.serialNo, entry.description);
    }
    return chosen;
}

QString TUsbLink::OpenSerialNo() const
{
    return usbOpen_ && unit_.deviceIndex < DWORD(kUsbDeviceTableSize)
               ? table_[unit_.deviceIndex].serialNo
               : QString();
}

bool TUsbLink::UsbReadyCheck()
{
    // While a receive runs the adapter is open and busy with it; what became of it shows when the
    // receive ends.
    if (readsInFlight_ > 0)
        return usbOpen_;
    std::unique_lock lock(unitMutex_);
    if (usbOpen_) {
        if (unit_.UsbGetQueueStatus() == FT_OK)
            return true;
        // The handle died: the adapter was unplugged, or unplugged and plugged in again since the
        // last check. In the second case it opens again right here, so that the request this
        // check stands before (a write the user clicked) goes out now rather than after the
        // watchdog has given up on a request that was never sent.
        usbOpen_ = false;
        if (DialogActive())
            deviceList_->ClearDeviceRows();
    }
    const std::optional<DWORD> chosen = ListDevices();
    unit_.errorBoxSwitch = false;
    unit_.UsbClose();
    // No adapter with the serial number asked for: nothing to open, and nothing in the way of
    // opening it either.
    if (!chosen) {
        lock.unlock();
        SetOpenProblem({});
        return false;
    }
    unit_.deviceIndex = *chosen;
    const FT_STATUS opened = unit_.UsbOpen();
    if (opened == FT_OK) {
        usbOpen_ = true;
        unit_.UsbReset();
        unit_.UsbSetTimeouts(kUsbReadTimeoutMs, kUsbWriteTimeoutMs);
        unit_.baudRate = kUsbBaudRate;
        unit_.wordLength = kWordLength8;
        // A session that survives an unplug keeps the stop bits the protocol last chose.
        unit_.stopBits = lineStopBits_;
        unit_.parity = kNoParity;
        unit_.handshakeMode = kNoHandshake;
        unit_.UsbSetBaudRate();
        unit_.UsbSetDataCharacteristics();
        unit_.UsbSetFlowMode();
        unit_.UsbSetChars();
    }
    TUsbOpenProblem problem;
    if (!usbOpen_ && unit_.deviceCount > 0) {
        problem.kind = FT_LastOpenFailure();
        problem.detail = QString::fromLocal8Bit(FT_LastErrorDetail());
        // Listed a moment ago, not there now.
        if (problem.kind == FtOpenFailure::None && opened == FT_DEVICE_NOT_FOUND)
            problem.kind = FtOpenFailure::Gone;
    }
    // Whoever is told may look at the link again.
    lock.unlock();
    SetOpenProblem(std::move(problem));
    return usbOpen_;
}

void TUsbLink::SetOpenProblem(TUsbOpenProblem problem)
{
    if (problem == problem_)
        return;
    problem_ = std::move(problem);
    if (onOpenProblem)
        onOpenProblem(problem_);
}

void TUsbLink::UsbSend(const QByteArray& bytes)
{
    std::lock_guard lock(unitMutex_);
    unit_.errorBoxSwitch = false;
    // The write buffer holds 512 bytes; nothing the protocol sends comes near that.
    const int n = std::min<int>(bytes.size(), kFtBufferSize);
    std::copy_n(bytes.constData(), n, unit_.writeBuffer.data());
    if (n > 0)
        unit_.UsbWrite(DWORD(n));
}

void TUsbLink::UsbDiscardInput()
{
    if (!usbOpen_)
        return;
    std::lock_guard lock(unitMutex_);
    unit_.errorBoxSwitch = false;
    // What is still in the chip would otherwise come in front of the next reply.
    if (unit_.UsbPurgeReceive() != FT_OK)
        return;
    // Bounded: a regulator that never stops sending refills the queue as fast as it is emptied.
    for (int pass = 0; pass < kDiscardPasses; ++pass) {
        if (unit_.UsbGetQueueStatus() != FT_OK || unit_.rxQueueCount == 0)
            return;
        unit_.UsbRead(std::min<DWORD>(unit_.rxQueueCount, kFtBufferSize));
        if (unit_.lastTransferStatus != FT_OK)
            return;
    }
}

void TUsbLink::UsbSetDataCharacteristics(int wordLength, int stopBits, int parity)
{
    std::lock_guard lock(unitMutex_);
    lineStopBits_ = UCHAR(stopBits);
    unit_.wordLength = UCHAR(wordLength);
    unit_.stopBits = UCHAR(stopBits);
    unit_.parity = UCHAR(parity);
    unit_.UsbSetDataCharacteristics();
}

void TUsbLink::UsbClose()
{
    // A receive still running ends at its next piece.
    closing_ = true;
    runner_->Stop();
    // The receives it dropped are never handed back, so they no longer count; a later open
    // starts afresh.
    readsInFlight_ = 0;
    closing_ = false;
    std::lock_guard lock(unitMutex_);
    unit_.UsbClose();
    unit_.handle = nullptr;
    usbOpen_ = false;
}

void TUsbLink::UsbReadAsync(int count, UsbReplyNeed need, UsbReadDone done)
{
    ++readsInFlight_;
    runner_->Run([this, count, need = std::move(need)] { return ReadReply(count, need); },
                 [this, done = std::move(done)](const UsbReadResult& r) {
                     --readsInFlight_;
                     done(r);
                 });
}

// Runs on the worker.
UsbReadResult TUsbLink::ReadReply(int count, const UsbReplyNeed& need)
{
    UsbReadResult result;
    count = std::clamp(count, 0, kFtBufferSize);
    if (!options_.earlyEnd || !need) {
        std::lock_guard lock(unitMutex_);
        const DWORD n = unit_.UsbRead(DWORD(count));
        result.bytes = QByteArray(unit_.readBuffer.data(), int(n));
        result.failed = unit_.lastTransferStatus != FT_OK;
        return result;
    }
    // Only as many bytes as the message under way still lacks are asked for, so the read never
    // takes what belongs to a later reply, and it ends the moment the reply is complete. The time
    // bound of a silent regulator stays that of one whole read.
    const int64_t start = options_.nowMs();
    while (result.bytes.size() < count && !closing_) {
        const int wanted = std::min<int>(need(result.bytes), count - int(result.bytes.size()));
        if (wanted <= 0)
            break;
        const int64_t left = int64_t(kUsbReadTimeoutMs) - (options_.nowMs() - start);
        if (left <= 0)
            break;
        std::lock_guard lock(unitMutex_);
        unit_.UsbSetTimeouts(ULONG(std::min<int64_t>(left, kUsbReadSliceMs)), kUsbWriteTimeoutMs);
        const DWORD n = unit_.UsbRead(DWORD(wanted));
        result.bytes.append(unit_.readBuffer.data(), int(n));
        // A time-out is no error: the read just ends with what came.
        if (unit_.lastTransferStatus != FT_OK) {
            result.failed = true;
            break;
        }
    }
    return result;
}
