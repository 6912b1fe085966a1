// The FT_* functions over the real libftdi1 against the emulated FT232R: listing, the status bytes
// of every packet, the read time-out, line settings reaching the chip, unplug and replug, and an
// adapter the user may not open.

#include "tests/ftdi/ftdifixture.h"

#include "diagnose/checks.h"
#include "i18n/msglangres.h"

#include <atomic>
#include <thread>

namespace ftditest {
namespace {

Bytes Pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(i * 7 + 1); // runs through every value, the status bytes' included
    return b;
}

// ---- listing ------------------------------------------------------------------------------------

struct ListingCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> adapters; // serial, description
};

void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.name; }

class Listing : public FtdiChip, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(Listing, CountsAndNamesEveryAdapter)
{
    const auto& adapters = GetParam().adapters;
    emu.reset(int(adapters.size()));
    for (size_t i = 0; i < adapters.size(); ++i)
        emu.setStrings(int(i), adapters[i].first.c_str(), adapters[i].second.c_str());

    DWORD count = 99;
    ASSERT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, adapters.size());
    for (size_t i = 0; i < adapters.size(); ++i) {
        for (const DWORD what : {FT_OPEN_BY_SERIAL_NUMBER, FT_OPEN_BY_DESCRIPTION}) {
            // The callers' buffer is 50 bytes; what follows it must stay untouched.
            char buf[kFtDeviceTextSize + 32];
            std::memset(buf, 0x5A, sizeof buf);
            ASSERT_EQ(
                FT_ListDevices(reinterpret_cast<PVOID>(uintptr_t(i)), buf, FT_LIST_BY_INDEX | what),
                FT_OK);
            const std::string& full =
                what == FT_OPEN_BY_SERIAL_NUMBER ? adapters[i].first : adapters[i].second;
            EXPECT_EQ(std::string(buf), full.substr(0, kFtDeviceTextSize - 1));
            for (size_t k = kFtDeviceTextSize; k < sizeof buf; ++k)
                ASSERT_EQ(buf[k], 0x5A) << "written past the 50-byte buffer at " << k;
        }
    }
    // Reading the strings opens each adapter for a moment; the listing keeps none of them open.
    for (size_t i = 0; i < adapters.size(); ++i)
        EXPECT_EQ(emu.OpenHandles(int(i)), 0) << "adapter " << i;
    char buf[kFtDeviceTextSize];
    EXPECT_EQ(FT_ListDevices(reinterpret_cast<PVOID>(uintptr_t(adapters.size())), buf,
                             FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_DEVICE_NOT_FOUND);
    if (adapters.empty()) {
        EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_FOUND);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Adapters, Listing,
    ::testing::Values(
        ListingCase{"None", {}}, ListingCase{"One", {{"A9K2M7QX", "FT232R USB UART"}}},
        ListingCase{"Two", {{"A9K2M7QX", "FT232R USB UART"}, {"FT4XZ01", "USB <-> Serial"}}},
        // The chip holds 64 characters of description; the caller's buffer takes 49 and a zero.
        ListingCase{"LongerThanTheBuffer",
                    {{std::string(60, 'S'), "Regulator programming cable, made for the workshop "
                                            "bench, rev. 2 "}}}),
    [](const auto& info) { return std::string(info.param.name); });

// With USB as the link mode and no adapter plugged in, every connection attempt lists the adapters
// and tries to open the first: that must not start libusb afresh each time.
TEST_F(FtdiChip, AttemptsWithoutAnAdapterDoNotStartLibusbEachTime)
{
    emu.reset(0);
    const unsigned before = emu.Contexts();
    for (int attempt = 0; attempt < 20; ++attempt) {
        DWORD count = 99;
        ASSERT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        ASSERT_EQ(count, 0u);
        ASSERT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_FOUND);
    }
    EXPECT_LE(emu.Contexts() - before, 1u);
}

// ---- reading ------------------------------------------------------------------------------------

TEST_F(FtdiChip, AReplyOverManyPacketsArrivesWithoutStatusBytes)
{
    OpenConfigured();
    const Bytes reply = Pattern(700); // more than eleven full packets of 62 data bytes
    const unsigned before = emu.DataPackets();
    line.Send(reply);
    ReadResult r = Read(511);
    EXPECT_EQ(r.status, FT_OK);
    ReadResult rest = Read(189);
    EXPECT_EQ(rest.status, FT_OK);
    r.bytes.insert(r.bytes.end(), rest.bytes.begin(), rest.bytes.end());
    EXPECT_EQ(r.bytes, reply);
    EXPECT_GE(emu.DataPackets() - before, 12u);
}

TEST_F(FtdiChip, AReadWaitsForTheRestOfAReplyThatComesInPieces)
{
    OpenConfigured();
    const Bytes reply = Pattern(90);
    const unsigned before = emu.DataPackets();
    // Each piece once the read waits and the chip has twice found nothing more on the line (the
    // second time surely after the piece before was written), so each comes in its own packets
    // with status-only packets between them.
    std::atomic<bool> paced{true};
    std::thread sender([&] {
        for (size_t at = 0; at < reply.size(); at += 9) {
            paced = paced && emu.EmptyPacketsFollow(2);
            line.Send(Bytes(reply.begin() + long(at), reply.begin() + long(at + 9)));
        }
    });
    const ReadResult r = Read(DWORD(reply.size()));
    sender.join();
    EXPECT_TRUE(paced);
    EXPECT_EQ(r.status, FT_OK);
    EXPECT_EQ(r.bytes, reply);
    EXPECT_GE(emu.DataPackets() - before, 10u);
}

TEST_F(FtdiChip, AReadThatTimesOutReturnsWhatArrivedAfterTheWholeTimeOut)
{
    OpenConfigured(300);
    line.Send({0xFE, 0x03, 0x10});
    const ReadResult r = Read(511);
    EXPECT_EQ(r.status, FT_OK);
    EXPECT_EQ(r.bytes, (Bytes{0xFE, 0x03, 0x10}));
    EXPECT_GE(r.elapsedMs, 300);

    const ReadResult silent = Read(1);
    EXPECT_EQ(silent.status, FT_OK);
    EXPECT_TRUE(silent.bytes.empty());
    EXPECT_GE(silent.elapsedMs, 300);
}

TEST_F(FtdiChip, BytesBeyondTheCountWaitForTheNextRead)
{
    // A time-out no read here may wait out: the second read's bytes are there when asked for.
    constexpr ULONG kTimeOutMs = 20000;
    OpenConfigured(kTimeOutMs);
    const Bytes sent = Pattern(10);
    line.Send(sent);
    const ReadResult first = Read(4);
    EXPECT_EQ(first.bytes, Bytes(sent.begin(), sent.begin() + 4));
    DWORD queued = 0;
    EXPECT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);
    EXPECT_EQ(queued, 6u);
    const ReadResult second = Read(6);
    EXPECT_EQ(second.bytes, Bytes(sent.begin() + 4, sent.end()));
    EXPECT_LT(second.elapsedMs, long(kTimeOutMs));
}

TEST_F(FtdiChip, TheLatencyTimerIsShortened)
{
    OpenConfigured();
    EXPECT_LE(emu.latency(0), 2);
}

// ---- writing and line settings ------------------------------------------------------------------

TEST_F(FtdiChip, StopBitsSwitchAroundTheWakeUpPatternReachTheChip)
{
    OpenConfigured();
    const Bytes wake(10, 0x55), read{0xFC, 0x01, 0x02};
    ASSERT_EQ(Write(wake), FT_OK);
    ASSERT_EQ(FT_SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE), FT_OK);
    ASSERT_EQ(Write(read), FT_OK);

    Bytes sent = wake;
    sent.insert(sent.end(), read.begin(), read.end());
    EXPECT_EQ(line.Receive(sent.size()), sent);
    const auto log = emu.Line();
    ASSERT_EQ(log.size(), sent.size());
    for (size_t i = 0; i < log.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(log[i].value, sent[i]);
        EXPECT_EQ(log[i].baud, 600u);
        EXPECT_EQ(log[i].dataBits, 8);
        EXPECT_EQ(log[i].parity, 0);
        EXPECT_EQ(log[i].stopBits, i < wake.size() ? 0 : 2);
    }
}

TEST_F(FtdiChip, AWriteThatRunsOutOfTimeReportsTheCountThatWentOut)
{
    emu.setPacing(1);
    OpenConfigured();
    ASSERT_EQ(FT_SetBaudRate(handle, 9600), FT_OK);
    ASSERT_EQ(FT_SetTimeouts(handle, 1500, 100), FT_OK);
    // 400 bytes need about 0.4 s at 9600 baud; the chip buffers 128 of them.
    const Bytes data = Pattern(400);
    DWORD written = 0;
    EXPECT_EQ(FT_Write(handle, const_cast<uint8_t*>(data.data()), DWORD(data.size()), &written),
              FT_OK);
    EXPECT_GE(written, 128u);
    EXPECT_LT(written, data.size());
    EXPECT_EQ(line.Receive(data.size(), 2000), Bytes(data.begin(), data.begin() + written));
}

struct LineCase {
    const char* name;
    ULONG baud;
    UCHAR bits, stop, parity;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class LineSettings : public FtdiChip, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineSettings, ReachTheChip)
{
    const LineCase& c = GetParam();
    OpenConfigured();
    ASSERT_EQ(FT_SetBaudRate(handle, c.baud), FT_OK);
    ASSERT_EQ(FT_SetDataCharacteristics(handle, c.bits, c.stop, c.parity), FT_OK);
    ASSERT_EQ(Write({0x42}), FT_OK);
    const auto log = emu.Line();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NEAR(double(log[0].baud), double(c.baud), c.baud * 0.03);
    EXPECT_EQ(log[0].dataBits, c.bits);
    EXPECT_EQ(log[0].stopBits, c.stop);
    EXPECT_EQ(log[0].parity, c.parity);
}

INSTANTIATE_TEST_SUITE_P(Table, LineSettings,
                         ::testing::Values(LineCase{"Regulator", 600, 8, 0, 0},
                                           LineCase{"TwoStopBits", 600, 8, 2, 0},
                                           LineCase{"Fast", 115200, 8, 0, 0},
                                           LineCase{"SevenEven", 9600, 7, 0, 2},
                                           LineCase{"OddTwoStop", 1200, 8, 2, 1},
                                           LineCase{"FractionalDivisor", 38400, 8, 0, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FtdiChip, UnusableSettingsAreRefused)
{
    OpenConfigured();
    EXPECT_EQ(FT_SetBaudRate(handle, 0), FT_INVALID_BAUD_RATE);
    EXPECT_EQ(FT_SetBaudRate(handle, 50'000'000), FT_INVALID_BAUD_RATE);
    EXPECT_EQ(FT_SetDataCharacteristics(handle, 9, FT_STOP_BITS_1, FT_PARITY_NONE),
              FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetFlowControl(handle, 0x0800, 0x11, 0x13), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_GetQueueStatus(reinterpret_cast<FT_HANDLE>(0x1234), nullptr),
              FT_INVALID_PARAMETER);
    DWORD queued = 0;
    EXPECT_EQ(FT_GetQueueStatus(reinterpret_cast<FT_HANDLE>(0x1234), &queued), FT_INVALID_HANDLE);
}

// ---- unplug, replug, permission -----------------------------------------------------------------

TEST_F(FtdiChip, UnplugFailsTheQueueStatusAndReplugOpensAgain)
{
    OpenConfigured();
    DWORD queued = 0;
    ASSERT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);

    emu.setPlugged(0, 0);
    EXPECT_NE(FT_GetQueueStatus(handle, &queued), FT_OK);
    EXPECT_NE(Write({0x55}), FT_OK);
    const ReadResult r = Read(511);
    EXPECT_NE(r.status, FT_OK);
    EXPECT_LT(r.elapsedMs, 1500); // failed at once, without waiting out the time-out
    DWORD count = 99;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 0u);
    FT_Close(handle);
    handle = nullptr;
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_FOUND);

    emu.setPlugged(0, 1);
    OpenConfigured();
    EXPECT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);
    line.Send({0xFA});
    EXPECT_EQ(Read(1).bytes, Bytes{0xFA});
}

// The program resets the adapter right after opening it; what the regulator said before must not
// pass for the answer to what the program sends next.
TEST_F(FtdiChip, AResetDropsWhatTheLineSentBefore)
{
    OpenConfigured(300);
    line.Send({0xFE, 0x0F, 0x07});
    ASSERT_TRUE(line.Arrived(3));
    ASSERT_EQ(FT_ResetDevice(handle), FT_OK);
    line.Send({0xFA});
    EXPECT_EQ(Read(4).bytes, Bytes{0xFA});
}

// An unplugged adapter has no power: what was on its way into the chip and what the line sent
// meanwhile are lost; opening the adapter again resets it.
TEST_F(FtdiChip, BytesSentWhileTheAdapterWasAwayAreLost)
{
    OpenConfigured(300);
    line.Send({0xFE, 0x0F});
    ASSERT_TRUE(line.Arrived(2));
    emu.setPlugged(0, 0);
    line.Send({0x07});
    ASSERT_TRUE(line.Arrived(1));
    emu.setPlugged(0, 1);
    FT_Close(handle);
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    ASSERT_EQ(FT_SetTimeouts(handle, 300, 300), FT_OK);
    line.Send({0xFA});
    EXPECT_EQ(Read(4).bytes, Bytes{0xFA});
}

TEST_F(FtdiChip, UnplugEndsAWaitingRead)
{
    // A read time-out far beyond any delay of the threads: a read that ends before it was ended
    // by the unplug.
    constexpr ULONG kTimeOutMs = 20000;
    OpenConfigured(kTimeOutMs);
    std::atomic<bool> waiting{false};
    std::thread unplug([&] {
        waiting = emu.EmptyPacketsFollow(1);
        emu.setPlugged(0, 0);
    });
    const ReadResult r = Read(511);
    unplug.join();
    EXPECT_TRUE(waiting);
    EXPECT_EQ(r.status, FT_IO_ERROR);
    EXPECT_LT(r.elapsedMs, long(kTimeOutMs));
}

// An adapter that is listed but cannot be opened says which of the kinds the user can act on.
TEST_F(FtdiChip, AnAdapterThatCannotBeOpenedSaysWhy)
{
    struct Case {
        const char* name;
        void (*refuse)(Emulator&, int on);
        FtOpenFailure kind;
        const char* detail;
        // What the connection check's listing says of the adapter; a claim shows only when the
        // link is opened, which the check's listing does not do.
        TVerdict listed;
    };
    const Case cases[] = {
        {"not allowed", [](Emulator& e, int on) { e.setDenied(0, on); }, FtOpenFailure::Denied,
         "permission denied on /dev/bus/usb/001/", TVerdict::Problem},
        {"claimed by another program", [](Emulator& e, int on) { e.setClaimedElsewhere(0, on); },
         FtOpenFailure::Busy, " is in use by another program or driver", TVerdict::Fine},
    };
    const TsmlMsgLangRes messages;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.refuse(emu, 1);
        DWORD count = 0;
        ASSERT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        EXPECT_EQ(count, 1u); // listed, as the bus shows it to everybody
        EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_OPENED);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(FT_LastOpenFailure(), c.kind);
        EXPECT_EQ(FT_LastOpenDenied(), c.kind == FtOpenFailure::Denied);
        EXPECT_NE(std::string(FT_LastErrorDetail()).find(c.detail), std::string::npos)
            << FT_LastErrorDetail();
        const QList<TFinding> findings = CheckMachine(TMachine(), {true, {}, {}, true}, messages);
        const auto access = std::find_if(findings.begin(), findings.end(),
                                         [](const TFinding& f) { return f.id == "usb-access"; });
        ASSERT_NE(access, findings.end());
        EXPECT_EQ(access->verdict, c.listed) << access->seen.toStdString();
        EXPECT_EQ(access->seen.contains(QString::fromLatin1(c.detail)),
                  c.listed == TVerdict::Problem);

        c.refuse(emu, 0);
        OpenConfigured();
        // A later failure of another kind does not keep the old reason. (Into a handle of its
        // own: the open one is still to be closed.)
        FT_HANDLE missing = nullptr;
        EXPECT_EQ(FT_Open(5, &missing), FT_DEVICE_NOT_FOUND);
        EXPECT_EQ(FT_LastOpenFailure(), FtOpenFailure::None);
        FT_Close(handle);
        handle = nullptr;
    }
}

// ---- the regulator simulator behind the chip ----------------------------------------------------

TEST_F(FtdiChip, TheSimulatorAnswersAWakeUpAndAReadOverTheChip)
{
    OpenConfigured();
    RegulatorOnLine regulator(line);
    const auto frame = [&](const Bytes& request, uint8_t stopBits) {
        EXPECT_EQ(FT_SetDataCharacteristics(handle, FT_BITS_8, stopBits, FT_PARITY_NONE), FT_OK);
        EXPECT_EQ(Write(request), FT_OK);
        // A data frame: FE, length, payload, check byte.
        const ReadResult head = Read(2);
        EXPECT_EQ(head.status, FT_OK);
        if (head.bytes.size() != 2 || head.bytes[0] != 0xFE)
            return Bytes{};
        const ReadResult body = Read(head.bytes[1] + 1u);
        Bytes all = head.bytes;
        all.insert(all.end(), body.bytes.begin(), body.bytes.end());
        return all;
    };
    const Bytes identification = frame(Bytes(10, 0x55), FT_STOP_BITS_1);
    const Bytes reply = frame({0xFC, 0x01, 0x02}, FT_STOP_BITS_2);

    const regsim::Regulator& r = regulator.Regulator();
    const Bytes expectedId = r.IdentificationPayload();
    const Bytes expectedRead = r.ReadPayload();
    ASSERT_EQ(identification.size(), expectedId.size() + 3);
    EXPECT_EQ(Bytes(identification.begin() + 2, identification.end() - 1), expectedId);
    EXPECT_EQ(identification.back(),
              regsim::CheckByte(identification.data(), identification.size() - 1));
    ASSERT_EQ(reply.size(), expectedRead.size() + 3);
    EXPECT_EQ(Bytes(reply.begin() + 2, reply.end() - 1), expectedRead);
    EXPECT_EQ(r.Count(regsim::Message::WakeUp), 1);
    EXPECT_EQ(r.Count(regsim::Message::Read), 1);
}

} // namespace
} // namespace ftditest
