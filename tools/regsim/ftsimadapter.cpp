#include "tools/regsim/ftsimadapter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace regsim {

namespace {

// A line quiet for this long ends whatever message the regulator was receiving.
constexpr int64_t kLineIdleUs = 50'000;
// The vendor's library reads and writes with this time-out until told otherwise.
constexpr ULONG kDefaultTimeoutMs = 300;
constexpr ULONG kDefaultBaud = 9600;
constexpr size_t kDescriptionMax = 63;

} // namespace

int64_t FtSimSteadyClock::NowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void FtSimSteadyClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                                 int64_t untilUs)
{
    cv.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::microseconds(untilUs)));
}

int64_t FtSimVirtualClock::NowUs()
{
    const int64_t b = base_();
    if (b != lastBase_) {
        lastBase_ = b;
        waited_ = 0;
    }
    // Never backwards, even when the test clock has not yet caught up with a read's wait.
    last_ = std::max(last_, b + waited_);
    return last_;
}

void FtSimVirtualClock::WaitUntil(std::unique_lock<std::mutex>&, std::condition_variable&,
                                  int64_t untilUs)
{
    const int64_t now = NowUs();
    if (untilUs > now) {
        waited_ = untilUs - lastBase_;
        last_ = untilUs;
    }
}

struct FtSimAdapters::Adapter {
    std::string serialNo;
    std::string description;
    Regulator* reg = nullptr;
    bool plugged = true;
    bool denied = false;
    int generation = 0; // moves on with every unplugging: older handles are dead
    FT_HANDLE openHandle = nullptr;
    ULONG baud = kDefaultBaud;
    UCHAR wordLength = FT_BITS_8, stopBits = FT_STOP_BITS_1, parity = FT_PARITY_NONE;
    ULONG readTimeoutMs = kDefaultTimeoutMs;
    std::deque<Incoming> rx;
    std::deque<uint8_t> inChip; // arrived, not yet fetched by the host
    int failReads = 0;
    int64_t txFreeUs = 0; // when the last byte sent has left the line
    std::vector<SentByte> sent;
    int writes = 0;
};

FtSimAdapters::FtSimAdapters(FtSimClock* clock) : clock_(clock)
{
    if (!clock_) {
        ownClock_ = std::make_unique<FtSimSteadyClock>();
        clock_ = ownClock_.get();
    }
}

FtSimAdapters::~FtSimAdapters() = default;

int FtSimAdapters::AddAdapter(const std::string& serialNo, const std::string& description,
                              Regulator* reg)
{
    std::lock_guard lock(mutex_);
    auto a = std::make_unique<Adapter>();
    a->serialNo = serialNo;
    a->description = description;
    a->reg = reg;
    adapters_.push_back(std::move(a));
    return int(adapters_.size()) - 1;
}

void FtSimAdapters::Unplug(int adapter)
{
    std::lock_guard lock(mutex_);
    Adapter& a = *adapters_.at(adapter);
    a.plugged = false;
    ++a.generation;
    a.openHandle = nullptr;
    a.rx.clear();
    a.inChip.clear();
    changed_.notify_all();
}

void FtSimAdapters::Plug(int adapter)
{
    std::lock_guard lock(mutex_);
    Adapter& a = *adapters_.at(adapter);
    a.plugged = true;
    a.baud = kDefaultBaud;
    a.wordLength = FT_BITS_8;
    a.stopBits = FT_STOP_BITS_1;
    a.parity = FT_PARITY_NONE;
    a.readTimeoutMs = kDefaultTimeoutMs;
    if (a.reg)
        a.reg->LineIdle();
}

bool FtSimAdapters::Plugged(int adapter) const
{
    std::lock_guard lock(mutex_);
    return adapters_.at(adapter)->plugged;
}

void FtSimAdapters::SetPermissionDenied(int adapter, bool denied)
{
    std::lock_guard lock(mutex_);
    adapters_.at(adapter)->denied = denied;
}

void FtSimAdapters::SetPaced(bool paced)
{
    std::lock_guard lock(mutex_);
    paced_ = paced;
}

void FtSimAdapters::SetReplyPieces(size_t pieceSize, int gapMs)
{
    std::lock_guard lock(mutex_);
    pieceSize_ = pieceSize;
    pieceGapMs_ = gapMs;
}

void FtSimAdapters::HoldInChip(int adapter, const Bytes& bytes)
{
    std::lock_guard lock(mutex_);
    Adapter& a = *adapters_.at(adapter);
    a.inChip.insert(a.inChip.end(), bytes.begin(), bytes.end());
}

void FtSimAdapters::FailReads(int adapter, int count)
{
    std::lock_guard lock(mutex_);
    adapters_.at(adapter)->failReads = count;
}

std::vector<SentByte> FtSimAdapters::Sent(int adapter) const
{
    std::lock_guard lock(mutex_);
    return adapters_.at(adapter)->sent;
}

void FtSimAdapters::ClearSent(int adapter)
{
    std::lock_guard lock(mutex_);
    adapters_.at(adapter)->sent.clear();
}

int FtSimAdapters::ReadCalls() const
{
    std::lock_guard lock(mutex_);
    return readCalls_;
}

int FtSimAdapters::OpenCalls() const
{
    std::lock_guard lock(mutex_);
    return openCalls_;
}

std::vector<FtSimAdapters::Adapter*> FtSimAdapters::PluggedList()
{
    std::vector<Adapter*> list;
    for (auto& a : adapters_)
        if (a->plugged)
            list.push_back(a.get());
    return list;
}

FtSimAdapters::Adapter* FtSimAdapters::Live(FT_HANDLE h)
{
    auto& handles = handles_;
    const auto it = handles.find(h);
    if (it == handles.end())
        return nullptr;
    Adapter* a = adapters_[it->second.adapter].get();
    return a->plugged && a->generation == it->second.generation ? a : nullptr;
}

int64_t FtSimAdapters::ByteTimeUs(const Adapter& a) const
{
    if (!paced_ || a.baud == 0)
        return 0;
    const int bits = 1 + a.wordLength + (a.parity != FT_PARITY_NONE ? 1 : 0) +
                     (a.stopBits == FT_STOP_BITS_2 ? 2 : 1);
    return int64_t(bits) * 1'000'000 / int64_t(a.baud);
}

int FtSimAdapters::Number(const Adapter* a) const
{
    return int(std::find_if(adapters_.begin(), adapters_.end(),
                            [a](const auto& p) { return p.get() == a; }) -
               adapters_.begin());
}

void FtSimAdapters::Deny(int number)
{
    char path[64];
    std::snprintf(path, sizeof path, "/dev/bus/usb/001/%03d", number + 2);
    detail_ = std::string("permission denied on ") + path;
    failure_ = FtOpenFailure::Denied;
}

FT_STATUS FtSimAdapters::ListDevices(PVOID pArg1, PVOID pArg2, DWORD flags)
{
    std::lock_guard lock(mutex_);
    const std::vector<Adapter*> list = PluggedList();
    if (flags & FT_LIST_NUMBER_ONLY) {
        if (!pArg1)
            return FT_INVALID_PARAMETER;
        *static_cast<DWORD*>(pArg1) = DWORD(list.size());
        return FT_OK;
    }
    if (flags & FT_LIST_BY_INDEX) {
        const size_t index = reinterpret_cast<uintptr_t>(pArg1);
        char* out = static_cast<char*>(pArg2);
        if (!out)
            return FT_INVALID_PARAMETER;
        if (index >= list.size())
            return FT_DEVICE_NOT_FOUND;
        // As over real adapters, whose strings the kernel gives to anybody: a denied adapter is
        // listed, and the listing says why it would not open.
        detail_.clear();
        failure_ = FtOpenFailure::None;
        if (list[index]->denied)
            Deny(Number(list[index]));
        const std::string& text =
            (flags & FT_OPEN_BY_DESCRIPTION) ? list[index]->description : list[index]->serialNo;
        const size_t n = std::min(text.size(), kDescriptionMax);
        std::memcpy(out, text.data(), n);
        out[n] = 0;
        return FT_OK;
    }
    return FT_INVALID_PARAMETER;
}

FT_STATUS FtSimAdapters::Open(int deviceNumber, FT_HANDLE* handle)
{
    std::lock_guard lock(mutex_);
    ++openCalls_;
    detail_.clear();
    failure_ = FtOpenFailure::None;
    if (!handle)
        return FT_INVALID_PARAMETER;
    *handle = nullptr;
    const std::vector<Adapter*> list = PluggedList();
    if (deviceNumber < 0 || size_t(deviceNumber) >= list.size())
        return FT_DEVICE_NOT_FOUND;
    Adapter* a = list[size_t(deviceNumber)];
    const int number = Number(a);
    if (a->denied) {
        Deny(number);
        return FT_DEVICE_NOT_OPENED;
    }
    if (a->openHandle && Live(a->openHandle)) {
        detail_ = "in use";
        failure_ = FtOpenFailure::Busy;
        return FT_DEVICE_NOT_OPENED;
    }
    FT_HANDLE h = reinterpret_cast<FT_HANDLE>(nextHandle_++);
    handles_[h] = {number, a->generation};
    a->openHandle = h;
    *handle = h;
    return FT_OK;
}

FT_STATUS FtSimAdapters::Close(FT_HANDLE h)
{
    std::lock_guard lock(mutex_);
    auto& handles = handles_;
    const auto it = handles.find(h);
    if (it == handles.end())
        return FT_INVALID_HANDLE;
    Adapter& a = *adapters_[it->second.adapter];
    if (a.openHandle == h)
        a.openHandle = nullptr;
    handles.erase(it);
    changed_.notify_all();
    return FT_OK;
}

FT_STATUS FtSimAdapters::ResetDevice(FT_HANDLE h)
{
    std::lock_guard lock(mutex_);
    Adapter* a = Live(h);
    if (!a)
        return FT_IO_ERROR;
    a->rx.clear();
    a->inChip.clear();
    return FT_OK;
}

FT_STATUS FtSimAdapters::Purge(FT_HANDLE h, ULONG mask)
{
    std::lock_guard lock(mutex_);
    Adapter* a = Live(h);
    if (!a)
        return FT_IO_ERROR;
    if (mask & ~(FT_PURGE_RX | FT_PURGE_TX))
        return FT_INVALID_PARAMETER;
    if (mask & FT_PURGE_RX) {
        // What is still on its way over the line arrives after the purge.
        const int64_t now = clock_->NowUs();
        a->inChip.clear();
        while (!a->rx.empty() && a->rx.front().atUs <= now)
            a->rx.pop_front();
    }
    return FT_OK;
}

FT_STATUS FtSimAdapters::SetBaudRate(FT_HANDLE h, ULONG baud)
{
    std::lock_guard lock(mutex_);
    Adapter* a = Live(h);
    if (!a)
        return FT_IO_ERROR;
    if (baud == 0)
        return FT_INVALID_BAUD_RATE;
    a->baud = baud;
    return FT_OK;
}

FT_STATUS FtSimAdapters::SetDataCharacteristics(FT_HANDLE h, UCHAR wordLength, UCHAR stopBits,
                                                UCHAR parity)
{
    std::lock_guard lock(mutex_);
    Adapter* a = Live(h);
    if (!a)
        return FT_IO_ERROR;
    if ((wordLength != FT_BITS_7 && wordLength != FT_BITS_8) ||
        (stopBits != FT_STOP_BITS_1 && stopBits != FT_STOP_BITS_2) || parity > FT_PARITY_SPACE)
        return FT_INVALID_PARAMETER;
    a->wordLength = wordLength;
    a->stopBits = stopBits;
    a->parity = parity;
    return FT_OK;
}

FT_STATUS FtSimAdapters::SetFlowControl(FT_HANDLE h, USHORT, UCHAR, UCHAR)
{
    std::lock_guard lock(mutex_);
    return Live(h) ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FtSimAdapters::SetChars(FT_HANDLE h, UCHAR, UCHAR, UCHAR, UCHAR)
{
    std::lock_guard lock(mutex_);
    return Live(h) ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FtSimAdapters::SetTimeouts(FT_HANDLE h, ULONG readMs, ULONG)
{
    std::lock_guard lock(mutex_);
    Adapter* a = Live(h);
    if (!a)
        return FT_IO_ERROR;
    a->readTimeoutMs = readMs;
    return FT_OK;
}

FT_STATUS FtSimAdapters::GetQueueStatus(FT_HANDLE h, DWORD* rxBytes)
{
    std::lock_guard lock(mutex_);
    Adapter* a = Live(h);
    if (!a)
        return FT_IO_ERROR;
    if (!rxBytes)
        return FT_INVALID_PARAMETER;
    const int64_t now = clock_->NowUs();
    *rxBytes = DWORD(std::count_if(a->rx.begin(), a->rx.end(),
                                   [now](const Incoming& b) { return b.atUs <= now; }));
    return FT_OK;
}

FT_STATUS FtSimAdapters::Write(FT_HANDLE h, LPVOID buffer, DWORD count, LPDWORD written)
{
    std::lock_guard lock(mutex_);
    if (written)
        *written = 0;
    Adapter* a = Live(h);
    if (!a)
        return FT_IO_ERROR;
    if (!buffer && count)
        return FT_INVALID_PARAMETER;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    const int64_t now = clock_->NowUs();
    const int64_t byteUs = ByteTimeUs(*a);
    const int64_t start = std::max(now, a->txFreeUs);
    if (a->reg && (count == 0 || start - a->txFreeUs >= kLineIdleUs))
        a->reg->LineIdle();
    ++a->writes;
    for (DWORD i = 0; i < count; ++i) {
        a->sent.push_back(
            {bytes[i], uint32_t(a->baud), a->wordLength, a->stopBits, a->parity, a->writes});
        const int64_t end = start + int64_t(i + 1) * byteUs;
        a->txFreeUs = end;
        if (!a->reg)
            continue;
        const Bytes reply = a->reg->Feed(&bytes[i], 1);
        int64_t at = std::max(end, a->rx.empty() ? end : a->rx.back().atUs);
        for (size_t j = 0; j < reply.size(); ++j) {
            if (pieceSize_ && j > 0 && j % pieceSize_ == 0)
                at += int64_t(pieceGapMs_) * 1000;
            at += byteUs;
            a->rx.push_back({reply[j], at});
        }
    }
    if (written)
        *written = count;
    changed_.notify_all();
    return FT_OK;
}

FT_STATUS FtSimAdapters::Read(FT_HANDLE h, LPVOID buffer, DWORD count, LPDWORD received)
{
    std::unique_lock lock(mutex_);
    ++readCalls_;
    if (received)
        *received = 0;
    if (!buffer && count)
        return FT_INVALID_PARAMETER;
    Adapter* a = Live(h);
    if (!a)
        return FT_IO_ERROR;
    if (a->failReads > 0) {
        --a->failReads;
        return FT_IO_ERROR;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    DWORD got = 0;
    while (got < count && !a->inChip.empty()) {
        out[got++] = a->inChip.front();
        a->inChip.pop_front();
    }
    const int64_t deadline = clock_->NowUs() + int64_t(a->readTimeoutMs) * 1000;
    for (;;) {
        a = Live(h);
        if (!a) {
            if (received)
                *received = got;
            return FT_IO_ERROR;
        }
        const int64_t now = clock_->NowUs();
        while (got < count && !a->rx.empty() && a->rx.front().atUs <= now) {
            out[got++] = a->rx.front().byte;
            a->rx.pop_front();
        }
        if (got == count || now >= deadline)
            break;
        int64_t until = deadline;
        if (!a->rx.empty())
            until = std::min(until, a->rx.front().atUs);
        clock_->WaitUntil(lock, changed_, until);
    }
    if (received)
        *received = got;
    return FT_OK;
}

const char* FtSimAdapters::LastErrorDetail() const { return detail_.c_str(); }
FtOpenFailure FtSimAdapters::LastOpenFailure() const { return failure_; }

} // namespace regsim
