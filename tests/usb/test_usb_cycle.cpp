// The connection cycle and its transactions over the USB link, with simulated adapters and the
// regulator simulator, on virtual time.

#include "tests/support/usbfixture.h"

#include "models/parampanel.h"
#include "shell/nastaveni.h"

#include <QAction>
#include <QApplication>
#include <QProgressBar>
#include <gtest/gtest.h>
#include <map>

using regsim::Message;

namespace {

const QString kNotConnected = QString::fromUtf8(" Regulátor NEPRIPOJEN ");

// What went out on the adapter, one line per write: the bytes in hex and the stop bits they went
// out with ("1", "2", or "mixed"); any other line setting than 600 8N is shown.
QStringList Writes(const std::vector<regsim::SentByte>& sent)
{
    QStringList lines;
    int write = 0;
    QByteArray bytes;
    QString stops;
    auto flush = [&] {
        if (!bytes.isEmpty())
            lines.append(QString::fromLatin1(bytes.toHex(' ')) + " /" + stops);
        bytes.clear();
        stops.clear();
    };
    for (const regsim::SentByte& b : sent) {
        if (b.write != write)
            flush();
        write = b.write;
        QString s = b.stopBits == FT_STOP_BITS_2 ? "2" : "1";
        if (b.baud != 600 || b.wordLength != 8 || b.parity != 0)
            s = "bad line";
        stops = stops.isEmpty() || stops == s ? s : QString("mixed");
        bytes.append(char(b.byte));
    }
    flush();
    return lines;
}

} // namespace

TEST(UsbCycle, ConnectsReadsAndKeepsTheLineSettingsOfEveryByte)
{
    TUsbFixture fx;
    TMainForm& f = fx.Start();
    ASSERT_TRUE(fx.RunUntilIdle());
    EXPECT_EQ(f.LnH->text(), "KVX-40 OPTO");
    EXPECT_EQ(f.LvH->text(), "V.03a");
    EXPECT_EQ(f.LmH->text(), "15625");
    EXPECT_EQ(fx.form->ParamPanel().GroupCount(), 6);
    EXPECT_EQ(fx.Count(Message::WakeUp), 1);
    EXPECT_EQ(fx.Count(Message::Read), 1);

    // One stop bit for the wake-up pattern, two for everything else.
    fx.clock.Advance(2600);
    EXPECT_EQ(Writes(fx.adapters.Sent(0)),
              QStringList({"55 55 55 55 55 55 55 55 55 55 /1", "fc 01 02 /2", "fc 01 03 /2"}));
    // The stop bits go back to two only after the identification's own read has ended.
    const auto& c = fx.log.calls;
    const auto wake = std::find(c.begin(), c.end(), "Write(10)");
    ASSERT_NE(wake, c.end());
    EXPECT_EQ(*(wake - 2), "SetDataCharacteristics(8,0,0)");
    EXPECT_EQ(*(wake - 1), "GetQueueStatus") << "the check before every send";
    const std::vector<std::string> afterWake(wake, std::find(wake, c.end(), "Write(3)") + 1);
    EXPECT_EQ(afterWake.back(), "Write(3)");
    EXPECT_EQ(*(afterWake.end() - 5), "SetDataCharacteristics(8,2,0)");
    EXPECT_EQ(*(afterWake.end() - 4), "GetQueueStatus") << "the check before every send";
    // What came before the read is dropped: the chip's buffer, then what the driver holds.
    EXPECT_EQ(*(afterWake.end() - 3), "Purge(1)");
    EXPECT_EQ(*(afterWake.end() - 2), "GetQueueStatus");
    const auto readEnd = std::find(wake + afterWake.size(), c.end(), "GetQueueStatus");
    ASSERT_NE(readEnd, c.end());
    EXPECT_EQ(*(readEnd + 1), "SetDataCharacteristics(8,2,0)")
        << "the wake-up's closing switch to two stop bits follows the nested read";
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
    EXPECT_TRUE(fx.ftBox.texts.isEmpty());
}

// Each transaction as a timeline: what the user or the regulator does, what the regulator then
// sees until the window reaches the state awaited, within a time limit.
TEST(UsbCycle, TransactionTimelines)
{
    struct Step {
        const char* what;
        std::function<void(TUsbFixture&)> act;
        std::vector<Message> seen;
        std::function<bool(TUsbFixture&)> until;
        int64_t limitMs;
    };
    const auto idle = [](TUsbFixture& fx) { return fx.Idle(); };
    const auto notConnected = [](TUsbFixture& fx) {
        return fx.form->StatusPanel1->text() == kNotConnected &&
               fx.form->LnH->text() == kNamePlaceholder;
    };
    const auto click = [](QPushButton* TMainForm::*b) {
        return [b](TUsbFixture& fx) { ((*fx.form).*b)->click(); };
    };
    const std::vector<Step> steps = {
        {"presence while idle",
         [](TUsbFixture& fx) { fx.clock.Advance(5000); },
         {Message::Presence, Message::Presence},
         idle,
         100},
        {"read", click(&TMainForm::Button1), {Message::Read}, idle, 500},
        {"write answered with FB, read back",
         click(&TMainForm::Button2),
         {Message::Write, Message::Read},
         idle,
         1000},
        {"write answered with FC, read back",
         [](TUsbFixture& fx) {
             fx.sim.faults().writeEndInsteadOfAck = true;
             fx.form->Button2->click();
         },
         {Message::Write, Message::Read},
         idle,
         1000},
        {"factory settings, then a read",
         [](TUsbFixture& fx) {
             fx.sim.faults().writeEndInsteadOfAck = false;
             fx.form->Button3->click();
         },
         {Message::Default, Message::Read},
         idle,
         1500},
        {"silent while idle: lost after two queries",
         [](TUsbFixture& fx) { fx.sim.faults().silent = true; },
         {Message::Presence, Message::Presence},
         notConnected,
         8000},
        {"answering again: found and read",
         [](TUsbFixture& fx) { fx.sim.faults().silent = false; },
         {Message::WakeUp, Message::Read},
         idle,
         4000},
        {"read unanswered: watchdog, then the time-out reset",
         [](TUsbFixture& fx) {
             fx.sim.faults().mute = {Message::Read};
             fx.form->Button1->click();
         },
         {Message::Read},
         notConnected,
         20000},
    };

    TUsbFixture fx;
    fx.Start();
    ASSERT_TRUE(fx.RunUntilIdle());
    for (const Step& s : steps) {
        std::map<Message, int> before;
        for (Message m :
             {Message::WakeUp, Message::Read, Message::Presence, Message::Default, Message::Write})
            before[m] = fx.Count(m);
        const int64_t start = fx.clock.Now();
        s.act(fx);
        ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return s.until(fx); }, s.limitMs)) << s.what;
        std::map<Message, int> expected;
        for (Message m : s.seen)
            ++expected[m];
        for (auto [m, n] : before)
            EXPECT_EQ(fx.Count(m) - n, expected[m]) << s.what << ": " << regsim::MessageName(m);
        if (std::string(s.what).starts_with("read unanswered")) {
            // The watchdog starts when the receive has waited out its 1500 ms, as after a
            // blocking read; then four ticks and the 2 s of Timer3.
            EXPECT_EQ(fx.clock.Now() - start, 1500 + 16000 + 2000);
        }
    }
    ASSERT_EQ(fx.sim.Writes().size(), 2u);
    EXPECT_TRUE(fx.sim.Writes()[0].stored);
    ASSERT_EQ(fx.boxes.boxes.size(), 1) << "the factory settings' question only";
    EXPECT_EQ(fx.boxes.boxes[0].preset, TDefaultAnswer::No);
}

TEST(UsbCycle, WithoutAdapterTheCycleGoesOnQuietly)
{
    TUsbFixture fx(0);
    TMainForm& f = fx.Start();
    EXPECT_TRUE(fx.Cycle().WakeUpTimer().Enabled());
    fx.clock.Advance(10000);
    EXPECT_EQ(f.StatusPanel1->text(), kNotConnected);
    EXPECT_TRUE(fx.Cycle().WakeUpTimer().Enabled() || fx.Cycle().TimeoutTimer().Enabled());
    EXPECT_GE(fx.adapters.OpenCalls(), 10) << "tried again on every check";
    EXPECT_EQ(fx.link->DeviceCount(), 0);
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
    EXPECT_TRUE(fx.ftBox.texts.isEmpty());
}

TEST(UsbCycle, UnplugAndReplugReconnects)
{
    TUsbFixture fx;
    TMainForm& f = fx.Start();
    ASSERT_TRUE(fx.RunUntilIdle());
    fx.adapters.Unplug(0);
    fx.clock.Advance(8000);
    EXPECT_EQ(f.StatusPanel1->text(), kNotConnected);
    EXPECT_FALSE(fx.link->UsbOpen());
    const int wakeUps = fx.Count(Message::WakeUp);
    fx.adapters.Plug(0);
    ASSERT_TRUE(fx.RunUntilIdle());
    EXPECT_EQ(fx.Count(Message::WakeUp), wakeUps + 1);
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
}

// Pulled out while the read waits for its reply: the read fails, as a COM line's hang-up the user
// is told once, and the watchdog ends the transaction. The status goes back to not connected, and
// the adapter plugged in again connects anew.
TEST(UsbCycle, UnplugDuringAReadEndsInNotConnectedAndReplugReconnects)
{
    TUsbFixture fx;
    TMainForm& f = fx.Start();
    ASSERT_TRUE(fx.RunUntilIdle());
    fx.runner.beforeNextRead = [&] { fx.adapters.Unplug(0); };
    f.Button1->click();
    const int reads = fx.Count(Message::Read), wakeUps = fx.Count(Message::WakeUp);
    ASSERT_FALSE(fx.adapters.Plugged(0));
    // Four watchdog ticks 4 s apart, the time-out reset 2 s after the last.
    fx.clock.Advance(19000);
    EXPECT_EQ(f.StatusPanel1->text(), kNotConnected);
    EXPECT_FALSE(fx.link->UsbOpen());
    EXPECT_FALSE(f.Button1->isEnabled());
    EXPECT_EQ(fx.Count(Message::WakeUp), wakeUps);

    fx.adapters.Plug(0);
    ASSERT_TRUE(fx.RunUntilIdle());
    EXPECT_EQ(fx.Count(Message::WakeUp), wakeUps + 1);
    EXPECT_EQ(fx.Count(Message::Read), reads + 1);
    EXPECT_EQ(f.LnH->text(), "KVX-40 OPTO");
    ASSERT_EQ(fx.boxes.boxes.size(), 1);
    EXPECT_EQ(fx.boxes.boxes[0].text, f.Messages().LookupMessage("str53"));
    EXPECT_TRUE(fx.ftBox.texts.isEmpty());
}

TEST(UsbCycle, TwoAdaptersBothListedTheFirstOneUsed)
{
    TUsbFixture fx(2);
    fx.Start();
    ASSERT_TRUE(fx.RunUntilIdle());
    EXPECT_EQ(fx.link->DeviceTable()[0].serialNo, "KX000001");
    EXPECT_EQ(fx.link->DeviceTable()[1].serialNo, "KX000002");
    EXPECT_FALSE(fx.adapters.Sent(0).empty());
    EXPECT_TRUE(fx.adapters.Sent(1).empty());
}

TEST(UsbCycle, AClickDuringAReceiveWaitsForItsEnd)
{
    TUsbFixture fx;
    TMainForm& f = fx.Start();
    ASSERT_TRUE(fx.RunUntilIdle());
    // Replies now trickle in: three stray bytes, then the answer, 400 ms apart.
    fx.sim.faults().garbage = {0, 0, 0};
    fx.adapters.SetReplyPieces(1, 400);
    fx.clock.Advance(2500); // the presence query goes out, its FA comes 1200 ms later
    ASSERT_TRUE(fx.Cycle().UsbExchangeActive());
    fx.clock.Advance(100);
    ASSERT_TRUE(fx.State().busy);
    // Behind a blocking read the click would have waited, and found the presence check over.
    f.Button1->click();
    const int reads = fx.Count(Message::Read);
    fx.clock.Advance(1000);
    EXPECT_EQ(fx.Count(Message::Read), reads) << "nothing goes out during the receive";
    fx.clock.Advance(200);
    EXPECT_EQ(fx.Count(Message::Read), reads + 1) << "the click ran once the receive had ended";
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
}

// The user can read that access is missing, and what to do, at any time until the adapter opens:
// moving the mouse over the window replaces the hint, not the notice, and the notice fits whole in
// every shipped language.
TEST(UsbCycle, PermissionProblemStaysInTheStatusBarUntilTheAdapterOpens)
{
    TUsbFixture fx;
    fx.adapters.SetPermissionDenied(0, true);
    for (const char* lang : {"CZ", "EN", "GE"})
        fx.dir.Write(QStringLiteral("Languages/%1.ini").arg(lang),
                     SourceFile(QStringLiteral("data/Languages/%1.ini").arg(lang)));
    TMainFormEnv env;
    env.programDir = fx.dir.Path();
    env.clock = &fx.clock;
    env.boxes = &fx.boxes; // the window's own link this time, receiving on virtual time
    env.usbOptions = {true, &fx.runner, [&fx] { return fx.simClock.NowUs() / 1000; }, {}};
    TMainForm f(env);
    f.show();
    QLabel* notice = f.UsbNotice;
    for (QLabel* flag : {f.Image3, f.Image4, f.Image2}) {
        f.Image2Click(flag);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        SCOPED_TRACE(f.Settings().language.toStdString());
        EXPECT_FALSE(notice->isHidden());
        EXPECT_EQ(notice->text().trimmed(), f.Messages().LookupMessage("str180"));
        EXPECT_GE(notice->width(), notice->sizeHint().width()) << "shown whole";
        EXPECT_LE(notice->geometry().right(), f.StatusPanel2->geometry().left());
        EXPECT_GE(f.StatusPanel2->width(), 200) << "the hints keep room";
        // The full advice: where, and the rule that the package installs.
        EXPECT_TRUE(f.UsbProblemAdvice().contains("/dev/bus/usb/001/002"));
        EXPECT_TRUE(f.UsbProblemAdvice().contains("60-korvalinex-ftdi.rules"));
        EXPECT_EQ(notice->toolTip(), f.UsbProblemAdvice());
    }

    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(f.Button1, &enter);
    EXPECT_TRUE(
        f.StatusPanel2->text().contains(f.Button1->property("hint").toString().section('|', 1)))
        << "the hint as ever";
    fx.clock.Advance(5000);
    EXPECT_FALSE(notice->isHidden()) << "a mouse move and later checks leave it";
    EXPECT_GE(fx.adapters.OpenCalls(), 3);

    // "Nastavit" on the USB page: the link error box says which of the reasons it was.
    TNastaveni* dialog = f.Nastaveni();
    dialog->PC1->setCurrentWidget(dialog->Sheet2);
    dialog->Button3Click();
    ASSERT_EQ(fx.boxes.boxes.size(), 1);
    EXPECT_EQ(fx.boxes.boxes[0].text,
              f.Messages().LookupMessage("str53") + '\n' + f.UsbProblemAdvice());
    EXPECT_FALSE(dialog->LUsbProblem->isHidden()) << "and the page gives the advice";
    fx.boxes.boxes.clear();

    fx.adapters.SetPermissionDenied(0, false);
    fx.clock.Advance(5000);
    EXPECT_TRUE(notice->isHidden()) << "the adapter opened";
    EXPECT_TRUE(f.UsbProblemAdvice().isEmpty());
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
}

TEST(UsbCycle, ReadExchangeEndsWithItsLastByteOnTheWire)
{
    TUsbFixture fx;
    fx.adapters.SetPaced(true);
    fx.Start();
    ASSERT_TRUE(fx.RunUntilIdle(20000));
    fx.form->Button1->click();
    // Request FC 01 02 and the reply frame, 11 bits a byte at 600 baud.
    const size_t replyBytes = fx.sim.ReadPayload().size() + 3;
    const int64_t wireMs = ((3 + replyBytes) * 11 * 1000 + 599) / 600;
    EXPECT_LE(fx.runner.lastTookMs, wireMs + 1);
    EXPECT_GE(fx.runner.lastTookMs, wireMs - 3 * 19);
}
