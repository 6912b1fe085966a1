// The FT_* functions over libftdi1, for real FTDI adapters. Adapters are listed in the order that
// libusb enumerates the FTDI vendor's usual product ids; index n is the n-th of that list at the
// time of the call, as the vendor's library does it.

#include "link/ftd2xx.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>

namespace {

// The chip sends a status packet at least every latency period, so a read returns at that pace
// when nothing arrives; a short period keeps a reply's last byte from waiting in the chip.
constexpr unsigned char kLatencyMs = 2;
constexpr int kDefaultTimeoutMs = 300; // the vendor library's default before FT_SetTimeouts

struct FtHandle {
    ftdi_context* ctx = nullptr;
    ULONG readTimeoutMs = kDefaultTimeoutMs;
    ULONG writeTimeoutMs = kDefaultTimeoutMs;
    std::mutex mutex; // a read may run on another thread than the calls around it
};

class LibftdiDriver final : public IFtDriver {
public:
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
            const FT_STATUS st = Enumerate([&](ftdi_context* ctx, libusb_device* dev) {
                if (n++ != index)
                    return false;
                // The vendor's buffers hold 16 characters of serial number and 64 of description.
                char manufacturer[2], description[64] = {}, serial[16] = {};
                if (ftdi_usb_get_strings(ctx, dev, manufacturer, 0, description, sizeof description,
                                         serial, sizeof serial) < 0)
                    result = AccessDenied(dev) ? FT_DEVICE_NOT_OPENED : FT_IO_ERROR;
                else {
                    const char* text = what == FT_OPEN_BY_SERIAL_NUMBER ? serial : description;
                    std::strcpy(out, text);
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
        detail_.clear();
        ftdi_context* ctx = ftdi_new();
        if (!ctx)
            return FT_INSUFFICIENT_RESOURCES;
        ftdi_device_list* list = nullptr;
        const int found = ftdi_usb_find_all(ctx, &list, 0, 0);
        FT_STATUS st = FT_DEVICE_NOT_FOUND;
        int n = 0;
        for (ftdi_device_list* d = list; found > 0 && d; d = d->next, ++n) {
            if (n != deviceNumber)
                continue;
            if (ftdi_usb_open_dev(ctx, d->dev) < 0) {
                st = FT_DEVICE_NOT_OPENED;
                if (AccessDenied(d->dev))
                    detail_ = "permission denied on " + DevicePath(d->dev);
                else
                    detail_ = ftdi_get_error_string(ctx);
            } else {
                st = FT_OK;
            }
            break;
        }
        ftdi_list_free(&list);
        if (st != FT_OK) {
            ftdi_free(ctx);
            return st;
        }
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
        return Call(handle, [](FtHandle& h) { return ftdi_usb_reset(h.ctx); });
    }

    FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud) override
    {
        if (baud == 0)
            return FT_INVALID_BAUD_RATE;
        return Call(handle, [baud](FtHandle& h) { return ftdi_set_baudrate(h.ctx, int(baud)); });
    }

    FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                     UCHAR parity) override
    {
        if ((wordLength != FT_BITS_7 && wordLength != FT_BITS_8) ||
            (stopBits != FT_STOP_BITS_1 && stopBits != FT_STOP_BITS_2) || parity > FT_PARITY_SPACE)
            return FT_INVALID_PARAMETER;
        return Call(handle, [=](FtHandle& h) {
            return ftdi_set_line_property2(h.ctx, ftdi_bits_type(wordLength),
                                           ftdi_stopbits_type(stopBits), ftdi_parity_type(parity),
                                           BREAK_OFF);
        });
    }

    FT_STATUS SetFlowControl(FT_HANDLE handle, USHORT mode, UCHAR xon, UCHAR xoff) override
    {
        if (mode == FT_FLOW_XON_XOFF)
            return Call(handle,
                        [=](FtHandle& h) { return ftdi_setflowctrl_xonxoff(h.ctx, xon, xoff); });
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
        return Call(handle, [flow](FtHandle& h) { return ftdi_setflowctrl(h.ctx, flow); });
    }

    FT_STATUS SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventEnabled, UCHAR errorChar,
                       UCHAR errorEnabled) override
    {
        return Call(handle, [=](FtHandle& h) {
            const int r = ftdi_set_event_char(h.ctx, eventChar, eventEnabled ? 1 : 0);
            return r < 0 ? r : ftdi_set_error_char(h.ctx, errorChar, errorEnabled ? 1 : 0);
        });
    }

    FT_STATUS SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) override
    {
        return Call(handle, [=](FtHandle& h) {
            h.readTimeoutMs = readMs;
            h.writeTimeoutMs = writeMs;
            return 0;
        });
    }

    FT_STATUS GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) override
    {
        if (!rxBytes)
            return FT_INVALID_PARAMETER;
        // A modem-status request fails once the adapter is gone: that is what callers look for.
        return Call(handle, [rxBytes](FtHandle& h) {
            unsigned short status = 0;
            const int r = ftdi_poll_modem_status(h.ctx, &status);
            *rxBytes = r < 0 ? 0 : DWORD(h.ctx->readbuffer_remaining);
            return r;
        });
    }

    FT_STATUS Write(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD written) override
    {
        if (written)
            *written = 0;
        if (!buffer && count)
            return FT_INVALID_PARAMETER;
        return Call(handle, [&](FtHandle& h) {
            h.ctx->usb_write_timeout = int(std::max<ULONG>(1, h.writeTimeoutMs));
            const int r =
                count ? ftdi_write_data(h.ctx, static_cast<unsigned char*>(buffer), int(count)) : 0;
            if (r > 0 && written)
                *written = DWORD(r);
            return r;
        });
    }

    // Blocks until count bytes have arrived or the read time-out has passed, and returns what
    // arrived. libftdi strips the chip's two status bytes from every packet.
    FT_STATUS Read(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD received) override
    {
        if (received)
            *received = 0;
        if (!buffer && count)
            return FT_INVALID_PARAMETER;
        return Call(handle, [&](FtHandle& h) {
            using clock = std::chrono::steady_clock;
            const auto deadline = clock::now() + std::chrono::milliseconds(h.readTimeoutMs);
            auto* out = static_cast<unsigned char*>(buffer);
            DWORD got = 0;
            while (got < count) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now())
                        .count();
                if (left <= 0)
                    break;
                h.ctx->usb_read_timeout = int(left);
                const int r = ftdi_read_data(h.ctx, out + got, int(count - got));
                if (r < 0) {
                    if (received)
                        *received = got;
                    return r;
                }
                got += DWORD(r);
            }
            if (received)
                *received = got;
            return 0;
        });
    }

    const char* LastErrorDetail() const override { return detail_.c_str(); }

private:
    // Calls fn(ctx, dev) for every attached adapter until it returns true.
    template <typename Fn> FT_STATUS Enumerate(Fn fn)
    {
        ftdi_context* ctx = ftdi_new();
        if (!ctx)
            return FT_INSUFFICIENT_RESOURCES;
        ftdi_device_list* list = nullptr;
        const int found = ftdi_usb_find_all(ctx, &list, 0, 0);
        for (ftdi_device_list* d = list; found > 0 && d; d = d->next)
            if (fn(ctx, d->dev))
                break;
        ftdi_list_free(&list);
        ftdi_free(ctx);
        return found < 0 ? FT_IO_ERROR : FT_OK;
    }

    static std::string DevicePath(libusb_device* dev)
    {
        char path[64];
        std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u",
                      unsigned(libusb_get_bus_number(dev)),
                      unsigned(libusb_get_device_address(dev)));
        return path;
    }

    static bool AccessDenied(libusb_device* dev)
    {
        const std::string path = DevicePath(dev);
        return ::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), R_OK | W_OK) != 0;
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

    // Runs a libftdi call on an open handle; a negative result is an I/O error (the adapter went
    // away or stopped answering).
    template <typename Fn> FT_STATUS Call(FT_HANDLE handle, Fn fn)
    {
        FtHandle* h = Find(handle);
        if (!h)
            return FT_INVALID_HANDLE;
        std::lock_guard lock(h->mutex);
        return fn(*h) < 0 ? FT_IO_ERROR : FT_OK;
    }

    std::mutex handlesMutex_;
    std::set<FtHandle*> handles_;
    std::string detail_;
};

} // namespace

IFtDriver& FtLibftdiDriver()
{
    static LibftdiDriver driver;
    return driver;
}
