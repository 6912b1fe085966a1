// Line settings: what the termios record gets, read back from the port where the pseudo-terminal
// keeps it. A pseudo-terminal drops PARENB and forces CS8, so parity enable and word size are
// checked on the composed record instead.

#include "link/commconnect.h"
#include "link/lineconfig.h"
#include "link/linespeed.h"
#include "tests/support/ptyfixture.h"

#include <termios.h>

using linktest::PtyPair;

namespace {

termios ReadBack(const TComm& comm)
{
    termios t{};
    EXPECT_EQ(tcgetattr(comm.Handle(), &t), 0);
    return t;
}

// The driver's record before our settings: a cooked terminal with every handshake on.
termios CookedTerminal()
{
    termios t{};
    t.c_iflag = ICRNL | IXON | IXOFF | IXANY | ISTRIP | INLCR | IGNCR | BRKINT;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    t.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS;
    return t;
}

TEST(LineSettingsTest, ParityDataAndStopBitsCompose)
{
    struct Case {
        TParity parity;
        TDatabits bits;
        TStopbits stop;
        tcflag_t parityFlags;
        tcflag_t size;
        bool twoStops;
    };
    const Case cases[] = {
        {paNone, da8, sb10, 0, CS8, false},
        {paOdd, da7, sb10, PARENB | PARODD, CS7, false},
        {paEven, da6, sb20, PARENB, CS6, true},
        {paMark, da5, sb15, PARENB | PARODD | CMSPAR, CS5, true},
        {paSpace, da8, sb20, PARENB | CMSPAR, CS8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "parity " << int(c.parity) << " bits " << int(c.bits)
                                        << " stop " << int(c.stop));
        TLineConfig config;
        config.parity = c.parity;
        config.databits = c.bits;
        config.stopbits = c.stop;
        termios t = CookedTerminal();
        const TComposedLine r = ComposeTermios(config, t);
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parityFlags);
        EXPECT_EQ(t.c_cflag & CSIZE, c.size);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStops);
    }

    TLineConfig fourBits;
    fourBits.databits = da4;
    termios t = CookedTerminal();
    EXPECT_EQ(ComposeTermios(fourBits, t).error, EINVAL);
}

TEST(LineSettingsTest, RawLineWhateverTheDriverHad)
{
    TLineConfig config;
    config.flowControl = fcDefault;
    termios t = CookedTerminal();
    ComposeTermios(config, t);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    // fcDefault keeps the driver's hardware handshake.
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
}

TEST(LineSettingsTest, FlowControlOnThePort)
{
    struct Case {
        TFlowControl flow;
        bool driverRtsCts; // what the port had before opening
        bool rtsCts;
        bool software;
        bool lowersLines;
    };
    const Case cases[] = {
        {fcNone, true, false, false, true},      {fcNone, false, false, false, true},
        {fcCTS, false, true, false, false},      {fcDTR, false, true, false, false},
        {fcSoftware, false, false, true, false}, {fcSoftware, true, true, true, false},
        {fcDefault, true, true, false, false},   {fcDefault, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "flow " << int(c.flow) << " driver CRTSCTS " << c.driverRtsCts);
        PtyPair pty;
        {
            // The driver's state: a fresh terminal has IXON; set or clear CRTSCTS as the case says.
            const int fd = ::open(pty.Path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
            ASSERT_GE(fd, 0);
            termios t{};
            tcgetattr(fd, &t);
            t.c_iflag |= IXON;
            if (c.driverRtsCts)
                t.c_cflag |= CRTSCTS;
            else
                t.c_cflag &= ~CRTSCTS;
            tcsetattr(fd, TCSANOW, &t);
            ::close(fd);
        }
        TComm comm;
        comm.SetDeviceName(pty.Path());
        comm.SetFlowControl(c.flow);
        comm.SetXonChar(0x21);
        comm.SetXoffChar(0x23);
        comm.Open();
        const termios t = ReadBack(comm);
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.rtsCts);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.software ? (IXON | IXOFF) : 0u);
        EXPECT_EQ(t.c_iflag & IXANY, 0u);
        EXPECT_EQ(t.c_cc[VSTART], 0x21);
        EXPECT_EQ(t.c_cc[VSTOP], 0x23);

        TLineConfig config;
        config.flowControl = c.flow;
        termios composed{};
        EXPECT_EQ(ComposeTermios(config, composed).lowerDtrRts, c.lowersLines);
    }
}

TEST(LineSettingsTest, StopBitsParityAndOptionsOnThePort)
{
    struct Case {
        TStopbits stop;
        TParity parity;
        TCommOptions options;
        bool cstopb;
        tcflag_t parityKept; // PARENB itself is dropped by a pseudo-terminal
        bool inpck;
    };
    const Case cases[] = {
        {sb10, paNone, {}, false, 0, false},
        {sb15, paMark, {coParityCheck}, true, PARODD | CMSPAR, true},
        {sb20, paSpace, {coNullStrip, coErrorChar}, true, CMSPAR, false},
        {sb10, paOdd, {coDsrSensitivity, coIgnoreXOff, coParityCheck}, false, PARODD, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stop " << int(c.stop) << " parity " << int(c.parity));
        PtyPair pty;
        TComm comm;
        comm.SetDeviceName(pty.Path());
        comm.SetStopbits(c.stop);
        comm.SetParity(c.parity);
        comm.SetOptions(c.options);
        comm.Open();
        const termios t = ReadBack(comm);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.cstopb);
        EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), c.parityKept);
        EXPECT_EQ((t.c_iflag & INPCK) != 0, c.inpck);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(comm.Options(), c.options);
    }
}

TEST(LineSettingsTest, EveryBaudrateReachesTheLine)
{
    struct Case {
        TBaudrate rate;
        unsigned bitsPerSecond;
    };
    const Case cases[] = {
        {br110, 110},       {br300, 300},       {br600, 600},       {br1200, 1200},
        {br2400, 2400},     {br4800, 4800},     {br9600, 9600},     {br14400, 14400},
        {br19200, 19200},   {br38400, 38400},   {br56000, 56000},   {br57600, 57600},
        {br115200, 115200}, {br128000, 128000}, {br256000, 256000},
    };
    PtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Path());
    comm.SetBaudrate(br600);
    comm.Open();
    unsigned speed = 0;
    ASSERT_TRUE(GetLineSpeed(comm.Handle(), speed));
    EXPECT_EQ(speed, 600u);
    const termios opened = ReadBack(comm);
    EXPECT_EQ(cfgetospeed(&opened), speed_t(B600));

    // Changed while open: applied at once, standard and custom rates in any order.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bitsPerSecond);
        EXPECT_EQ(BaudrateValue(c.rate), int(c.bitsPerSecond));
        comm.SetBaudrate(c.rate);
        ASSERT_TRUE(GetLineSpeed(comm.Handle(), speed));
        EXPECT_EQ(speed, c.bitsPerSecond);
    }
    comm.SetBaudrate(br600);
    ASSERT_TRUE(GetLineSpeed(comm.Handle(), speed));
    EXPECT_EQ(speed, 600u);
}

TEST(LineSettingsTest, RefusedSettingWhileOpenKeepsTheOldValue)
{
    PtyPair pty;
    TComm comm;
    comm.SetDeviceName(pty.Path());
    comm.SetBaudrate(br600);
    comm.Open();
    try {
        comm.SetDatabits(da4);
        FAIL() << "4 data bits accepted";
    } catch (const EComError& e) {
        EXPECT_EQ(e.Operation(), "SetCommState");
        EXPECT_EQ(e.Code(), EINVAL);
    }
    EXPECT_EQ(comm.Databits(), da8);
    EXPECT_TRUE(comm.Active());
    unsigned speed = 0;
    ASSERT_TRUE(GetLineSpeed(comm.Handle(), speed));
    EXPECT_EQ(speed, 600u);

    // Opening with it fails as a whole and leaves the port closed.
    comm.Close();
    comm.SetDatabits(da4);
    EXPECT_THROW(comm.Open(), EComError);
    EXPECT_FALSE(comm.Active());
    EXPECT_EQ(comm.Handle(), -1);
    EXPECT_EQ(comm.EventThread(), nullptr);
}

} // namespace

// What a new component holds before anything is set: the declared defaults of every property.
TEST(CommDefaults, EveryPropertyStartsAtItsDefault)
{
    const TComm comm;
    const struct {
        const char* property;
        long long got;
        long long expected;
    } rows[] = {
        {"Baudrate", comm.Baudrate(), br9600},
        {"Baudrate value", BaudrateValue(comm.Baudrate()), 9600},
        {"Parity", comm.Parity(), paNone},
        {"Stopbits", comm.Stopbits(), sb10},
        {"Databits", comm.Databits(), da8},
        {"Options", comm.Options().Bits(), TCommOptions{}.Bits()},
        {"DontSynchronize", comm.DontSynchronize(), false},
        {"FlowControl", comm.FlowControl(), fcDefault},
        {"XonChar", comm.XonChar(), 17},
        {"XoffChar", comm.XoffChar(), 19},
        {"ErrorChar", comm.ErrorChar(), 0},
        {"EofChar", comm.EofChar(), 0},
        {"EvtChar", comm.EvtChar(), 0},
        {"ReadTimeout", comm.ReadTimeout(), 1000},
        {"WriteTimeout", comm.WriteTimeout(), 1000},
        {"ReadBufSize", comm.ReadBufSize(), 4096},
        {"WriteBufSize", comm.WriteBufSize(), 2048},
        {"MonitorEvents", comm.MonitorEvents().Bits(), AllCommEvents.Bits()},
        {"MonitorEvents mask", CommEventMask(comm.MonitorEvents()), 0x01FF},
        {"Active", comm.Active(), false},
        {"Handle", comm.Handle(), -1},
        {"OnRxChar assigned", bool(comm.OnRxChar), false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.got, row.expected) << row.property;
    EXPECT_EQ(comm.DeviceName(), "Com2");
}
