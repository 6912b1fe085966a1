// The FT_* functions over libftdi1, for real FTDI adapters. Adapters are listed in the order that
// libusb enumerates the FTDI vendor's usual product ids (FT232R, FT2232, FT4232, FT232H, FT230X);
// index n is the n-th of that list at the time of the call, as the vendor's library does it.
//
// Calls on one handle are serialised: a read that waits holds the handle until it returns, so a
// caller that reads on a worker thread makes its other calls on that thread too.

#include "link/ftd2xx.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>

namespace {

// The chip sends a packet at least every latency period, so a read returns at that pace when
// nothing arrives; a short period keeps a reply's last byte from waiting in the chip.
constexpr unsigned char kLatencyMs = 2;
constexpr int kDefaultTimeoutMs = 300; // the vendor library's default before FT_SetTimeouts
// A USB transfer is given this much beyond the caller's time-out: the chip answers every request
// within its latency period, so only a device that stopped answering lets a transfer time out,
// and a transfer that times out can lose the bytes it carried.
constexpr int kTransferSlackMs = 200;

struct FtHandle {
    ftdi_context* ctx = nullptr;
    ULONG readTimeoutMs = kDefaultTimeoutMs;
    ULONG writeTimeoutMs = kDefaultTimeoutMs;
    std::mutex mutex;
};

// Copies a device text into a caller's buffer of kFtDeviceTextSize bytes, cut to fit.
void CopyDeviceText(char* out, const char* text)
{
    const size_t n = std::min(std::strlen(text), kFtDeviceTextSize - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

std::string DevicePath(libusb_device* dev)
{
    char path[64];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", unsigned(libusb_get_bus_number(dev)),
                  unsigned(libusb_get_device_address(dev)));
    return path;
}

// The kernel publishes a device's strings to everybody, also when its node may not be opened.
bool SysfsStrings(libusb_device* dev, std::string& description, std::string& serial)
{
    namespace fs = std::filesystem;
    const unsigned bus = libusb_get_bus_number(dev), address = libusb_get_device_address(dev);
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator("/sys/bus/usb/devices", ec)) {
        const auto read = [&](const char* name) {
            std::ifstream in(e.path() / name);
            std::string line;
            std::getline(in, line);
            return line;
        };
        if (read("busnum") != std::to_string(bus) || read("devnum") != std::to_string(address))
            continue;
        description = read("product");
        serial = read("serial");
        return true;
    }
    return false;
}

class LibftdiDriver final : public IFtDriver {
public:
    LibftdiDriver() = default;
    LibftdiDriver(const LibftdiDriver&) = delete;
    LibftdiDriver& operator=(const LibftdiDriver&) = delete;
    ~LibftdiDriver() override
    {
        if (scan_)
            ftdi_free(scan_);
    }

    FT_STATUS ListDevices(PVOID pArg1, PVOID pArg2, DWORD flags) override
    {
        if (flags & FT_LIST_NUMBER_ONLY) {
            if (!pArg1)
                return FT_INVALID_PARAMETER;
            int count = 0;
            const FT_STATUS st = Enumerate([&](ftdi_context*, libusb_device*) {
                ++count;
                return false;
            });
            *static_cast<DWORD*>(pArg1) = st == FT_OK ? DWORD(count) : 0;
            return st;
        }
        if (flags & FT_LIST_BY_INDEX) {
            const DWORD index = DWORD(reinterpret_cast<uintptr_t>(pArg1));
            char* out = static_cast<char*>(pArg2);
            const DWORD what = flags & (FT_OPEN_BY_SERIAL_NUMBER | FT_OPEN_BY_DESCRIPTION);
            if (!out || (what != FT_OPEN_BY_SERIAL_NUMBER && what != FT_OPEN_BY_DESCRIPTION))
                return FT_INVALID_PARAMETER;
            DWORD n = 0;
            FT_STATUS result = FT_DEVICE_NOT_FOUND;
            SetFailure(FtOpenFailure::None, {});
            const FT_STATUS st = Enumerate([&](ftdi_context* ctx, libusb_device* dev) {
                if (n++ != index)
                    return false;
                // Room for the longest strings a chip holds (64 characters of description).
                char description[128] = {}, serial[128] = {};
                std::string sysDescription, sysSerial;
                if (ftdi_usb_get_strings(ctx, dev, nullptr, 0, description, sizeof description,
                                         serial, sizeof serial) == 0) {
                    CopyDeviceText(out, what == FT_OPEN_BY_SERIAL_NUMBER ? serial : description);
                    result = FT_OK;
                    return true;
                }
                // The strings may still come from the kernel, but why the adapter would not open
                // stays known to whoever lists it.
                result = OpenFailure(dev, ctx);
                if (SysfsStrings(dev, sysDescription, sysSerial)) {
                    CopyDeviceText(out, what == FT_OPEN_BY_SERIAL_NUMBER ? sysSerial.c_str()
                                                                         : sysDescription.c_str());
                    result = FT_OK;
                }
                return true;
            });
            return st == FT_OK ? result : st;
        }
        return FT_INVALID_PARAMETER;
    }

    FT_STATUS Open(int deviceNumber, FT_HANDLE* handle) override
    {
        if (!handle)
            return FT_INVALID_PARAMETER;
        *handle = nullptr;
        SetFailure(FtOpenFailure::None, {});
        // Nothing at that index (the usual answer while no adapter is plugged in): no context of
        // its own is started for it.
        bool listed = false;
        DWORD n = 0;
        const FT_STATUS scan = Enumerate([&](ftdi_context*, libusb_device*) {
            listed = n++ == DWORD(deviceNumber);
            return listed;
        });
        if (scan != FT_OK)
            return scan;
        if (!listed)
            return FT_DEVICE_NOT_FOUND;
        ftdi_context* ctx = ftdi_new();
        if (!ctx)
            return FT_INSUFFICIENT_RESOURCES;
        ftdi_device_list* list = nullptr;
        const int found = ftdi_usb_find_all(ctx, &list, 0, 0);
        FT_STATUS st = found < 0 ? FT_IO_ERROR : FT_DEVICE_NOT_FOUND;
        int index = 0;
        for (ftdi_device_list* d = list; found > 0 && d; d = d->next, ++index) {
            if (index != deviceNumber)
                continue;
            st = ftdi_usb_open_dev(ctx, d->dev) == 0 ? FT_OK : OpenFailure(d->dev, ctx);
            break;
        }
        ftdi_list_free(&list);
        if (st != FT_OK) {
            ftdi_free(ctx);
            return st;
        }
        // The chip keeps bytes back until its latency timer runs out; a failure to shorten it
        // only slows replies down.
        ftdi_set_latency_timer(ctx, kLatencyMs);
        auto* h = new FtHandle;
        h->ctx = ctx;
        std::lock_guard lock(handlesMutex_);
        handles_.insert(h);
        *handle = h;
        return FT_OK;
    }

    FT_STATUS Close(FT_HANDLE handle) override
    {
        FtHandle* h = Take(handle);
        if (!h)
            return FT_INVALID_HANDLE;
        {
            std::lock_guard lock(h->mutex);
            ftdi_usb_close(h->ctx);
            ftdi_free(h->ctx);
        }
        delete h;
        return FT_OK;
    }

    FT_STATUS ResetDevice(FT_HANDLE handle) override
    {
        return Call(handle, [](FtHandle& h) { return Io(ftdi_usb_reset(h.ctx)); });
    }

    FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud) override
    {
        if (baud == 0 || baud > 12000000)
            return FT_INVALID_BAUD_RATE;
        return Call(handle, [baud](FtHandle& h) {
            // libftdi refuses with -1 a rate the chip cannot reach within 5 %.
            const int r = ftdi_set_baudrate(h.ctx, int(baud));
            return r == -1 ? FT_INVALID_BAUD_RATE : Io(r);
        });
    }

    FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                     UCHAR parity) override
    {
        if ((wordLength != FT_BITS_7 && wordLength != FT_BITS_8) ||
            (stopBits != FT_STOP_BITS_1 && stopBits != FT_STOP_BITS_2) || parity > FT_PARITY_SPACE)
            return FT_INVALID_PARAMETER;
        return Call(handle, [=](FtHandle& h) {
            return Io(ftdi_set_line_property2(h.ctx, ftdi_bits_type(wordLength),
                                              stopBits == FT_STOP_BITS_2 ? STOP_BIT_2 : STOP_BIT_1,
                                              ftdi_parity_type(parity), BREAK_OFF));
        });
    }

    FT_STATUS SetFlowControl(FT_HANDLE handle, USHORT mode, UCHAR xon, UCHAR xoff) override
    {
        if (mode == FT_FLOW_XON_XOFF)
            return Call(handle, [=](FtHandle& h) {
                return Io(ftdi_setflowctrl_xonxoff(h.ctx, xon, xoff));
            });
        int flow;
        switch (mode) {
        case FT_FLOW_NONE:
            flow = SIO_DISABLE_FLOW_CTRL;
            break;
        case FT_FLOW_RTS_CTS:
            flow = SIO_RTS_CTS_HS;
            break;
        case FT_FLOW_DTR_DSR:
            flow = SIO_DTR_DSR_HS;
            break;
        default:
            return FT_INVALID_PARAMETER;
        }
        return Call(handle, [flow](FtHandle& h) { return Io(ftdi_setflowctrl(h.ctx, flow)); });
    }

    FT_STATUS SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventEnabled, UCHAR errorChar,
                       UCHAR errorEnabled) override
    {
        return Call(handle, [=](FtHandle& h) {
            const int r = ftdi_set_event_char(h.ctx, eventChar, eventEnabled ? 1 : 0);
            return Io(r < 0 ? r : ftdi_set_error_char(h.ctx, errorChar, errorEnabled ? 1 : 0));
        });
    }

    FT_STATUS SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) override
    {
        return Call(handle, [=](FtHandle& h) {
            h.readTimeoutMs = readMs;
            h.writeTimeoutMs = writeMs;
            return FT_OK;
        });
    }

    // Any non-zero status means the adapter is gone or stopped answering: the modem-status request
    // is a round trip to the chip.
    FT_STATUS GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) override
    {
        if (!rxBytes)
            return FT_INVALID_PARAMETER;
        *rxBytes = 0;
        return Call(handle, [rxBytes](FtHandle& h) {
            unsigned short status = 0;
            const int r = ftdi_poll_modem_status(h.ctx, &status);
            if (r < 0)
                return FT_IO_ERROR;
            // Bytes still on their way through the USB are not known without reading them.
            *rxBytes = DWORD(h.ctx->readbuffer_remaining);
            return FT_OK;
        });
    }

    // Writes in the chip's bulk transfers; a write that runs out of time returns FT_OK with the
    // count that went out, as the vendor's library does, and the caller sees the short count.
    FT_STATUS Write(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD written) override
    {
        return Transfer(
            handle, buffer, count, written, [count](FtHandle& h, unsigned char* data, DWORD& done) {
                const unsigned timeout = unsigned(std::max<ULONG>(1, h.writeTimeoutMs));
                while (done < count) {
                    const int chunk = int(std::min<DWORD>(count - done, 4096));
                    int actual = 0;
                    const int r = libusb_bulk_transfer(h.ctx->usb_dev, (unsigned char)h.ctx->in_ep,
                                                       data + done, chunk, &actual, timeout);
                    done += DWORD(std::max(0, actual));
                    if (r == LIBUSB_ERROR_TIMEOUT)
                        break;
                    if (r < 0)
                        return FT_IO_ERROR;
                }
                return FT_OK;
            });
    }

    // Blocks until count bytes have arrived or the read time-out has passed, and returns what
    // arrived. libftdi strips the chip's two status bytes from every packet.
    FT_STATUS Read(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD received) override
    {
        return Transfer(
            handle, buffer, count, received, [count](FtHandle& h, unsigned char* out, DWORD& got) {
                using clock = std::chrono::steady_clock;
                const auto deadline = clock::now() + std::chrono::milliseconds(h.readTimeoutMs);
                // At least one look, so that a zero time-out still returns what is already there.
                for (bool first = true; got < count; first = false) {
                    const auto now = clock::now();
                    if (now >= deadline && !first)
                        break;
                    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
                    h.ctx->usb_read_timeout =
                        int(std::max<long long>(left.count(), 0)) + kTransferSlackMs;
                    const int r = ftdi_read_data(h.ctx, out + got, int(count - got));
                    if (r < 0)
                        return FT_IO_ERROR;
                    got += DWORD(r);
                }
                return FT_OK;
            });
    }

    // ftdi_tciflush and ftdi_tcoflush name the chip's buffers as the chip does (the older purge
    // calls had them swapped), and the receive flush also drops what libftdi holds already.
    FT_STATUS Purge(FT_HANDLE handle, ULONG mask) override
    {
        if (mask & ~(FT_PURGE_RX | FT_PURGE_TX))
            return FT_INVALID_PARAMETER;
        return Call(handle, [mask](FtHandle& h) {
            int r = 0;
            if (mask & FT_PURGE_RX)
                r = ftdi_tciflush(h.ctx);
            if (r >= 0 && (mask & FT_PURGE_TX))
                r = ftdi_tcoflush(h.ctx);
            return Io(r);
        });
    }

    const char* LastErrorDetail() const override
    {
        std::lock_guard lock(detailMutex_);
        return detail_.c_str();
    }

    FtOpenFailure LastOpenFailure() const override
    {
        std::lock_guard lock(detailMutex_);
        return failure_;
    }

private:
    static FT_STATUS Io(int libftdiResult) { return libftdiResult < 0 ? FT_IO_ERROR : FT_OK; }

    // Calls fn(ctx, dev) for every attached adapter until it returns true. One context does the
    // listing for the whole run: libusb keeps its list of devices current through hot-plug events,
    // whereas a context of its own for every listing would start libusb's event thread and read the
    // bus again each time, and with USB as the link mode and no adapter plugged in that happens at
    // every connection attempt.
    template <typename Fn> FT_STATUS Enumerate(Fn fn)
    {
        std::lock_guard lock(scanMutex_);
        if (!scan_)
            scan_ = ftdi_new(); // tried again next time if libusb could not start now
        if (!scan_)
            return FT_INSUFFICIENT_RESOURCES;
        ftdi_device_list* list = nullptr;
        const int found = ftdi_usb_find_all(scan_, &list, 0, 0);
        for (ftdi_device_list* d = list; found > 0 && d; d = d->next) {
            const bool done = fn(scan_, d->dev);
            // Reading an adapter's strings opens it for a moment; whatever way that ended, the
            // listing context keeps no adapter open.
            if (scan_->usb_dev) {
                libusb_close(scan_->usb_dev);
                scan_->usb_dev = nullptr;
            }
            if (done)
                break;
        }
        ftdi_list_free(&list);
        return found < 0 ? FT_IO_ERROR : FT_OK;
    }

    // Why an adapter that is listed could not be opened: libftdi reports its own codes, so the
    // open is tried once more by hand for libusb's. A node that opens but whose interface cannot
    // be claimed is held by another program or by a kernel driver that would not let go.
    FT_STATUS OpenFailure(libusb_device* dev, ftdi_context* ctx)
    {
        libusb_device_handle* probe = nullptr;
        int r = libusb_open(dev, &probe);
        if (r == 0) {
            r = libusb_claim_interface(probe, ctx->interface);
            if (r == 0)
                libusb_release_interface(probe, ctx->interface);
            libusb_close(probe);
        }
        std::string detail;
        FT_STATUS st = FT_DEVICE_NOT_OPENED;
        FtOpenFailure kind = FtOpenFailure::Other;
        if (r == LIBUSB_ERROR_ACCESS) {
            detail = "permission denied on " + DevicePath(dev);
            kind = FtOpenFailure::Denied;
        } else if (r == LIBUSB_ERROR_NO_DEVICE) {
            detail = "the adapter was unplugged";
            st = FT_DEVICE_NOT_FOUND;
            kind = FtOpenFailure::Gone;
        } else if (r == LIBUSB_ERROR_BUSY) {
            detail = DevicePath(dev) + " is in use by another program or driver";
            kind = FtOpenFailure::Busy;
        } else {
            detail = std::string(ftdi_get_error_string(ctx)) + " (" + DevicePath(dev) + ")";
        }
        SetFailure(kind, std::move(detail));
        return st;
    }

    void SetFailure(FtOpenFailure kind, std::string detail)
    {
        std::lock_guard lock(detailMutex_);
        detail_ = std::move(detail);
        failure_ = kind;
    }

    FtHandle* Find(FT_HANDLE handle)
    {
        std::lock_guard lock(handlesMutex_);
        auto* h = static_cast<FtHandle*>(handle);
        return handles_.count(h) ? h : nullptr;
    }

    FtHandle* Take(FT_HANDLE handle)
    {
        std::lock_guard lock(handlesMutex_);
        auto* h = static_cast<FtHandle*>(handle);
        return handles_.erase(h) ? h : nullptr;
    }

    // Runs fn on an open handle, with the handle to itself.
    template <typename Fn> FT_STATUS Call(FT_HANDLE handle, Fn fn)
    {
        FtHandle* h = Find(handle);
        if (!h)
            return FT_INVALID_HANDLE;
        std::lock_guard lock(h->mutex);
        return fn(*h);
    }

    // Read and Write alike: the count moved is 0 until the transfer says otherwise, a missing
    // buffer is refused, and fn moves bytes through the open handle, counting them in `done` even
    // when it fails part way.
    template <typename Fn>
    FT_STATUS Transfer(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD moved, Fn fn)
    {
        if (moved)
            *moved = 0;
        if (!buffer && count)
            return FT_INVALID_PARAMETER;
        return Call(handle, [&](FtHandle& h) {
            DWORD done = 0;
            const FT_STATUS st = fn(h, static_cast<unsigned char*>(buffer), done);
            if (moved)
                *moved = done;
            return st;
        });
    }

    std::mutex scanMutex_;
    ftdi_context* scan_ = nullptr;
    std::mutex handlesMutex_;
    std::set<FtHandle*> handles_;
    mutable std::mutex detailMutex_;
    std::string detail_;
    FtOpenFailure failure_ = FtOpenFailure::None;
};

} // namespace

IFtDriver& FtLibftdiDriver()
{
    static LibftdiDriver driver;
    return driver;
}
