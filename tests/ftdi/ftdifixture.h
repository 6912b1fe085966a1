#pragma once
// The FT_* functions over the real libftdi1, with the emulated FT232R of tests/ftdiemu loaded in
// place of libusb-1.0. The emulation is steered through the functions the stand-in exports.

#include "link/ftd2xx.h"
#include "tests/ftdiemu/ftdiemu.h"
#include "tools/regsim/regulator.h"

#include <gtest/gtest.h>

#include <atomic>

#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ftditest {

using Bytes = std::vector<uint8_t>;

template <typename F> F Sym(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}

struct Emulator {
    kxemu_reset_fn reset = Sym<kxemu_reset_fn>("kxemu_reset");
    kxemu_set_strings_fn setStrings = Sym<kxemu_set_strings_fn>("kxemu_set_strings");
    kxemu_set_port_fn setPort = Sym<kxemu_set_port_fn>("kxemu_set_port");
    kxemu_set_plugged_fn setPlugged = Sym<kxemu_set_plugged_fn>("kxemu_set_plugged");
    kxemu_set_access_denied_fn setDenied =
        Sym<kxemu_set_access_denied_fn>("kxemu_set_access_denied");
    kxemu_set_claimed_elsewhere_fn setClaimedElsewhere =
        Sym<kxemu_set_claimed_elsewhere_fn>("kxemu_set_claimed_elsewhere");
    kxemu_set_pacing_fn setPacing = Sym<kxemu_set_pacing_fn>("kxemu_set_pacing");
    kxemu_line_log_fn lineLog = Sym<kxemu_line_log_fn>("kxemu_line_log");
    kxemu_packets_fn packets = Sym<kxemu_packets_fn>("kxemu_packets");
    kxemu_latency_fn latency = Sym<kxemu_latency_fn>("kxemu_latency");
    kxemu_usage_fn usage = Sym<kxemu_usage_fn>("kxemu_usage");
    kxemu_wait_empty_packets_fn waitEmpty =
        Sym<kxemu_wait_empty_packets_fn>("kxemu_wait_empty_packets");
    kxemu_hold_in_fifo_fn holdInFifo = Sym<kxemu_hold_in_fifo_fn>("kxemu_hold_in_fifo");
    kxemu_fail_reads_fn failReads = Sym<kxemu_fail_reads_fn>("kxemu_fail_reads");

    bool Loaded() const
    {
        return reset && setStrings && setPort && setPlugged && setDenied && setClaimedElsewhere &&
               setPacing && lineLog && packets && latency && usage && waitEmpty && holdInFifo &&
               failReads;
    }
    std::vector<kxemu_line_byte> Line(int adapter = 0) const
    {
        std::vector<kxemu_line_byte> out(size_t(lineLog(adapter, nullptr, 0)));
        lineLog(adapter, out.data(), int(out.size()));
        return out;
    }
    unsigned Contexts() const
    {
        unsigned contexts = 0;
        int open = 0;
        usage(0, &contexts, &open);
        return contexts;
    }
    int OpenHandles(int adapter) const
    {
        unsigned contexts = 0;
        int open = 0;
        usage(adapter, &contexts, &open);
        return open;
    }
    unsigned DataPackets(int adapter = 0) const
    {
        unsigned all = 0, data = 0;
        packets(adapter, &all, &data);
        return data;
    }
    unsigned EmptyPackets(int adapter = 0) const
    {
        unsigned all = 0, data = 0;
        packets(adapter, &all, &data);
        return all - data;
    }
    // Waits until the chip has sent n more status-only packets: a read is waiting on it and the
    // line has had nothing more for it n latency times over.
    bool EmptyPacketsFollow(unsigned n, int adapter = 0) const
    {
        return waitEmpty(adapter, EmptyPackets(adapter) + n, 5000) != 0;
    }
};

// The far end of an adapter's serial side.
class Line {
public:
    Line()
    {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty: " << strerror(errno);
            return;
        }
        termios t;
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        path_ = name;
    }
    ~Line()
    {
        ::close(master_);
        ::close(slave_);
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    const std::string& Path() const { return path_; }
    int Master() const { return master_; }

    void Send(const Bytes& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += size_t(n);
            } else {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }
    // Waits until count bytes the far end sent are waiting at the adapter's side of the line (the
    // terminal hands them over in the kernel's own time, possibly in steps).
    bool Arrived(int count)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        int waiting = 0;
        while (::ioctl(slave_, FIONREAD, &waiting) == 0 && waiting < count &&
               std::chrono::steady_clock::now() < end) {
            pollfd p{slave_, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0)
                std::this_thread::yield();
        }
        return waiting >= count;
    }
    // What the adapter put on the line, waiting up to limitMs for count bytes.
    Bytes Receive(size_t count, int limitMs = 3000)
    {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (out.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, 10);
            uint8_t buf[256];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0)
                out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

private:
    int master_ = -1, slave_ = -1;
    std::string path_;
};

// The in-process regulator on the far end of the line, answering as bytes come.
class RegulatorOnLine {
public:
    explicit RegulatorOnLine(Line& line)
        : line_(line), regulator_(regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo"))
    {
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{line_.Master(), POLLIN, 0};
                ::poll(&p, 1, 10);
                uint8_t buf[256];
                const ssize_t n = ::read(line_.Master(), buf, sizeof buf);
                if (n > 0)
                    line_.Send(regulator_.Feed(buf, size_t(n)));
            }
        });
    }
    ~RegulatorOnLine() { Stop(); }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    // Read once the thread has stopped: the line alone orders its writes before these reads only
    // for the kernel, not for the language.
    const regsim::Regulator& Regulator()
    {
        Stop();
        return regulator_;
    }

private:
    Line& line_;
    regsim::Regulator regulator_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class FtdiChip : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!emu.Loaded())
            GTEST_FAIL() << "libusb-1.0 is not the emulated one; run with LD_LIBRARY_PATH="
                         << KX_FTDIEMU_DIR;
        emu.reset(1);
        emu.setPort(0, line.Path().c_str());
    }
    void TearDown() override
    {
        if (handle)
            FT_Close(handle);
    }

    // Opens adapter 0 and configures it as the USB link does.
    void OpenConfigured(ULONG readTimeoutMs = 1500)
    {
        ASSERT_EQ(FT_Open(0, &handle), FT_OK) << FT_LastErrorDetail();
        ASSERT_EQ(FT_ResetDevice(handle), FT_OK);
        ASSERT_EQ(FT_SetTimeouts(handle, readTimeoutMs, 1500), FT_OK);
        ASSERT_EQ(FT_SetBaudRate(handle, 600), FT_OK);
        ASSERT_EQ(FT_SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE),
                  FT_OK);
        ASSERT_EQ(FT_SetFlowControl(handle, FT_FLOW_NONE, 0x11, 0x13), FT_OK);
        ASSERT_EQ(FT_SetChars(handle, 0, 0, 0, 0), FT_OK);
    }

    FT_STATUS Write(const Bytes& bytes)
    {
        DWORD written = 0;
        const FT_STATUS st =
            FT_Write(handle, const_cast<uint8_t*>(bytes.data()), DWORD(bytes.size()), &written);
        EXPECT_TRUE(st != FT_OK || written == bytes.size());
        return st;
    }

    struct ReadResult {
        FT_STATUS status;
        Bytes bytes;
        long elapsedMs;
    };
    ReadResult Read(DWORD count)
    {
        Bytes buf(count + 16, 0xEE);
        DWORD got = 0xFFFF;
        const auto start = std::chrono::steady_clock::now();
        const FT_STATUS st = FT_Read(handle, buf.data(), count, &got);
        const long ms = long(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
        EXPECT_LE(got, count);
        for (size_t i = count; i < buf.size(); ++i)
            EXPECT_EQ(buf[i], 0xEE) << "FT_Read wrote past the count at " << i;
        buf.resize(std::min<DWORD>(got, count));
        return {st, buf, ms};
    }

    Emulator emu;
    Line line;
    FT_HANDLE handle = nullptr;
};

} // namespace ftditest
