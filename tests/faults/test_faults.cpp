// Faults on the line, table-driven: every kind of line fault during every transaction, over the
// COM port (the cycle's receive path, replies paced as on a 600 baud line), over a real serial
// line (the window's own port on a pseudo-terminal) and over the USB link (the real TUsbLink over
// simulated FTDI adapters), on virtual time. Whatever the fault, the
// transaction either completes or the user is told (the status goes to not connected, or a box);
// at most one link error box is shown; once the fault is gone the window is connected and idle
// again; and EEPROM.txt holds whole records of the regulator's log, never a half line.

#include "tests/support/cyclefixture.h"
#include "tests/support/ptyregulator.h"
#include "tests/support/usbfixture.h"

#include <QAction>
#include <gtest/gtest.h>
#include <memory>

using regsim::Message;

namespace {

enum class Link { Com, Pty, Usb };
enum class Txn { Identify, Read, Write, Log };
enum class Fault {
    GarbageAround, // noise before and between the replies
    GarbageInside, // noise inside every data frame
    SingleBytes,   // every reply byte by byte, with a pause after each
    BadCheck,      // a wrong check byte on the next data frame
    WriteEndForAck,
    Silence,   // the transaction's first request is never answered
    SilenceAt, // an answer to a later step of the transaction is missing
    HangUp,    // the cable is pulled out just after the request went out
    Babble,    // the regulator keeps sending: seconds of noise before every reply
    Stall,     // answers nothing for a while, then every wake-up it missed at once, late
    // Over USB only:
    ReplugStopBits, // unplugged and plugged in again between two presence queries
    ChipLeftovers,  // the chip still holds the head of an old frame when the time-out reset comes
    ReadError,      // the driver fails the transaction's read
};

const QString kNotConnected = QString::fromUtf8(" Regulátor NEPRIPOJEN ");
const QByteArray kDemoLog = "\r\n5 1 2 \r\n12 34 127 0 16 8 \r\n1 250 251 252 254 85 \r\n";

// The two links behind one face.
struct Rig {
    virtual ~Rig() = default;
    virtual TMainForm& Start() = 0;
    virtual TWindowRig& Window() = 0;
    virtual regsim::Regulator& Sim() = 0;
    TMainForm& Form() { return *Window().form; }
    TRecordingBoxes& Boxes() { return Window().boxes; }
    const TProgramDir& Dir() { return Window().dir; }
    virtual bool Idle() = 0;
    // Connected, nothing in progress, the buttons usable. (After a write that ended with the end
    // byte the presence checks stay off until the next transaction, so Idle would not come.)
    bool Ready()
    {
        TMainForm& f = Form();
        return f.StatusPanel1->text() == QString::fromUtf8(" Regulátor PRIPOJEN ") &&
               !f.Cycle().State().busy && f.Button1->isEnabled() && !f.Cycle().UsbExchangeActive();
    }
    virtual void Pieces(size_t size, int gapMs) = 0;
    // A reply waits for the ones still on the line (the other rigs' lines do that anyway).
    virtual void OneWire() {}
    virtual void Unplug() = 0;
    virtual void Plug() = 0;
    virtual void Advance(int64_t ms) { Window().clock.Advance(ms); }
    bool AdvanceUntil(const std::function<bool()>& pred, int64_t limitMs)
    {
        for (int64_t t = 0; t < limitMs; ++t) {
            if (pred())
                return true;
            Advance(1);
        }
        return pred();
    }
};

struct ComRig final : Rig {
    TCycleFixture fx;
    TMainForm& Start() override { return fx.Connect(); }
    TWindowRig& Window() override { return fx; }
    regsim::Regulator& Sim() override { return fx.sim; }
    bool Idle() override { return fx.Idle(); }
    void Pieces(size_t size, int gapMs) override
    {
        fx.port.pieceSize = size ? size : TSimPort::kPieceSize;
        fx.port.gapMs = gapMs;
    }
    void OneWire() override
    {
        fx.port.now = [this] { return fx.clock.Now(); };
    }
    void Unplug() override
    {
        fx.port.lineGone = true;
        fx.port.present = false;
        fx.port.DropPending();
    }
    void Plug() override { fx.port.present = true; }
};

// The window's own serial port on a pseudo-terminal with the simulator at its far end. The line is
// real, the protocol's time virtual: time moves on only while no reply is on its way through the
// line and the port, so no reply is late however slow the threads are.
struct PtyRig final : Rig {
    TPtyWindow w;

    PtyRig()
    {
        w.regulator.Plug();
        Pieces(0, 0);
    }
    TMainForm& Start() override { return w.Start(); }
    TWindowRig& Window() override { return w; }
    regsim::Regulator& Sim() override { return w.regulator.sim; }
    bool Idle() override { return w.Connected() && !w.form->Cycle().State().busy; }
    // Replies paced as on a 600 baud line, so the cable can be pulled out before one is through.
    void Pieces(size_t size, int gapMs) override
    {
        w.regulator.SetPieces(size ? size : TSimPort::kPieceSize, gapMs, TSimPort::kMsPerByte);
    }
    void Unplug() override { w.regulator.Unplug(); }
    void Plug() override { w.regulator.Plug(); }
    void Advance(int64_t ms) override
    {
        for (int64_t i = 0; i < ms; ++i) {
            w.Settle();
            w.clock.Advance(1);
        }
    }
};

struct UsbRig final : Rig {
    TUsbFixture fx;
    TMainForm& Start() override { return fx.Start(); }
    TWindowRig& Window() override { return fx; }
    regsim::Regulator& Sim() override { return fx.sim; }
    bool Idle() override { return fx.Idle(); }
    void Pieces(size_t size, int gapMs) override { fx.adapters.SetReplyPieces(size, gapMs); }
    void Unplug() override { fx.adapters.Unplug(0); }
    void Plug() override { fx.adapters.Plug(0); }
};

// The faults only the USB link has; the next request is the transaction's.
void ArmUsbFault(Fault fault, UsbRig& rig)
{
    TUsbFixture& fx = rig.fx;
    switch (fault) {
    case Fault::ReplugStopBits: {
        fx.adapters.Unplug(0);
        fx.adapters.Plug(0);
        fx.adapters.ClearSent(0);
        // The first query after the replug finds the old handle dead and opens the adapter anew.
        const int presences = fx.Count(Message::Presence);
        EXPECT_TRUE(rig.AdvanceUntil(
            [&] { return fx.Count(Message::Presence) > presences && rig.Ready(); }, 10000));
        break;
    }
    case Fault::ChipLeftovers:
        fx.adapters.HoldInChip(0, {0xFE, 0x30});
        fx.Cycle().OnTimeoutTick();
        break;
    case Fault::ReadError:
        fx.adapters.FailReads(0, 1);
        break;
    default:
        break;
    }
}

// One stop bit for the wake-up pattern, two for everything else, byte by byte.
void ExpectStopBitsOfTheProtocol(const std::vector<regsim::SentByte>& sent)
{
    ASSERT_FALSE(sent.empty());
    for (size_t i = 0; i < sent.size(); ++i) {
        bool wakeUp = true;
        for (const regsim::SentByte& b : sent)
            wakeUp &= b.write != sent[i].write || b.byte == 0x55;
        EXPECT_EQ(int(sent[i].stopBits), wakeUp ? FT_STOP_BITS_1 : FT_STOP_BITS_2)
            << "byte " << i << " of write " << sent[i].write;
    }
}

struct TFaultCase {
    Link link;
    Txn txn;
    Fault fault;
    Message step = Message::WakeUp; // SilenceAt: the message left unanswered
    bool completes = false;         // the transaction must complete despite the fault
};

// The request that opens each transaction.
Message FirstRequest(Txn t)
{
    switch (t) {
    case Txn::Identify:
        return Message::WakeUp;
    case Txn::Read:
        return Message::Read;
    case Txn::Write:
        return Message::Write;
    case Txn::Log:
        return Message::LogStart;
    }
    return Message::WakeUp;
}

std::vector<TFaultCase> Cases()
{
    std::vector<TFaultCase> cases;
    for (Link link : {Link::Com, Link::Pty, Link::Usb}) {
        for (Txn txn : {Txn::Identify, Txn::Read, Txn::Write, Txn::Log}) {
            cases.push_back({link, txn, Fault::GarbageAround, {}, true});
            cases.push_back({link, txn, Fault::GarbageInside});
            cases.push_back({link, txn, Fault::SingleBytes, {}, true});
            // A log record with a wrong check byte is asked for again.
            cases.push_back({link, txn, Fault::BadCheck, {}, txn == Txn::Log});
            cases.push_back({link, txn, Fault::Silence});
            cases.push_back({link, txn, Fault::HangUp});
            cases.push_back({link, txn, Fault::Babble});
        }
        cases.push_back({link, Txn::Write, Fault::WriteEndForAck});
        // Later steps: the read that follows the identification, the log's next record.
        cases.push_back({link, Txn::Identify, Fault::SilenceAt, Message::Read});
        cases.push_back({link, Txn::Log, Fault::SilenceAt, Message::LogNext});
        // The late identification replies arrive while the read that follows is pending.
        cases.push_back({link, Txn::Identify, Fault::Stall, {}, true});
    }
    for (Fault f : {Fault::ReplugStopBits, Fault::ChipLeftovers, Fault::ReadError})
        cases.push_back({Link::Usb, Txn::Read, f, {}, true});
    return cases;
}

const char* Name(Txn t)
{
    static const char* const names[] = {"Identify", "Read", "Write", "Log"};
    return names[int(t)];
}
const char* Name(Fault f)
{
    static const char* const names[] = {
        "GarbageAround",  "GarbageInside", "SingleBytes", "BadCheck", "WriteEndForAck",
        "Silence",        "SilenceAt",     "HangUp",      "Babble",   "Stall",
        "ReplugStopBits", "ChipLeftovers", "ReadError"};
    return names[int(f)];
}
std::string CaseName(const TFaultCase& c)
{
    std::string name = std::string(c.link == Link::Com   ? "Com"
                                   : c.link == Link::Pty ? "Pty"
                                                         : "Usb") +
                       "_" + Name(c.txn) + "_" + Name(c.fault);
    if (c.fault == Fault::SilenceAt)
        name += std::string("_") + regsim::MessageName(c.step);
    for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch)) && ch != '_')
            ch = '_';
    return name;
}
void PrintTo(const TFaultCase& c, std::ostream* os) { *os << CaseName(c); }

class LineFault : public testing::TestWithParam<TFaultCase> {};

TEST_P(LineFault, CompletesOrTellsTheUserAndComesBack)
{
    const TFaultCase& c = GetParam();
    std::unique_ptr<Rig> rig;
    if (c.link == Link::Com)
        rig = std::make_unique<ComRig>();
    else if (c.link == Link::Pty)
        rig = std::make_unique<PtyRig>();
    else
        rig = std::make_unique<UsbRig>();
    regsim::Regulator& sim = rig->Sim();
    regsim::Faults& faults = sim.faults();
    auto* usb = dynamic_cast<UsbRig*>(rig.get());
    int wakeUpsBefore = 0;

    auto arm = [&] {
        switch (c.fault) {
        case Fault::GarbageAround:
            faults.garbage = {0x00, 0x13, 0x7F, 0x55};
            break;
        case Fault::GarbageInside:
            faults.garbageInside = {0x00, 0x13};
            break;
        case Fault::SingleBytes:
            rig->Pieces(1, 20);
            break;
        case Fault::BadCheck:
            faults.badCheckFrames = 1;
            break;
        case Fault::WriteEndForAck:
            faults.writeEndInsteadOfAck = true;
            break;
        case Fault::Silence:
            faults.mute = {FirstRequest(c.txn)};
            break;
        case Fault::SilenceAt:
            faults.mute = {c.step};
            break;
        case Fault::HangUp:
            break; // once the request is out, below
        case Fault::Babble:
            faults.garbage = regsim::Bytes(1200, 0x00);
            for (size_t i = 0; i < faults.garbage.size(); i += 7)
                faults.garbage[i] = 0xFA;
            break;
        case Fault::Stall:
            faults.stall = true;
            rig->OneWire();
            rig->Pieces(5, 20); // the late replies still coming in after the next request
            break;
        default:
            ArmUsbFault(c.fault, *usb);
            wakeUpsBefore = sim.Count(Message::WakeUp);
            break;
        }
    };
    auto disarm = [&] {
        faults = regsim::Faults{};
        rig->Pieces(0, 0);
        rig->Plug();
    };

    // Up to the transaction: connected and idle, except for the identification.
    if (c.txn != Txn::Identify) {
        rig->Start();
        ASSERT_TRUE(rig->AdvanceUntil([&] { return rig->Idle(); }, 10000));
    }
    TMainForm* form = c.txn == Txn::Identify ? nullptr : &rig->Form();
    const int before = sim.Count(FirstRequest(c.txn));
    const size_t writesBefore = sim.Writes().size();
    const int boxesBefore = int(rig->Boxes().boxes.size());
    arm();
    switch (c.txn) {
    case Txn::Identify:
        form = &rig->Start();
        break;
    case Txn::Read:
        form->Button1->click();
        break;
    case Txn::Write:
        form->Button2->click();

        break;
    case Txn::Log:
        form->EEPROM1->trigger();
        break;
    }
    if (c.fault == Fault::HangUp) {
        ASSERT_TRUE(
            rig->AdvanceUntil([&] { return sim.Count(FirstRequest(c.txn)) > before; }, 5000));
        rig->Unplug();
    }
    if (c.fault == Fault::Stall) {
        ASSERT_TRUE(rig->AdvanceUntil([&] { return sim.Count(Message::WakeUp) >= 3; }, 10000));
        faults.stall = false;
    }

    // The fault in force for 25 s; the user must see the outcome.
    bool toldNotConnected = false;
    bool completed = false;
    auto done = [&] {
        switch (c.txn) {
        case Txn::Identify:
            return rig->Ready();
        case Txn::Read:
            return rig->Ready() && sim.Count(Message::Read) > before;
        case Txn::Write:
            return rig->Ready() && sim.Writes().size() > writesBefore && sim.Writes().back().stored;
        case Txn::Log:
            return rig->Ready() && rig->Dir().Read("EEPROM.txt") == kDemoLog;
        }
        return false;
    };
    // Watched every millisecond: over USB a reset and the next identification can be a few
    // milliseconds apart.
    for (int64_t t = 0; t < 25000 && !completed; ++t) {
        rig->Advance(1);
        toldNotConnected |= form->StatusPanel1->text() == kNotConnected;
        completed = done();
    }
    const int boxes = int(rig->Boxes().boxes.size()) - boxesBefore;
    if (c.fault == Fault::ReplugStopBits)
        ExpectStopBitsOfTheProtocol(usb->fx.adapters.Sent(0));
    if (c.fault == Fault::ChipLeftovers) {
        EXPECT_EQ(sim.Count(Message::WakeUp) - wakeUpsBefore, 1) << "the first wake-up connects";
    }
    if (c.completes)
        EXPECT_TRUE(completed) << "a fault the protocol rides out";
    else
        EXPECT_TRUE(completed || toldNotConnected || boxes > 0) << "the user is not told";

    // The fault gone: connected and idle again.
    disarm();
    EXPECT_TRUE(rig->AdvanceUntil([&] { return rig->Ready(); }, 30000))
        << "back in the cycle; status " << form->StatusPanel1->text().toStdString();

    int linkErrors = 0;
    for (const TRecordedBox& b : rig->Boxes().boxes)
        linkErrors += b.text.startsWith(form->Messages().LookupMessage("str53"));
    EXPECT_LE(linkErrors, 1) << "one link error box per loss of the line";
    if (c.fault == Fault::ReadError) {
        EXPECT_EQ(linkErrors, 1) << "a failed read is the adapter's hang-up";
    }
    const QByteArray log = rig->Dir().Read("EEPROM.txt");
    if (c.txn == Txn::Log) {
        ASSERT_TRUE(kDemoLog.startsWith(log)) << log.toStdString();
        EXPECT_TRUE(log.endsWith("\r\n")) << "whole records only";
    } else {
        EXPECT_TRUE(log.isEmpty());
    }

    // Whatever came over the line, and whatever became of it, a write sends back the regulator's
    // own block.
    const regsim::ParameterBlock held = sim.Block();
    const size_t writes = sim.Writes().size();
    form->Button2->click();
    ASSERT_TRUE(
        rig->AdvanceUntil([&] { return sim.Writes().size() > writes && rig->Ready(); }, 10000));
    regsim::Bytes expected{uint8_t(held.throttleMax >> 8), uint8_t(held.throttleMax),
                           uint8_t(held.throttleMin >> 8), uint8_t(held.throttleMin)};
    expected.insert(expected.end(), held.options.begin(), held.options.end());
    EXPECT_EQ(sim.Writes().back().payload, expected);
}

INSTANTIATE_TEST_SUITE_P(Faults, LineFault, testing::ValuesIn(Cases()),
                         [](const auto& info) { return CaseName(info.param); });

} // namespace

// Found by fuzz_cycle: bytes arriving before the first wake-up had gone out stopped the wake-up
// timer, and with nothing asked nothing would ever start it again.
TEST(LineNoise, BytesBeforeTheFirstWakeUpDoNotStopTheSearch)
{
    TCycleFixture fx;
    TMainForm& f = fx.Connect();
    f.Cycle().OnSerialBytes(QByteArray::fromHex("0100"));
    EXPECT_TRUE(fx.RunUntilIdle());
    EXPECT_EQ(fx.Count(Message::WakeUp), 1);
}
