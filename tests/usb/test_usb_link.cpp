// D2XXUnit and the USB link against simulated adapters: the ready check's calls, listing, opening,
// unplugging, the error box, and receives that end with the reply.

#include "protocol/replyend.h"
#include "tests/support/usbfixture.h"

#include <gtest/gtest.h>

using Calls = std::vector<std::string>;

namespace {

// The link alone, with the fixture's adapters and virtual time.
struct TLinkFixture : TUsbFixture {
    using TUsbFixture::TUsbFixture;
    // Runs one receive to its end and returns what it brought.
    UsbReadResult Receive(int count, UsbReplyNeed need)
    {
        UsbReadResult got;
        bool done = false;
        link->UsbReadAsync(count, std::move(need), [&](const UsbReadResult& r) {
            got = r;
            done = true;
        });
        clock.AdvanceUntil([&] { return done; }, 5000);
        EXPECT_TRUE(done);
        return got;
    }
    Calls TakeCalls()
    {
        Calls c;
        c.swap(log.calls);
        return c;
    }
};

const Calls kOpening = {"Close",
                        "Open(0)",
                        "ResetDevice",
                        "SetTimeouts(1500,1500)",
                        "SetBaudRate(600)",
                        "SetDataCharacteristics(8,0,0)",
                        "SetFlowControl(0,17,19)",
                        "SetChars(0,0,0,0)"};

Calls Listing(int adapters)
{
    Calls c{"ListDevices(count)"};
    for (int i = 0; i < adapters; ++i) {
        c.push_back("ListDevices(" + std::to_string(i) + ",serial)");
        c.push_back("ListDevices(" + std::to_string(i) + ",description)");
    }
    return c;
}

Calls Concat(Calls a, const Calls& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(D2XXUnit, ErrorBoxTextsAndSwitch)
{
    struct Case {
        FT_STATUS status;
        const char* text; // nullptr: no box
    } const cases[] = {
        {FT_OK, nullptr},
        {1, "FT_Open - Invalid Handle..."},
        {2, "FT_Open - Device Not Found...."},
        {3, "FT_Open - Device Not Opened..."},
        {4, "FT_Open - General IO Error..."},
        {5, "FT_Open - Insufficient Resources..."},
        {6, "FT_Open - Invalid Parameter ..."},
        {7, "FT_Open - status 7"},
        {18, "FT_Open - status 18"},
    };
    for (const Case& c : cases) {
        TRecordingFtBox box;
        D2XXUnit unit(&box);
        unit.ReportFtStatus("FT_Open", c.status);
        unit.errorBoxSwitch = false;
        unit.ReportFtStatus("FT_Open", c.status);
        if (c.text)
            EXPECT_EQ(box.texts, QStringList{c.text}) << c.status;
        else
            EXPECT_TRUE(box.texts.isEmpty()) << c.status;
    }

    // Each wrapper names its own call in the box: here on an adapter that is gone.
    TLinkFixture fx(0);
    const struct {
        std::function<void(D2XXUnit&)> call;
        const char* text;
    } calls[] = {
        {[](D2XXUnit& u) { u.UsbClose(); }, "FT_Close - Invalid Handle..."},
        {[](D2XXUnit& u) { u.UsbReset(); }, "FT_ResetDevice - General IO Error..."},
        {[](D2XXUnit& u) { u.UsbSetBaudRate(); }, "FT_SetBaudRate - General IO Error..."},
        {[](D2XXUnit& u) { u.UsbGetQueueStatus(); }, "FT_GetQueueStatus - General IO Error..."},
        {[](D2XXUnit& u) { u.UsbPurgeReceive(); }, "FT_Purge - General IO Error..."},
        {[](D2XXUnit& u) { u.UsbRead(1); }, "FT_Read - General IO Error..."},
    };
    for (const auto& c : calls) {
        TRecordingFtBox box;
        D2XXUnit unit(&box);
        unit.handle = reinterpret_cast<FT_HANDLE>(0x77);
        c.call(unit);
        EXPECT_EQ(box.texts, QStringList{c.text});
    }
}

TEST(D2XXUnit, DeviceTextsAreCutAt49CharactersAndAFailedListingKeepsThePreviousText)
{
    TLinkFixture fx(0);
    const std::string longText(70, 'D');
    fx.adapters.AddAdapter("SER1", longText, nullptr);
    D2XXUnit unit;
    EXPECT_EQ(unit.GetFTDeviceDescription(0), FT_OK);
    EXPECT_EQ(unit.deviceText, QString(49, 'D'));
    EXPECT_EQ(unit.GetFTDeviceSerialNo(0), FT_OK);
    EXPECT_EQ(unit.deviceText, "SER1");
    EXPECT_EQ(unit.GetFTDeviceSerialNo(5), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(unit.deviceText, "SER1");

    // Only the first check can show a box: the switch goes off with it.
    EXPECT_EQ(unit.GetFTDeviceCount(), FT_OK);
    EXPECT_EQ(unit.deviceCount, 1u);
}

TEST(UsbLink, ReadyCheckOpensInTheFixedOrderThenOnlyAsksForTheQueue)
{
    TLinkFixture fx(1);
    EXPECT_TRUE(fx.link->UsbReadyCheck());
    EXPECT_EQ(fx.TakeCalls(), Concat(Listing(1), kOpening));
    EXPECT_TRUE(fx.link->UsbReadyCheck());
    EXPECT_EQ(fx.TakeCalls(), Calls{"GetQueueStatus"});
    const TUsbDeviceEntry& e = fx.link->DeviceTable()[0];
    EXPECT_EQ(e.label, "DEVICE 1");
    EXPECT_EQ(e.serialNo, "KX000001");
    EXPECT_EQ(e.description, "Simulated FT232R 1");
    EXPECT_TRUE(fx.ftBox.texts.isEmpty());
}

TEST(UsbLink, NoAdapterFailsSilentlyOnEveryCheck)
{
    TLinkFixture fx(0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(fx.link->UsbReadyCheck());
        EXPECT_EQ(fx.TakeCalls(), Concat(Listing(0), {"Close", "Open(0)"}));
    }
    EXPECT_EQ(fx.link->DeviceCount(), 0);
    EXPECT_TRUE(fx.ftBox.texts.isEmpty());
}

TEST(UsbLink, UnplugFailsOneCheckAndTheCheckAfterTheReplugReopens)
{
    TLinkFixture fx(1);
    TFakeDeviceList dialog;
    fx.link->SetDeviceList(&dialog);
    ASSERT_TRUE(fx.link->UsbReadyCheck());
    fx.adapters.Unplug(0);
    dialog.active = true;
    dialog.rows = {"DEVICE 1|KX000001|Simulated FT232R 1"};
    fx.TakeCalls();
    EXPECT_FALSE(fx.link->UsbReadyCheck());
    EXPECT_EQ(fx.TakeCalls(), Concat({"GetQueueStatus"}, Concat(Listing(0), {"Close", "Open(0)"})))
        << "the dead handle is given up and the adapter looked for at once";
    EXPECT_TRUE(dialog.rows.isEmpty());
    EXPECT_EQ(dialog.clears, 1);
    dialog.active = false;
    EXPECT_FALSE(fx.link->UsbReadyCheck());
    fx.adapters.Plug(0);
    fx.TakeCalls();
    EXPECT_TRUE(fx.link->UsbReadyCheck());
    EXPECT_EQ(fx.TakeCalls(), Concat(Listing(1), kOpening));
    // Unplugged and plugged in again between two checks: the check that finds the handle dead
    // opens the adapter anew, so the request it stands before goes out.
    fx.adapters.Unplug(0);
    fx.adapters.Plug(0);
    EXPECT_TRUE(fx.link->UsbReadyCheck());
    EXPECT_EQ(fx.TakeCalls(), Concat({"GetQueueStatus"}, Concat(Listing(1), kOpening)));
    EXPECT_TRUE(fx.ftBox.texts.isEmpty());
}

TEST(UsbLink, AllAdaptersAreListedTheTableKeepsTenTheFirstIsOpened)
{
    TLinkFixture fx(12);
    TFakeDeviceList dialog;
    fx.link->SetDeviceList(&dialog);
    dialog.active = true;
    fx.adapters.SetPermissionDenied(0, true); // stays closed, so the next check lists again
    EXPECT_FALSE(fx.link->UsbReadyCheck());
    ASSERT_EQ(dialog.rows.size(), 12);
    EXPECT_EQ(dialog.rows[11], "DEVICE 12|KX0000012|Simulated FT232R 12");
    EXPECT_TRUE(fx.link->DeviceTable()[0].label.isEmpty()) << "rows went to the dialog only";

    dialog.active = false;
    fx.adapters.SetPermissionDenied(0, false);
    EXPECT_TRUE(fx.link->UsbReadyCheck());
    EXPECT_EQ(fx.link->DeviceCount(), 12);
    EXPECT_EQ(fx.link->DeviceTable()[1].serialNo, "KX000002");
    EXPECT_EQ(fx.link->DeviceTable()[9].label, "DEVICE 10");
    fx.link->UsbSend("AB");
    EXPECT_EQ(fx.adapters.Sent(0).size(), 2u);
    EXPECT_TRUE(fx.adapters.Sent(1).empty());
}

// The reason stands while it lasts, is told once per change, and ends when the adapter opens or
// is no longer there.
TEST(UsbLink, OpenProblemIsToldOnEveryChangeUntilTheAdapterOpens)
{
    TLinkFixture fx(1);
    std::vector<TUsbOpenProblem> told;
    fx.link->onOpenProblem = [&](const TUsbOpenProblem& p) { told.push_back(p); };
    const TUsbOpenProblem denied{FtOpenFailure::Denied,
                                 "permission denied on /dev/bus/usb/001/002"};
    const TUsbOpenProblem none;

    fx.adapters.SetPermissionDenied(0, true);
    EXPECT_FALSE(fx.link->UsbReadyCheck());
    EXPECT_FALSE(fx.link->UsbReadyCheck());
    EXPECT_EQ(told, std::vector{denied});
    EXPECT_EQ(fx.link->OpenProblem(), denied) << "still so after the second check";

    fx.adapters.Unplug(0);
    EXPECT_FALSE(fx.link->UsbReadyCheck());
    EXPECT_EQ(told.back(), none) << "no adapter is no problem of access";
    fx.adapters.Plug(0);
    EXPECT_FALSE(fx.link->UsbReadyCheck());
    EXPECT_EQ(told.back(), denied);

    fx.adapters.SetPermissionDenied(0, false);
    FT_HANDLE other = nullptr; // another program holds the adapter
    ASSERT_EQ(fx.adapters.Open(0, &other), FT_OK);
    EXPECT_FALSE(fx.link->UsbReadyCheck());
    EXPECT_EQ(told.back().kind, FtOpenFailure::Busy);

    fx.adapters.Close(other);
    EXPECT_TRUE(fx.link->UsbReadyCheck());
    EXPECT_EQ(told.back(), none);
    EXPECT_EQ(told.size(), 5u);
    EXPECT_TRUE(fx.ftBox.texts.isEmpty());
}

TEST(UsbLink, EmptySendWritesNothing)
{
    TLinkFixture fx(1);
    ASSERT_TRUE(fx.link->UsbReadyCheck());
    fx.TakeCalls();
    fx.link->UsbSend(QByteArray());
    EXPECT_TRUE(fx.TakeCalls().empty());
    fx.link->UsbSend("UU");
    EXPECT_EQ(fx.TakeCalls(), Calls{"Write(2)"});
}

TEST(UsbLink, ReceiveEndsWithTheReplyEvenWhenItComesInPieces)
{
    TLinkFixture fx(1);
    ASSERT_TRUE(fx.link->UsbReadyCheck());
    fx.adapters.SetReplyPieces(5, 40);
    fx.link->UsbSend(QByteArray(10, 'U'));
    const UsbReadResult r =
        fx.Receive(511, [](const QByteArray& b) { return ReplyBytesNeeded(b, {}); });
    const QByteArray expected = [&] {
        const regsim::Bytes p = fx.sim.IdentificationPayload();
        QByteArray f;
        f.append(char(0xFE)).append(char(p.size()));
        f.append(reinterpret_cast<const char*>(p.data()), p.size());
        f.append(
            char(regsim::CheckByte(reinterpret_cast<const uint8_t*>(f.constData()), f.size())));
        return f;
    }();
    EXPECT_EQ(r.bytes.toHex(), expected.toHex());
    const int pieces = int((expected.size() + 4) / 5);
    EXPECT_EQ(fx.runner.lastTookMs, (pieces - 1) * 40) << "ended with the last piece";
    EXPECT_GT(fx.adapters.ReadCalls(), 2);
}

TEST(UsbLink, SilenceEndsTheReceiveAfter1500ms)
{
    for (bool earlyEnd : {true, false}) {
        TLinkFixture fx(1, earlyEnd);
        fx.sim.faults().silent = true;
        ASSERT_TRUE(fx.link->UsbReadyCheck());
        fx.link->UsbSend(QByteArray(10, 'U'));
        const UsbReadResult r =
            fx.Receive(511, [](const QByteArray& b) { return ReplyBytesNeeded(b, {}); });
        EXPECT_TRUE(r.bytes.isEmpty());
        EXPECT_FALSE(r.failed) << "a time-out is no error";
        EXPECT_EQ(fx.runner.lastTookMs, 1500) << earlyEnd;
    }
}

TEST(UsbLink, AReceiveKeepsTheReadyCheckOffTheAdapterAndACloseDuringItLeavesNoTrace)
{
    TLinkFixture fx(1);
    const auto need = [](const QByteArray& b) { return ReplyBytesNeeded(b, {}); };
    ASSERT_TRUE(fx.link->UsbReadyCheck());
    fx.link->UsbSend(QByteArray(10, 'U'));
    bool dropped = false;
    fx.link->UsbReadAsync(511, need, [&](const UsbReadResult&) { dropped = true; });
    fx.TakeCalls();
    EXPECT_TRUE(fx.link->UsbReadyCheck());
    EXPECT_EQ(fx.TakeCalls(), Calls{}) << "the receive has the adapter to itself";

    fx.link->UsbClose();
    EXPECT_EQ(fx.TakeCalls(), Calls{"Close"});
    fx.clock.Advance(2000);
    EXPECT_FALSE(dropped);
    ASSERT_TRUE(fx.link->UsbReadyCheck());
    EXPECT_EQ(fx.TakeCalls(), Concat(Listing(1), kOpening));
    fx.link->UsbSend(QByteArray(10, 'U'));
    const UsbReadResult r = fx.Receive(511, need);
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(r.bytes.size(), int(fx.sim.IdentificationPayload().size()) + 3);
}

// A read the adapter fails ends the receive at once, marked as failed, with what came before.
TEST(UsbLink, AFailedReadEndsTheReceive)
{
    for (bool earlyEnd : {true, false}) {
        TLinkFixture fx(1, earlyEnd);
        ASSERT_TRUE(fx.link->UsbReadyCheck());
        fx.adapters.FailReads(0, 1);
        const UsbReadResult r =
            fx.Receive(511, [](const QByteArray& b) { return ReplyBytesNeeded(b, {}); });
        EXPECT_TRUE(r.failed) << earlyEnd;
        EXPECT_EQ(fx.runner.lastTookMs, 0) << earlyEnd;
    }
}

TEST(UsbLink, ReplyLongerThan511BytesComesInSuccessiveReceives)
{
    TLinkFixture fx(1);
    fx.sim.faults().garbage = regsim::Bytes(600, 0x00);
    ASSERT_TRUE(fx.link->UsbReadyCheck());
    fx.link->UsbSend(QByteArray::fromHex("FC0103"));
    const auto need = [](const QByteArray& b) { return ReplyBytesNeeded(b, {true, false}); };
    const UsbReadResult first = fx.Receive(511, need);
    EXPECT_EQ(first.bytes, QByteArray(511, '\0'));
    const UsbReadResult second = fx.Receive(511, need);
    EXPECT_EQ(second.bytes, QByteArray(89, '\0') + QByteArray::fromHex("FA"));
    EXPECT_EQ(fx.runner.lastTookMs, 0) << "the FA was already there: no waiting";
}

TEST(ReplyEnd, BytesStillNeeded)
{
    struct Case {
        const char* hex;
        ReplyExpectation expect;
        int need;
    } const cases[] = {
        {"", {}, 1},
        {"FE", {}, 1},
        {"FE03", {}, 4},
        {"FE030102", {}, 2},
        {"FE030102030D", {}, 0}, // a wrong check byte ends it as well: the parser drops it
        {"00FE00", {}, 1},
        {"00FE00FE", {}, 0},
        {"FA", {}, 1},
        {"FA", {true, false}, 0},
        {"FB", {false, true}, 0},
        {"00FC", {false, true}, 0},
        {"FE02FA", {true, false}, 2}, // FA inside a frame is payload
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReplyBytesNeeded(QByteArray::fromHex(c.hex), c.expect), c.need) << c.hex;
}
