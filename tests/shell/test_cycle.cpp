// The connection cycle against the simulated regulator, on virtual time.

#include "tests/support/cyclefixture.h"

#include "shell/numedit.h"

#include <QAction>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

using regsim::Message;

namespace {
const QString kConnected = QString::fromUtf8(" Regulátor PRIPOJEN ");
const QString kNotConnected = QString::fromUtf8(" Regulátor NEPRIPOJEN ");

bool HasFinding(const QList<TFinding>& findings, const char* id, TVerdict verdict,
                const QString& seen = {})
{
    return std::any_of(findings.begin(), findings.end(), [&](const TFinding& f) {
        return f.id == id && f.verdict == verdict && (seen.isEmpty() || f.seen == seen);
    });
}
} // namespace

TEST(Cycle, FindsIdentifiesAndReadsTheRegulator)
{
    TCycleFixture fx;
    TMainForm& f = fx.Connect();
    EXPECT_TRUE(fx.port.opened);
    EXPECT_EQ(fx.port.portName, "SIM");
    ASSERT_TRUE(fx.RunUntilIdle());
    EXPECT_LT(fx.clock.Now(), 3000) << "found, read and idle within seconds";

    EXPECT_EQ(f.LnH->text(), "KVX-40 OPTO");
    EXPECT_EQ(f.LvH->text(), "V.03a");
    EXPECT_EQ(f.LaH->text(), "12.10.26");
    EXPECT_TRUE(f.Uvod->isHidden()) << "the panel has the right half";
    EXPECT_TRUE(HasFinding(f.CheckFindings(), "answer", TVerdict::Fine));
    EXPECT_TRUE(f.EEPROM1->isVisible()) << "flags bit 7";
    EXPECT_TRUE(f.EEPROM1->isEnabled());
    EXPECT_TRUE(f.Open->isEnabled() && f.Saveas->isEnabled());
    EXPECT_TRUE(f.LKorekceA->isEnabled() && f.LKorekceB->isEnabled());
    EXPECT_EQ(f.LKorekceB->text(), "2.00");
    EXPECT_EQ(f.LKorekceA->text(), "1.10");
    EXPECT_TRUE(f.LmH->isEnabled());
    EXPECT_EQ(f.LmH->text(), "15625");

    TParameterPanel& p = fx.Panel();
    ASSERT_EQ(p.GroupCount(), 6);
    const int expected[] = {1, 0, 2, 0, 3, 1};
    for (int g = 0; g < 6; ++g)
        EXPECT_EQ(p.ItemIndex(g), expected[g]) << g;
    EXPECT_EQ(p.ActiveOptionCount(), 6);
    EXPECT_TRUE(p.UnassignedBytes().isEmpty());
    ASSERT_EQ(p.DisplayCount(), 3);
    EXPECT_EQ(p.DisplayText(0), "11.8");
    EXPECT_EQ(p.DisplayText(1), "21");
    EXPECT_EQ(p.DisplayText(2), QString::fromUtf8("20 °C"));
    EXPECT_EQ(f.PB1->value(), 0);
    EXPECT_EQ(fx.Count(Message::WakeUp), 1);
    EXPECT_EQ(fx.Count(Message::Read), 1);
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
}

TEST(Cycle, IdleRegulatorIsAskedForPresenceEvery2500ms)
{
    TCycleFixture fx;
    fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    const int before = fx.Count(Message::Presence);
    fx.clock.Advance(10000);
    EXPECT_EQ(fx.Count(Message::Presence) - before, 4);
    fx.clock.Advance(200); // the last acknowledgement is on the line
    EXPECT_TRUE(fx.Connected());
    EXPECT_EQ(fx.State().presenceMissCount, 0);
    EXPECT_FALSE(fx.State().busy);
}

TEST(Cycle, WriteSendsTheChangedBlockAndEndsWithTheAcknowledgement)
{
    TCycleFixture fx;
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    fx.Panel().SetItemIndex(1, 3); // brake: hard
    f.UpAClick();                  // 1.10 -> 1.11
    f.DowBClick();                 // 2.00 -> 1.99
    f.Button2->click();
    EXPECT_TRUE(fx.State().busy);
    EXPECT_FALSE(f.Button1->isEnabled());
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return !fx.sim.Writes().empty(); }, 1000));
    EXPECT_EQ(fx.Panel().DisplayText(0), "- - - - -") << "values come back only with the next read";
    EXPECT_EQ(f.LmH->text(), "- - - - -");
    ASSERT_TRUE(fx.RunUntilIdle());
    const regsim::ReceivedWrite& w = fx.sim.Writes().back();
    EXPECT_TRUE(w.checkOk);
    // B (1.99 ms = 1990 us) then A (1.11 ms = 1110 us), then the six option bytes.
    const regsim::Bytes payload{0x07, 0xC6, 0x04, 0x56, 2, 4, 3, 1, 4, 2};
    EXPECT_EQ(w.payload, payload);
    EXPECT_EQ(fx.sim.Block().throttleMax, 1990);
    EXPECT_EQ(f.PB2->value(), 0);
    EXPECT_TRUE(fx.Cycle().PresenceTimer().Enabled());
    EXPECT_FALSE(fx.Cycle().WatchdogTimer().Enabled());
}

TEST(Cycle, WriteEndByteLeavesPresenceChecksOffUntilTheNextTransaction)
{
    TCycleFixture fx;
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    fx.sim.faults().writeEndInsteadOfAck = true;
    f.Button2->click();
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return !fx.State().writePending; }, 2000));
    EXPECT_FALSE(fx.State().busy);
    EXPECT_TRUE(f.Button1->isEnabled());
    EXPECT_EQ(f.PB2->value(), 100) << "the bar stays full until the next write";
    const int presence = fx.Count(Message::Presence);
    const int reads = fx.Count(Message::Read);
    // The next transaction is the read back of the write: the presence checks follow it.
    ASSERT_TRUE(fx.RunUntilIdle());
    EXPECT_EQ(fx.Count(Message::Read), reads + 1);
    EXPECT_EQ(fx.Count(Message::Presence), presence);
    EXPECT_TRUE(fx.Connected());
    fx.clock.Advance(5000);
    EXPECT_EQ(fx.Count(Message::Presence), presence + 2);
}

TEST(Cycle, FactorySettingsAreFollowedByAFreshRead)
{
    TCycleFixture fx;
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    const int reads = fx.Count(Message::Read);
    f.Button3->click();
    EXPECT_EQ(fx.Count(Message::Default), 1);
    fx.clock.Advance(690);
    EXPECT_EQ(fx.Count(Message::Read), reads) << "the regulator gets 700 ms";
    ASSERT_TRUE(fx.RunUntilIdle());
    EXPECT_EQ(fx.Count(Message::Read), reads + 1);
    EXPECT_EQ(f.LKorekceB->text(), "1.90");
    EXPECT_EQ(f.LKorekceA->text(), "1.00");
    EXPECT_EQ(fx.Panel().ItemIndex(0), 0);
    EXPECT_EQ(fx.Panel().ItemIndex(3), 1);
}

TEST(Cycle, SilentRegulatorGetsAWakeUpAbout2sApart)
{
    TCycleFixture fx;
    fx.sim.faults().silent = true;
    TMainForm& f = fx.Connect();
    fx.clock.Advance(10000);
    // 1 ms, then every 2 s of Timer3 and 1 ms of Timer1.
    EXPECT_EQ(fx.Count(Message::WakeUp), 5);
    // The connection check counts them, and that nothing came back.
    EXPECT_TRUE(HasFinding(f.CheckFindings(), "wake-up", TVerdict::Problem,
                           f.Messages().Msg("Str503").arg(5)));
    EXPECT_EQ(f.StatusPanel1->text(), kNotConnected);
    EXPECT_EQ(f.LnH->text(), "- - - - - - - - - - - - - - - -");
    EXPECT_FALSE(f.Button1->isEnabled());
}

TEST(Cycle, TwoUnansweredPresenceQueriesResetTheConnectionAt5s)
{
    TCycleFixture fx;
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    fx.sim.faults().mute.insert(Message::Presence);
    const int before = fx.Count(Message::Presence);
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.Count(Message::Presence) > before; }, 3000));
    const int64_t firstQuery = fx.clock.Now();
    ASSERT_TRUE(
        fx.clock.AdvanceUntil([&] { return f.StatusPanel1->text() == kNotConnected; }, 10000));
    EXPECT_EQ(fx.clock.Now() - firstQuery, 5000);
    EXPECT_EQ(fx.Count(Message::Presence), before + 2);
    EXPECT_EQ(fx.State().presenceMissCount, 0);
    EXPECT_EQ(f.LnH->text(), "- - - - - - - - - - - - - - - -");
    EXPECT_FALSE(f.Uvod->isHidden()) << "how to connect one, again";
    EXPECT_EQ(fx.Panel().GroupCount(), 0);
    EXPECT_EQ(fx.Panel().DisplayCount(), 0);
    EXPECT_FALSE(f.LKorekceA->isEnabled());
    EXPECT_EQ(f.LKorekceA->text(), "0.00");
    EXPECT_FALSE(f.Open->isEnabled());
    EXPECT_TRUE(fx.Cycle().WakeUpTimer().Enabled());
    // The regulator answers again: found anew.
    fx.sim.faults().mute.clear();
    EXPECT_TRUE(fx.RunUntilIdle());
}

TEST(Cycle, UnansweredReadTimesOutAfter16sThenTheResetFollows2sLater)
{
    TCycleFixture fx;
    fx.sim.faults().mute.insert(Message::Read);
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.State().readPending; }, 3000));
    const int64_t start = fx.clock.Now();
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.Cycle().TimeoutTimer().Enabled(); }, 20000));
    EXPECT_EQ(fx.clock.Now() - start, 16000);
    EXPECT_EQ(fx.Count(Message::Read), 1) << "the watchdog's retries are refused while busy";
    EXPECT_EQ(f.StatusPanel1->text(), kNotConnected) << "said when the watchdog gives up";
    EXPECT_EQ(f.PB1->value(), 0);
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return f.LnH->text() == kNamePlaceholder; }, 3000));
    EXPECT_EQ(fx.clock.Now() - start, 18000);
    EXPECT_FALSE(fx.State().readPending);
    EXPECT_FALSE(fx.State().busy);
    EXPECT_EQ(fx.Panel().GroupCount(), 0);
}

TEST(Cycle, WatchdogTicksOfEarlierSlowTransactionsBringTheTimeOutNearer)
{
    TCycleFixture fx;
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    // A slow read: one watchdog tick passes before the reply.
    fx.port.extraDelay = 4500;
    f.Button1->click();
    ASSERT_TRUE(fx.RunUntilIdle(8000));
    EXPECT_EQ(fx.State().watchdogCount, 1) << "success does not clear the count";
    fx.sim.faults().mute.insert(Message::Read);
    f.Button1->click();
    const int64_t start = fx.clock.Now();
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.Cycle().TimeoutTimer().Enabled(); }, 20000));
    EXPECT_EQ(fx.clock.Now() - start, 12000);
}

TEST(Cycle, MissingModelFileIsReportedAndTheCycleStartsAgain)
{
    TCycleFixture fx(false);
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return !fx.boxes.boxes.isEmpty(); }, 3000));
    const TRecordedBox box = fx.boxes.boxes.first();
    EXPECT_EQ(box.kind, TBoxKind::Plain);
    EXPECT_EQ(box.text, f.Messages().LookupMessage("str10") + " KVX-40 OPTO.ini\r" +
                            f.Messages().LookupMessage("str30"));
    EXPECT_FALSE(f.Button1->isEnabled());
    EXPECT_EQ(fx.Count(Message::Read), 0);
    const int64_t shown = fx.clock.Now();
    ASSERT_TRUE(
        fx.clock.AdvanceUntil([&] { return f.StatusPanel1->text() == kNotConnected; }, 5000));
    EXPECT_EQ(fx.clock.Now() - shown, 2000);
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return fx.boxes.boxes.size() == 2; }, 5000));
    EXPECT_EQ(fx.Count(Message::WakeUp), 2);
    EXPECT_FALSE(fx.dir.Exists("Data/KVX-40 OPTO")) << "no folder for a model without a file";
}

TEST(Cycle, ReplyAfterItsResetIsConsumedWithoutEffect)
{
    TCycleFixture fx;
    fx.sim.faults().mute.insert(Message::Read);
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.clock.AdvanceUntil(
        [&] { return f.LnH->text() == kNamePlaceholder && fx.clock.Now() > 5000; }, 30000));
    fx.sim.faults().silent = true;
    // The late read reply arrives now.
    const regsim::Bytes payload = fx.sim.ReadPayload();
    QByteArray frame;
    frame.append(char(0xFE)).append(char(payload.size()));
    frame.append(reinterpret_cast<const char*>(payload.data()), payload.size());
    frame.append(
        char(regsim::CheckByte(reinterpret_cast<const uint8_t*>(frame.constData()), frame.size())));
    f.Cycle().OnSerialBytes(frame);
    EXPECT_EQ(f.LKorekceA->text(), "0.00");
    EXPECT_EQ(fx.Panel().GroupCount(), 0);
    EXPECT_TRUE(fx.State().replyBuffer.Empty());
    EXPECT_TRUE(fx.boxes.boxes.isEmpty());
}

TEST(Cycle, ClickWhileBusyDoesNothing)
{
    TCycleFixture fx;
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    const int reads = fx.Count(Message::Read);
    f.Cycle().StartRead();
    f.Cycle().StartRead();
    f.Cycle().StartWrite();
    f.Cycle().StartFactoryReset();
    ASSERT_TRUE(fx.RunUntilIdle());
    EXPECT_EQ(fx.Count(Message::Read), reads + 1);
    EXPECT_TRUE(fx.sim.Writes().empty());
    EXPECT_EQ(fx.Count(Message::Default), 0);
}

TEST(Cycle, IdentificationWithoutLogFlagHidesTheEepromItem)
{
    regsim::RegulatorData data = regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo");
    data.flags = 0x00;
    // The window goes before the port and the regulator it uses.
    TCycleFixture fx(true, data);
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    EXPECT_FALSE(f.EEPROM1->isVisible());
    // Hidden, the item is left alone by the transfer buttons; shown, it follows them. (A hidden
    // action always reads as disabled: look once it is shown again.)
    f.Cycle().SetTransferButtons(false);
    EXPECT_FALSE(f.Button2->isEnabled());
    f.EEPROM1->setVisible(true);
    EXPECT_TRUE(f.EEPROM1->isEnabled()) << "untouched while hidden";
    f.Cycle().SetTransferButtons(false);
    EXPECT_FALSE(f.EEPROM1->isEnabled());
    f.Cycle().SetTransferButtons(true);
    EXPECT_TRUE(f.EEPROM1->isEnabled());
}

TEST(Cycle, UnassignedOptionBytesAreReportedAndWrittenBackUnchanged)
{
    regsim::RegulatorData data = regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo");
    data.block.options.push_back(0x33);
    data.block.options.push_back(0x07);
    // The window goes before the port and the regulator it uses.
    TCycleFixture fx(true, data);
    regsim::Regulator& sim = fx.sim;
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    fx.ShowPostedBoxes();
    ASSERT_EQ(fx.boxes.boxes.size(), 1);
    EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::Error);
    EXPECT_EQ(fx.boxes.boxes[0].text, f.Messages().LookupMessage("str11") + "\r");
    f.Button2->click();
    ASSERT_TRUE(fx.RunUntilIdle());
    ASSERT_FALSE(sim.Writes().empty());
    const regsim::Bytes& w = sim.Writes().back().payload;
    ASSERT_EQ(w.size(), 4u + 6 + 2);
    EXPECT_EQ(w[10], 0x33);
    EXPECT_EQ(w[11], 0x07);
}

// A box is modal: time goes on behind it while the user reads. Each box comes when the handling
// that asked for it has returned, so the panel behind it shows what is true; the line failing
// while one is open gives its own box after it, not on top of it.
TEST(Cycle, OneBoxAtATimeWithTheTrueStateBehindIt)
{
    regsim::RegulatorData data = regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo");
    data.block.options.push_back(0x33); // and its end for another
    // The window goes before the port and the regulator it uses.
    TCycleFixture fx(true, data);
    QFile::remove(fx.dir.File("Teplota1.txt")); // the read's display values ask for a box
    TSimPort& port = fx.port;
    TMainForm& f = fx.Connect();
    QStringList behind;
    fx.boxes.whileOpen = [&] {
        behind << QString("%1 group0=%2").arg(fx.Connected()).arg(fx.Panel().ItemIndex(0));
        port.lineGone = true; // the cable goes while the first box is read
        port.present = false;
        fx.clock.Advance(10000);
    };
    fx.clock.Advance(60000);
    QStringList texts;
    for (const TRecordedBox& b : fx.boxes.boxes)
        texts << b.text.left(12);
    const QString str53 = f.Messages().LookupMessage("str53");
    EXPECT_EQ(texts, QStringList({f.Messages().LookupMessage("str1").left(12),
                                  f.Messages().LookupMessage("str11").left(12), str53.left(12)}));
    EXPECT_EQ(fx.boxes.mostOpen, 1);
    const QString read = QString("group0=%1").arg(int(data.block.options[0]) - 1);
    EXPECT_EQ(behind, QStringList({"1 " + read, "0 group0=-1", "0 group0=-1"}))
        << "the block in place behind the read's first box; not connected behind the others, which "
           "waited while the line went";
}

TEST(Cycle, IdentityTextsAreSingleByteWindows1250)
{
    regsim::RegulatorData data = regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo");
    data.name = "Mot\xE8ik \x8A"; // "Motčik Š" in Windows-1250, not UTF-8
    // The window goes before the port and the regulator it uses.
    TCycleFixture fx(true, data);
    fx.dir.Write(QString::fromUtf8("Regulators/CZ/Motčik Š.ini"),
                 SourceFile("data/Regulators/CZ/KVX-40 OPTO.ini"));
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    EXPECT_EQ(f.LnH->text(), QString::fromUtf8("Motčik Š"));
    EXPECT_EQ(fx.Panel().GroupCount(), 6);
    EXPECT_TRUE(fx.dir.Exists(QString::fromUtf8("Data/Motčik Š")));
}

TEST(Cycle, VersionWithoutNumberDecodesNothingAtAGuessAndOffersNoWrite)
{
    regsim::RegulatorData data = regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo");
    data.version = "V.X3a";
    // The window goes before the port and the regulator it uses.
    TCycleFixture fx(true, data);
    regsim::Regulator& sim = fx.sim;
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return !fx.boxes.boxes.isEmpty(); }, 3000));
    EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::Error);
    EXPECT_EQ(fx.boxes.boxes[0].text, f.Messages().LookupMessage("str91").arg("V.X3a"));
    EXPECT_EQ(f.LKorekceB->text(), "2.00") << "the throttle limits have their fixed place";
    for (int g = 0; g < fx.Panel().GroupCount(); ++g)
        EXPECT_EQ(fx.Panel().ItemIndex(g), -1) << g;
    EXPECT_EQ(fx.Panel().DisplayText(0), "- - - - -");
    // No write is offered until the read ends by time-out and the window is reset.
    const int64_t shown = fx.clock.Now();
    while (fx.clock.Now() - shown < 17000) {
        fx.clock.Advance(500);
        ASSERT_FALSE(f.Button2->isEnabled()) << fx.clock.Now();
    }
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return !fx.Connected(); }, 3000));
    EXPECT_TRUE(sim.Writes().empty());
}

TEST(Cycle, WriteWhoseFrameCannotBeBuiltEndsAtOnce)
{
    // An item beyond 255 cannot travel in its option byte.
    TCycleFixture fx;
    QByteArray model = SourceFile("data/Regulators/CZ/KVX-40 OPTO.ini");
    QByteArray items;
    for (int i = 3; i <= 300; ++i)
        items += "F" + QByteArray::number(i).rightJustified(3, '0') + "=x\r\n";
    model.replace("[Values]", items + "[Values]");
    fx.dir.Write("Regulators/CZ/KVX-40 OPTO.ini", model);
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    fx.Panel().SetItemIndex(5, 299);
    f.Button2->click();
    fx.clock.Advance(200);
    ASSERT_EQ(fx.boxes.boxes.size(), 1);
    EXPECT_EQ(fx.boxes.boxes[0].kind, TBoxKind::General);
    EXPECT_TRUE(fx.Idle()) << "busy " << fx.State().busy;
    EXPECT_FALSE(fx.State().writePending);
    EXPECT_EQ(f.PB2->value(), 0);
    EXPECT_FALSE(fx.Cycle().WatchdogTimer().Enabled());
    EXPECT_TRUE(fx.sim.Writes().empty());
    fx.Panel().SetItemIndex(5, 1);
    f.Button2->click();
    ASSERT_TRUE(fx.clock.AdvanceUntil([&] { return !fx.sim.Writes().empty(); }, 1000));
    EXPECT_TRUE(fx.RunUntilIdle());
}

TEST(Cycle, HungUpPortIsReportedOnceWatchedAndReopenedWhenBack)
{
    TCycleFixture fx;
    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    // The cable is pulled out.
    fx.port.lineGone = true;
    fx.port.present = false;
    const int wakeUps = fx.Count(Message::WakeUp);
    fx.clock.Advance(30000);
    ASSERT_EQ(fx.boxes.boxes.size(), 1) << "one link error box per loss";
    EXPECT_EQ(fx.boxes.boxes[0].text, f.Messages().LookupMessage("str53"));
    EXPECT_EQ(f.StatusPanel1->text(), kNotConnected);
    EXPECT_EQ(fx.Count(Message::WakeUp), wakeUps);
    // A light look about once a second, no busy loop.
    EXPECT_GE(fx.port.reopenChecks, 26);
    EXPECT_LE(fx.port.reopenChecks, 30);
    EXPECT_FALSE(fx.Cycle().WakeUpTimer().Enabled());

    // Plugged in again: within a second the port is open, and the regulator is found anew.
    fx.port.present = true;
    fx.clock.Advance(1000);
    EXPECT_FALSE(fx.Cycle().LinkLost());
    EXPECT_FALSE(fx.Cycle().PortWatch().Enabled());
    ASSERT_TRUE(fx.RunUntilIdle());
    EXPECT_EQ(fx.Count(Message::WakeUp), wakeUps + 1);
    EXPECT_EQ(fx.boxes.boxes.size(), 1);

    // A second loss is a second box.
    fx.port.lineGone = true;
    fx.clock.Advance(3000);
    EXPECT_EQ(fx.boxes.boxes.size(), 2);
}
