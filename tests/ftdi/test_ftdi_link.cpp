// The USB link (TUsbLink with its worker thread) over the real libftdi1 and the emulated FT232R:
// the line settings after a replug, bytes left in the chip at a discard, a read the driver fails,
// and a close while a receive waits.

#include "link/usblink.h"
#include "tests/ftdi/ftdifixture.h"
#include "tests/support/pump.h"

#include <optional>

namespace ftditest {
namespace {

struct NoBox final : IFtErrorBox {
    void ShowFtError(const QString&) override {}
};

// How many bytes a data frame (FE, length, payload, check byte) still lacks; a lone FA or anything
// else after the first byte ends the read.
int FrameNeed(const QByteArray& b)
{
    if (b.isEmpty())
        return 1;
    if (uint8_t(b[0]) != 0xFE)
        return 0;
    if (b.size() < 2)
        return 1;
    return std::max<int>(0, uint8_t(b[1]) + 3 - int(b.size()));
}

QByteArray Q(const Bytes& b)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()), b.size());
}

class FtdiLink : public FtdiChip {
protected:
    NoBox box;
    TUsbLink link{&box};

    // Starts a receive; its result lands in the returned slot once handed back.
    std::shared_ptr<std::optional<UsbReadResult>> Start(int count = kUsbReadCount)
    {
        auto slot = std::make_shared<std::optional<UsbReadResult>>();
        link.UsbReadAsync(count, FrameNeed, [slot](const UsbReadResult& r) { *slot = r; });
        return slot;
    }
    UsbReadResult Receive()
    {
        const auto slot = Start();
        EXPECT_TRUE(PumpUntil([&] { return slot->has_value(); }));
        return slot->value_or(UsbReadResult{{}, true});
    }
    // The stop bits of every byte on the line from the index on (the chip's encoding).
    std::vector<int> StopBitsFrom(size_t first) const
    {
        std::vector<int> out;
        const auto log = emu.Line();
        for (size_t i = first; i < log.size(); ++i)
            out.push_back(log[i].stopBits);
        return out;
    }

    static constexpr int kUsbReadCount = 511;
};

// The protocol chose two stop bits after the wake-up; an unplug and replug while idle must not
// bring the next presence query and read out with one.
TEST_F(FtdiLink, AReplugKeepsTheStopBitsTheProtocolChose)
{
    ASSERT_TRUE(link.UsbReadyCheck());
    link.UsbSend(QByteArray(10, 0x55));
    link.UsbSetDataCharacteristics(FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE);
    link.UsbSend(QByteArray::fromHex("FC0103"));
    EXPECT_EQ(StopBitsFrom(0), std::vector<int>({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2}));

    emu.setPlugged(0, 0);
    emu.setPlugged(0, 1);
    ASSERT_TRUE(link.UsbReadyCheck()) << "the old handle is dead: opened again at once";
    const size_t afterReplug = emu.Line().size();
    link.UsbSend(QByteArray::fromHex("FC0103")); // presence query
    link.UsbSend(QByteArray::fromHex("FC0102")); // read
    EXPECT_EQ(StopBitsFrom(afterReplug), std::vector<int>(6, 2));
}

TEST_F(FtdiLink, ADiscardDropsWhatIsStillInTheChip)
{
    ASSERT_TRUE(link.UsbReadyCheck());
    const Bytes stale = {0xFE, 0x30, 0x07}; // the head of a frame cut short
    emu.holdInFifo(0, stale.data(), int(stale.size()));
    link.UsbDiscardInput();
    line.Send({0xFA});
    const UsbReadResult r = Receive();
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(r.bytes.toHex(), "fa");
}

TEST_F(FtdiLink, AFailedReadIsReportedAndTheNextOneWorks)
{
    ASSERT_TRUE(link.UsbReadyCheck());
    emu.failReads(0, 1);
    EXPECT_TRUE(Receive().failed);
    line.Send({0xFA});
    const UsbReadResult next = Receive();
    EXPECT_FALSE(next.failed);
    EXPECT_EQ(next.bytes.toHex(), "fa");
}

// Closing drops the receive that waits; the link must then open again and read whole replies.
TEST_F(FtdiLink, CloseDuringAReceiveThenReopenAndAFullRead)
{
    ASSERT_TRUE(link.UsbReadyCheck());
    const auto dropped = Start();
    ASSERT_TRUE(emu.EmptyPacketsFollow(1)) << "the receive waits on the chip";
    link.UsbClose();
    EXPECT_FALSE(link.UsbOpen());

    RegulatorOnLine regulator(line);
    ASSERT_TRUE(link.UsbReadyCheck());
    link.UsbSend(QByteArray(10, 0x55));
    const UsbReadResult id = Receive();
    link.UsbSetDataCharacteristics(FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE);
    ASSERT_TRUE(link.UsbReadyCheck());
    link.UsbSend(QByteArray::fromHex("FC0102"));
    const UsbReadResult read = Receive();

    const regsim::Regulator& r = regulator.Regulator();
    EXPECT_FALSE(dropped->has_value()) << "a dropped receive is not handed back";
    EXPECT_EQ(id.bytes.mid(2, id.bytes.size() - 3).toHex(), Q(r.IdentificationPayload()).toHex());
    EXPECT_EQ(read.bytes.mid(2, read.bytes.size() - 3).toHex(), Q(r.ReadPayload()).toHex());
    EXPECT_FALSE(id.failed || read.failed);
}

} // namespace
} // namespace ftditest
