// The connection cycle's transactions as timelines on virtual time: every observable step (bytes
// sent, timers started and stopped, pauses, bars, buttons, status texts, boxes, what the panel is
// told) is written down with its time, and each step of a table is compared with the sequence the
// protocol prescribes. A line "= ..." closes each step with the protocol flags and counts.

#include "common/clock.h"
#include "common/settings.h"
#include "i18n/msglangres.h"
#include "protocol/cycle.h"
#include "protocol/frames.h"
#include "tests/support/fake_panel.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

struct Log {
    const VirtualClock* clock = nullptr;
    int64_t stepStart = 0;
    Lines lines;
    void Add(const std::string& what)
    {
        lines.push_back("+" + std::to_string(clock->Now() - stepStart) + " " + what);
    }
};

class RecTimer final : public ITimer {
public:
    RecTimer(std::unique_ptr<ITimer> inner, std::string name, Log& log)
        : inner_(std::move(inner)), name_(std::move(name)), log_(log)
    {
    }
    void SetInterval(int ms) override { inner_->SetInterval(ms); }
    int Interval() const override { return inner_->Interval(); }
    void SetEnabled(bool on) override
    {
        log_.Add(name_ + (on ? " on" : " off"));
        inner_->SetEnabled(on);
    }
    bool Enabled() const override { return inner_->Enabled(); }
    void SetOnTimer(std::function<void()> handler) override { inner_->SetOnTimer(handler); }

private:
    std::unique_ptr<ITimer> inner_;
    std::string name_;
    Log& log_;
};

// Timers are named in the order the cycle creates them.
class RecClock final : public IClock {
public:
    RecClock(VirtualClock& clock, Log& log) : clock_(clock), log_(log) {}
    std::unique_ptr<ITimer> CreateTimer() override
    {
        static const char* const names[] = {"Timer1", "Timer2", "Timer3", "Timer4", "PortWatch"};
        return std::make_unique<RecTimer>(clock_.CreateTimer(), names[created_++ % 5], log_);
    }
    Token After(int ms, std::function<void()> fn) override
    {
        log_.Add("pause " + std::to_string(ms));
        return clock_.After(ms, std::move(fn));
    }

private:
    VirtualClock& clock_;
    Log& log_;
    int created_ = 0;
};

std::string Hex(const QByteArray& bytes) { return bytes.toHex(' ').toUpper().toStdString(); }

class RecPort final : public ISerialPort {
public:
    explicit RecPort(Log& log) : log_(log) {}
    bool fail = false;
    bool present = true;
    bool Active() const override { return true; }
    void OpenComPort(const QString&) override {}
    int SendString(const QByteArray& bytes) override
    {
        log_.Add("send " + Hex(bytes) + (fail ? " fails" : ""));
        if (fail)
            throw std::runtime_error("Error 5 Input/output error in function: WriteFile");
        return int(bytes.size());
    }
    bool ReopenIfBack() override
    {
        log_.Add(present ? "port reopened" : "port still away");
        if (present)
            fail = false;
        return present;
    }

private:
    Log& log_;
};

// The adapter link: what the cycle asks of it is written down; each receive waits until the step
// hands it its result.
class RecUsb final : public IUsbLink {
public:
    explicit RecUsb(Log& log) : log_(log) {}
    bool ready = true;
    bool UsbReadyCheck() override { return ready; }
    void UsbSend(const QByteArray& bytes) override { log_.Add("usb send " + Hex(bytes)); }
    void UsbReadAsync(int, UsbReplyNeed, UsbReadDone done) override
    {
        log_.Add("usb receive");
        reads_.push_back(std::move(done));
    }
    void UsbSetDataCharacteristics(int, int stopBits, int) override
    {
        log_.Add(stopBits == 2 ? "stop bits 2" : "stop bits 1");
    }
    void UsbClose() override {}
    void UsbDiscardInput() override { log_.Add("usb discard"); }
    // Ends the oldest receive with what it read, or with the driver's error.
    void Complete(const QByteArray& bytes, bool failed = false)
    {
        ASSERT_FALSE(reads_.empty()) << "no receive waits";
        UsbReadDone done = std::move(reads_.front());
        reads_.pop_front();
        done({bytes, failed});
    }

private:
    Log& log_;
    std::deque<UsbReadDone> reads_;
};

// The demo regulator's model: six option groups and three scaled display entries.
class RecPanel final : public FakePanel {
public:
    explicit RecPanel(Log& log) : log_(log) {}
    bool missing = false;
    void BuildParameterPanel(const ModelContext& ctx) override
    {
        log_.Add("build panel " + ctx.modelName.toStdString() +
                 (ctx.alternateScale ? " alternate" : ""));
        if (missing)
            return;
        displays = {kValuePlaceholder, kValuePlaceholder, kValuePlaceholder};
        multipliers[0] = 0.1;
        multipliers[1] = ctx.alternateScale ? 1 : 0.5;
        multipliers[2] = 1;
        multiplierCount = 3;
        groups.clear();
        for (int items : {2, 4, 6, 4, 4, 2})
            groups.push_back(Group{items});
    }
    void ClearParameterPanel() override
    {
        log_.Add("clear panel");
        displays.clear();
        groups.clear();
        multiplierCount = 0;
    }
    bool ModelFileMissing() const override { return missing; }
    void SetDisplayText(int i, const QString& text) override
    {
        log_.Add("Lab2" + std::to_string(i) + " " + text.toStdString());
        FakePanel::SetDisplayText(i, text);
    }

private:
    Log& log_;
};

class RecView final : public ICycleView, public ICycleEvents {
public:
    RecView(Log& log, const TsmlMsgLangRes& messages) : log_(log), messages_(messages)
    {
        fields.poles = QStringLiteral("2");
        fields.ratio = QStringLiteral("1");
    }
    TBlockFields fields;

    TBlockFields Fields() const override { return fields; }
    void ShowFields(const TBlockFields& f) override
    {
        log_.Add("LKorekceA " + QString::number(f.throttleMin, 'f', 2).toStdString());
        log_.Add("LKorekceB " + QString::number(f.throttleMax, 'f', 2).toStdString());
        if (f.poles != fields.poles)
            log_.Add("EPocPolu " + f.poles.toStdString());
        if (f.ratio != fields.ratio)
            log_.Add("EPrevPom " + f.ratio.toStdString());
        log_.Add(f.maxRpmEnabled ? "Lm LmH on" : "Lm LmH off");
        log_.Add("LmH " + f.maxRpmText.toStdString());
        fields = f;
    }
    void ShowError(const QString& t) override { log_.Add("box " + Key(t)); }
    void ShowIdentity(const TRegulatorIdentity* id) override
    {
        if (id)
            log_.Add(id->KeepsLog() ? "EEPROM1 shown" : "EEPROM1 hidden");
        log_.Add("identity " +
                 (id ? id->name + '|' + id->version + '|' + id->date
                     : kNamePlaceholder + '|' + kValuePlaceholder + '|' + kDatePlaceholder)
                     .toStdString());
    }
    void ShowConnected(bool on) override { log_.Add(on ? "status str60" : "status str4"); }
    void ShowReplyBuffer(const QString&) override {}
    void SetProgress(int bar, int position) override
    {
        log_.Add("PB" + std::to_string(bar) + " " + std::to_string(position));
    }
    void SetTransferButtonsEnabled(bool on) override
    {
        log_.Add(on ? "buttons on" : "buttons off");
    }
    void SetRegulatorControlsEnabled(bool on) override
    {
        log_.Add(on ? "throttle on" : "throttle off");
        log_.Add(on ? "file menu on" : "file menu off");
    }
    void ReportError(const QString& t) override { log_.Add("report " + t.toStdString()); }
    void ShowProgressHint(const QString& t) override { log_.Add("hint " + t.toStdString()); }

    // The boxes the window shows for what the cycle tells.
    void LinkError(const TLinkErrorEvent&) override { log_.Add("box str53"); }
    void LogEnded(const TLogEvent& e) override
    {
        if (e.ending == TLogEnding::BadCommunication)
            log_.Add("plain " + messages_.Msg(kEepromBadCommunicationKey).toStdString());
    }

private:
    // Message texts are written down by their keys.
    std::string Key(const QString& text) const
    {
        for (const char* key : {"str4", "str11", "str53", "str60", "str91"}) {
            const QString m = messages_.LookupMessage(QString::fromLatin1(key));
            if (text == m || text == m + '\r')
                return key + std::string(text.endsWith('\r') ? "+CR" : "");
            if (text.startsWith(m.left(m.indexOf(QStringLiteral("%1")))) && m.contains("%1"))
                return key;
        }
        return text.toStdString();
    }
    Log& log_;
    const TsmlMsgLangRes& messages_;
};

struct Rig {
    VirtualClock virtualClock;
    Log log;
    RecClock clock{virtualClock, log};
    TsmlMsgLangRes messages;
    TUserSettings settings;
    RecView view{log, messages};
    RecPanel panel{log};
    RecPort port{log};
    RecUsb usb{log};
    TConnectionCycle cycle{clock,    view, panel, messages,
                           settings, port, usb,   QStringLiteral("/nowhere/")};

    explicit Rig(const char* linkMode = "COM")
    {
        log.clock = &virtualClock;
        settings.device = QString::fromLatin1(linkMode);
        cycle.AddListener(&view);
        cycle.ClearWorkingState();
    }
    std::string State() const
    {
        const ProtocolState& s = cycle.State();
        std::string line = "=";
        for (const auto& [on, name] : {std::pair{s.busy, "busy"},
                                       {s.identificationPending, "ident"},
                                       {s.readPending, "read"},
                                       {s.writePending, "write"},
                                       {s.presencePending, "presence"},
                                       {s.logPending, "log"}})
            if (on)
                line += std::string(" ") + name;
        return line + " miss=" + std::to_string(s.presenceMissCount) +
               " dog=" + std::to_string(s.watchdogCount);
    }
};

struct Step {
    std::string what;
    std::function<void(Rig&)> act;
    Lines expected;
};

// The hint while a read or a write goes unanswered, at each tick of its watchdog.
std::string NoAnswer(int at, int tick)
{
    return "+" + std::to_string(at) + " hint Regulátor neodpovídá, čekám (" + std::to_string(tick) +
           " z 3)";
}

Step Wait(int ms, Lines expected)
{
    return {"wait " + std::to_string(ms), [ms](Rig& r) { r.virtualClock.Advance(ms); },
            std::move(expected)};
}
Step Rx(const char* what, QByteArray bytes, Lines expected)
{
    return {what, [bytes](Rig& r) { r.cycle.OnSerialBytes(bytes); }, std::move(expected)};
}
Step Do(const char* what, std::function<void(Rig&)> act, Lines expected)
{
    return {what, std::move(act), std::move(expected)};
}

void Play(Rig& rig, const std::vector<Step>& steps)
{
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        rig.log.lines.clear();
        rig.log.stepStart = rig.virtualClock.Now();
        step.act(rig);
        rig.log.lines.push_back(rig.State());
        EXPECT_EQ(rig.log.lines, step.expected);
    }
}

QByteArray Identification(unsigned char flags)
{
    QByteArray p =
        QByteArray("KVX-40 OPTO").leftJustified(16, ' ') + ' ' + "V.03a" + ' ' + "12.10.26 ";
    p.append(char(flags));
    return BuildDataFrame(p);
}
// 2.00 ms, 1.10 ms, T = 0x0F00, display 118 42 3, options 2 1 3 1 4 2.
const QByteArray kReadReply = BuildDataFrame(QByteArray::fromHex("07D0044C0F00762A03020103010402"));
const QByteArray kAck = QByteArray(1, char(kWriteAck));
const QByteArray kEnd = QByteArray(1, char(kWriteEnd));
const QByteArray kFa = QByteArray(1, char(kPresenceAck));

const std::string kWakeUp = "send 55 55 55 55 55 55 55 55 55 55";
const Lines kReadStart = {"Timer2 off", "buttons off", "PB1 20", "send FC 01 02", "Timer4 on"};

// Both resets up to their differences: bars, buttons, placeholders, throttle fields, max rpm,
// file menu.
Lines ResetLines(int at, bool clearPanel, bool timeout)
{
    const std::string t = "+" + std::to_string(at) + " ";
    Lines l;
    for (const char* s :
         {"PB1 0", "PB2 0", "buttons off",
          "identity - - - - - - - - - - - - - - - -|- - - - -|- - - - - - - - -", "LKorekceA 0.00",
          "LKorekceB 0.00", "Lm LmH off", "LmH - - - - -", "throttle off", "file menu off"})
        l.push_back(t + s);
    if (clearPanel)
        l.push_back(t + "clear panel");
    if (timeout)
        l.push_back(t + "Timer3 off");
    for (const char* s : {"Timer1 on", "Timer2 off", "status str4"})
        l.push_back(t + s);
    return l;
}

Lines At(int at, const Lines& lines, Lines tail = {})
{
    Lines out;
    for (const std::string& l : lines)
        out.push_back("+" + std::to_string(at) + " " + l);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

Lines Join(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Wake-up, identification and the first read, up to connected and idle.
std::vector<Step> Connecting(unsigned char flags = 0x80)
{
    const bool alternate = flags & 0x10;
    return {
        Do("start", [](Rig& r) { r.cycle.StartConnecting(); }, {"+0 Timer1 on", "= miss=0 dog=0"}),
        Wait(1, {"+1 " + kWakeUp, "+1 Timer3 on", "+1 Timer1 off", "= busy ident miss=0 dog=0"}),
        Rx("identification", Identification(flags),
           At(0,
              Join({"Timer1 off", "Timer1 off", "Timer3 off",
                    flags & 0x80 ? "EEPROM1 shown" : "EEPROM1 hidden",
                    "identity KVX-40 OPTO|V.03a|12.10.26", "status str60",
                    std::string("build panel KVX-40 OPTO") + (alternate ? " alternate" : ""),
                    "throttle on", "file menu on", "buttons on"},
                   kReadStart),
              {"= busy read miss=0 dog=0"})),
        Rx("read reply", kReadReply,
           At(0,
              {"Timer1 off", "PB1 50", "LKorekceA 1.10", "LKorekceB 2.00", "Lm LmH on", "LmH 15625",
               "Lab20 11.8", alternate ? "Lab21 42" : "Lab21 21", "Lab22 3", "PB1 100",
               "Timer4 off", "Timer3 off", "pause 100"},
              {"= busy miss=0 dog=0"})),
        Wait(99, {"= busy miss=0 dog=0"}),
        Wait(1, {"+1 PB1 0", "+1 Timer2 on", "+1 buttons on", "= miss=0 dog=0"}),
    };
}

void Connect(Rig& rig)
{
    for (const Step& s : Connecting())
        s.act(rig);
    ASSERT_FALSE(rig.cycle.State().busy);
}

} // namespace

TEST(Timeline, WakeUpIdentificationAndFirstRead)
{
    Rig rig;
    Play(rig, Connecting());
}

TEST(Timeline, IdentificationFlagsAndMissingModel)
{
    {
        SCOPED_TRACE("no log, alternate scale");
        Rig rig;
        Play(rig, Connecting(0x10));
    }
    SCOPED_TRACE("no model definition file");
    Rig rig;
    rig.panel.missing = true;
    Play(rig, {
                  Do("start", [](Rig& r) { r.cycle.StartConnecting(); },
                     {"+0 Timer1 on", "= miss=0 dog=0"}),
                  Wait(1, {"+1 " + kWakeUp, "+1 Timer3 on", "+1 Timer1 off",
                           "= busy ident miss=0 dog=0"}),
                  Rx("identification", Identification(0x80),
                     {"+0 Timer1 off", "+0 Timer1 off", "+0 Timer3 off", "+0 EEPROM1 shown",
                      "+0 identity KVX-40 OPTO|V.03a|12.10.26", "+0 status str60",
                      "+0 build panel KVX-40 OPTO", "+0 throttle on", "+0 file menu on",
                      "+0 buttons on", "+0 buttons off", "+0 Timer3 on", "= busy miss=0 dog=0"}),
                  Wait(2000, Join(ResetLines(2000, false, true), {"= miss=0 dog=0"})),
                  Wait(1, {"+1 " + kWakeUp, "+1 Timer3 on", "+1 Timer1 off",
                           "= busy ident miss=0 dog=0"}),
              });
}

TEST(Timeline, WakeUpSendErrorThenThePortComesBack)
{
    Rig rig;
    rig.port.fail = true;
    rig.port.present = false;
    Play(rig,
         {
             Do("start", [](Rig& r) { r.cycle.StartConnecting(); },
                {"+0 Timer1 on", "= miss=0 dog=0"}),
             Wait(1,
                  {"+1 " + kWakeUp + " fails", "+1 Timer1 off", "+1 PortWatch on", "+1 status str4",
                   "+1 PB1 0", "+1 PB2 0", "+1 box str53", "= busy miss=0 dog=0"}),
             Wait(2000, {"+1000 port still away", "+2000 port still away", "= busy miss=0 dog=0"}),
             Do("plugged in", [](Rig& r) { r.port.present = true; }, {"= busy miss=0 dog=0"}),
             Wait(1000, Join({"+1000 port reopened", "+1000 PortWatch off"},
                             Join(ResetLines(1000, true, true), {"= miss=0 dog=0"}))),
             Wait(1,
                  {"+1 " + kWakeUp, "+1 Timer3 on", "+1 Timer1 off", "= busy ident miss=0 dog=0"}),
         });
}

TEST(Timeline, ReadAndItsWatchdog)
{
    Rig rig;
    Connect(rig);
    Play(rig, {
                  Do(
                      "Button1", [](Rig& r) { r.cycle.StartRead(); },
                      At(0, kReadStart, {"= busy read miss=0 dog=0"})),
                  Do("Button1 again while busy", [](Rig& r) { r.cycle.StartRead(); },
                     {"= busy read miss=0 dog=0"}),
                  // Silent regulator: four watchdog ticks, the retries refused while busy.
                  Wait(4000, {"+4000 status str4", "+4000 PB1 0", "+4000 PB2 0", NoAnswer(4000, 1),
                              "+4000 Timer2 off", "= busy read miss=0 dog=1"}),
                  Wait(8000, {NoAnswer(4000, 2), "+4000 Timer2 off", NoAnswer(8000, 3),
                              "+8000 Timer2 off", "= busy read miss=0 dog=3"}),
                  Wait(4000, {"+4000 Timer2 off", "+4000 Timer3 on", "= busy read miss=0 dog=0"}),
                  Wait(2000, Join(ResetLines(2000, true, true), {"= miss=0 dog=0"})),
              });

    // A reply while the watchdog has already armed the reset: the reply stops Timer3 too.
    Rig late;
    Connect(late);
    late.cycle.State().watchdogCount = 3;
    Play(late,
         {
             Do(
                 "Button1", [](Rig& r) { r.cycle.StartRead(); },
                 At(0, kReadStart, {"= busy read miss=0 dog=3"})),
             Wait(4000, {"+4000 Timer2 off", "+4000 Timer3 on", "+4000 status str4", "+4000 PB1 0",
                         "+4000 PB2 0", "= busy read miss=0 dog=0"}),
             Rx("late read reply", kReadReply,
                At(0,
                   {"Timer1 off", "PB1 50", "status str60", "LKorekceA 1.10", "LKorekceB 2.00",
                    "Lm LmH on", "LmH 15625", "Lab20 11.8", "Lab21 21", "Lab22 3", "PB1 100",
                    "Timer4 off", "Timer3 off", "pause 100"},
                   {"= busy miss=0 dog=0"})),
             Wait(2100, {"+100 PB1 0", "+100 Timer2 on", "+100 buttons on", "= miss=0 dog=0"}),
         });
}

// A reply is taken only when it can be the answer to the request pending: nothing that came
// before the request, no frame shorter than the model's block, no late read reply for the
// identification. And no write before a block was read whole.
TEST(Timeline, OnlyTheAnswerToTheRequestPendingIsTaken)
{
    const Lines readDecoded = {"Timer1 off", "PB1 50",    "LKorekceA 1.10", "LKorekceB 2.00",
                               "Lm LmH on",  "LmH 15625", "Lab20 11.8",     "Lab21 21",
                               "Lab22 3",    "PB1 100",   "Timer4 off",     "Timer3 off",
                               "pause 100"};
    {
        SCOPED_TRACE("a write before any block was read");
        Rig rig;
        Play(rig, {Do("Button2", [](Rig& r) { r.cycle.StartWrite(); }, {"= miss=0 dog=0"})});
    }
    {
        SCOPED_TRACE("bytes left over from before the read request");
        Rig rig;
        Connect(rig);
        Play(rig,
             {
                 Rx("half a frame while idle", QByteArray::fromHex("FE0F07D0"), {"= miss=0 dog=0"}),
                 Do(
                     "Button1", [](Rig& r) { r.cycle.StartRead(); },
                     At(0, kReadStart, {"= busy read miss=0 dog=0"})),
                 Rx("read reply", kReadReply, At(0, readDecoded, {"= busy miss=0 dog=0"})),
             });
    }
    {
        SCOPED_TRACE("a frame shorter than the model's block");
        Rig rig;
        Connect(rig);
        Play(rig, {
                      Do(
                          "Button1", [](Rig& r) { r.cycle.StartRead(); },
                          At(0, kReadStart, {"= busy read miss=0 dog=0"})),
                      Rx("short frame", BuildDataFrame(kReadReply.mid(2, 14)),
                         {"+0 Timer1 off", "= busy read miss=0 dog=0"}),
                      Rx("read reply", kReadReply, At(0, readDecoded, {"= busy miss=0 dog=0"})),
                  });
    }
    SCOPED_TRACE("a read reply that comes after its read was given up");
    Rig rig;
    Connect(rig);
    Play(rig,
         {
             Do(
                 "Button1", [](Rig& r) { r.cycle.StartRead(); },
                 At(0, kReadStart, {"= busy read miss=0 dog=0"})),
             Wait(16000, {"+4000 status str4", "+4000 PB1 0", "+4000 PB2 0", NoAnswer(4000, 1),
                          "+4000 Timer2 off", NoAnswer(8000, 2), "+8000 Timer2 off",
                          NoAnswer(12000, 3), "+12000 Timer2 off", "+16000 Timer2 off",
                          "+16000 Timer3 on", "= busy read miss=0 dog=0"}),
             Wait(2000, Join(ResetLines(2000, true, true), {"= miss=0 dog=0"})),
             Wait(1,
                  {"+1 " + kWakeUp, "+1 Timer3 on", "+1 Timer1 off", "= busy ident miss=0 dog=0"}),
             Rx("the late read reply", kReadReply, {"+0 Timer1 off", "= busy ident miss=0 dog=0"}),
             Rx("identification", Identification(0x80),
                At(0,
                   Join({"Timer1 off", "Timer1 off", "Timer3 off", "EEPROM1 shown",
                         "identity KVX-40 OPTO|V.03a|12.10.26", "status str60",
                         "build panel KVX-40 OPTO", "throttle on", "file menu on", "buttons on"},
                        kReadStart),
                   {"= busy read miss=0 dog=0"})),
         });
}

TEST(Timeline, ReadWithAMissingLookupFile)
{
    // The third entry has no multiplier: its text comes from a lookup file the program folder
    // lacks. The box follows the fixed fields and the other display values, within the reply.
    Rig rig;
    Connect(rig);
    rig.panel.multiplierCount = 2;
    const std::string box = "box " + (rig.messages.LookupMessage(QStringLiteral("str1")) +
                                      QStringLiteral("\r/nowhere/Teplota1.txt."))
                                         .toStdString();
    Play(rig, {
                  Do(
                      "Button1", [](Rig& r) { r.cycle.StartRead(); },
                      At(0, kReadStart, {"= busy read miss=0 dog=0"})),
                  Rx("read reply", kReadReply,
                     At(0,
                        {"Timer1 off", "PB1 50", "LKorekceA 1.10", "LKorekceB 2.00", "Lm LmH on",
                         "LmH 15625", "Lab20 11.8", "Lab21 21", box, "PB1 100", "Timer4 off",
                         "Timer3 off", "pause 100"},
                        {"= busy miss=0 dog=0"})),
              });
}

TEST(Timeline, WriteEndedByFbOrFc)
{
    const Lines writeOut = {
        "PB2 20",          "PB2 40",          "send FE 0A 07 D0 04 4C 02 01 03 01 04 02 6C",
        "Timer4 on",       "PB2 50",          "Lab20 - - - - -",
        "Lab21 - - - - -", "Lab22 - - - - -", "LKorekceA 1.10",
        "LKorekceB 2.00",  "Lm LmH on",       "LmH - - - - -"};
    const Step click =
        Do("Button2", [](Rig& r) { r.cycle.StartWrite(); },
           {"+0 Timer2 off", "+0 buttons off", "+0 pause 100", "= busy write miss=0 dog=0"});
    {
        SCOPED_TRACE("FB");
        Rig rig;
        Connect(rig);
        Play(rig,
             {
                 click,
                 Wait(99, {"= busy write miss=0 dog=0"}),
                 Wait(1, At(1, writeOut, {"= busy write miss=0 dog=0"})),
                 Rx("FB", kAck,
                    {"+0 Timer1 off", "+0 Timer4 off", "+0 Timer3 off", "+0 PB2 100",
                     "+0 pause 100", "= busy miss=0 dog=0"}),
                 Wait(100, {"+100 PB2 0", "+100 buttons on", "+100 Timer2 on", "= miss=0 dog=0"}),
             });
    }
    {
        SCOPED_TRACE("FC");
        Rig rig;
        Connect(rig);
        Play(rig,
             {
                 click,
                 Wait(100, At(100, writeOut, {"= busy write miss=0 dog=0"})),
                 Rx("FC", kEnd, {"+0 Timer1 off", "+0 PB2 100", "+0 buttons on", "= miss=0 dog=0"}),
                 // The watchdog keeps ticking with nothing pending; no presence queries.
                 Wait(20000, {"= miss=0 dog=0"}),
             });
    }
    {
        SCOPED_TRACE("silent: the watchdog's write branch");
        Rig rig;
        Connect(rig);
        Play(rig,
             {
                 click,
                 Wait(100, At(100, writeOut, {"= busy write miss=0 dog=0"})),
                 Wait(4000, {"+4000 status str4", "+4000 PB1 0", "+4000 PB2 0", NoAnswer(4000, 1),
                             "+4000 Timer2 off", "= busy write miss=0 dog=1"}),
             });
    }
    {
        SCOPED_TRACE("a frame that cannot be built ends the write at once");
        Rig rig;
        Connect(rig);
        rig.panel.groups[0].items = 400;
        rig.panel.groups[0].index = 299;
        Play(rig, {
                      click,
                      Wait(100, {"+100 PB2 20", "+100 PB2 0", "+100 buttons on", "+100 Timer2 on",
                                 "+100 report Option group 0: item 300 cannot be sent in one byte.",
                                 "= miss=0 dog=0"}),
                  });
    }
}

TEST(Timeline, FactorySettingsThenRead)
{
    Rig rig;
    Connect(rig);
    Play(rig, {
                  Do("Button3", [](Rig& r) { r.cycle.StartFactoryReset(); },
                     {"+0 buttons off", "+0 Timer2 off", "+0 send FC 01 05", "+0 pause 700",
                      "= busy read miss=0 dog=0"}),
                  Do("Button1 while busy", [](Rig& r) { r.cycle.StartRead(); },
                     {"= busy read miss=0 dog=0"}),
                  Wait(699, {"= busy read miss=0 dog=0"}),
                  Wait(1, At(1, kReadStart, {"= busy read miss=0 dog=0"})),
              });
}

TEST(Timeline, PresenceAndTheLostRegulatorReset)
{
    Rig rig;
    Connect(rig);
    Play(rig, {
                  Wait(2500, {"+2500 send FC 01 03", "= busy presence miss=1 dog=0"}),
                  Rx("FA", kFa, {"+0 Timer1 off", "+0 status str60", "= miss=0 dog=0"}),
                  Wait(2500, {"+2500 send FC 01 03", "= busy presence miss=1 dog=0"}),
                  Wait(2500, {"+2500 send FC 01 03", "= busy presence miss=2 dog=0"}),
                  Wait(2500, Join(ResetLines(2500, true, false), {"= miss=0 dog=0"})),
              });

    // The line goes away while idle: one box, the watch, silent sends until the reset.
    Rig gone;
    Connect(gone);
    gone.port.fail = true;
    Play(gone,
         {
             Wait(2500, {"+2500 send FC 01 03 fails", "+2500 PortWatch on", "+2500 status str4",
                         "+2500 PB1 0", "+2500 PB2 0", "+2500 box str53",
                         "= busy presence miss=1 dog=0"}),
             Wait(1000,
                  {"+1000 port reopened", "+1000 PortWatch off", "+1000 PB1 0", "+1000 PB2 0",
                   "+1000 buttons off",
                   "+1000 identity - - - - - - - - - - - - - - - -|- - - - -|- - - - - - - - -",
                   "+1000 LKorekceA 0.00", "+1000 LKorekceB 0.00", "+1000 Lm LmH off",
                   "+1000 LmH - - - - -", "+1000 throttle off", "+1000 file menu off",
                   "+1000 clear panel", "+1000 Timer3 off", "+1000 Timer1 on", "+1000 Timer2 off",
                   "+1000 status str4", "= miss=1 dog=0"}),
         });
}

// Over USB a receive stands for a blocking read: nothing the window would only have done after it
// (timer ticks, the closing switch to two stop bits) may happen before its result is in.
TEST(Timeline, UsbWakeUpIdentificationAndReadAroundTheReceives)
{
    const std::string kUsbWakeUp = "usb send 55 55 55 55 55 55 55 55 55 55";
    const Lines identified = {"Timer1 off",
                              "Timer1 off",
                              "Timer3 off",
                              "EEPROM1 shown",
                              "identity KVX-40 OPTO|V.03a|12.10.26",
                              "status str60",
                              "build panel KVX-40 OPTO",
                              "throttle on",
                              "file menu on",
                              "buttons on",
                              "stop bits 2",
                              "Timer2 off",
                              "buttons off",
                              "PB1 20",
                              "usb discard",
                              "usb send FC 01 02",
                              "usb receive"};
    const auto complete = [](const char* what, QByteArray bytes, Lines expected) {
        return Do(
            what, [bytes](Rig& r) { r.usb.Complete(bytes); }, std::move(expected));
    };
    Rig rig("USB");
    Play(rig, {
                  Do("start", [](Rig& r) { r.cycle.StartConnecting(); },
                     {"+0 Timer1 on", "= miss=0 dog=0"}),
                  // One stop bit before anything else, also while the busy flag stops the tick.
                  Wait(1, {"+1 stop bits 1", "+1 " + kUsbWakeUp, "+1 Timer3 on", "+1 Timer1 off",
                           "+1 usb receive", "= busy ident miss=0 dog=0"}),
                  // Timer3 falls due while the read still waits: its tick waits for the read's end,
                  // and by then the identification has stopped it.
                  Wait(2000, {"= busy ident miss=0 dog=0"}),
                  complete("identification", Identification(0x80),
                           At(0, identified, {"= busy read miss=0 dog=0"})),
                  complete("read reply", kReadReply,
                           At(0,
                              {"Timer1 off", "PB1 50", "LKorekceA 1.10", "LKorekceB 2.00",
                               "Lm LmH on", "LmH 15625", "Lab20 11.8", "Lab21 21", "Lab22 3",
                               "PB1 100", "Timer4 off", "Timer3 off", "pause 100", "stop bits 2"},
                              {"= busy miss=0 dog=0"})),
                  Wait(100, {"+100 PB1 0", "+100 Timer2 on", "+100 buttons on", "= miss=0 dog=0"}),
                  Do("a wake-up tick while busy still sets one stop bit",
                     [](Rig& r) {
                         r.cycle.State().busy = true;
                         r.cycle.OnWakeUpTick();
                         r.cycle.State().busy = false;
                     },
                     {"+0 stop bits 1", "= miss=0 dog=0"}),
              });
}

// A read the driver fails is the adapter's hang-up: one box, the watch, and no wake-up until the
// watch finds the adapter answering again.
TEST(Timeline, UsbReadErrorThenTheAdapterAnswersAgain)
{
    const std::string kUsbWakeUp = "usb send 55 55 55 55 55 55 55 55 55 55";
    Lines watchReset = ResetLines(900, true, true);
    watchReset.insert(std::find(watchReset.begin(), watchReset.end(), "+900 Timer3 off"),
                      "+900 usb discard");
    Rig rig("USB");
    Play(rig,
         {
             Do("start", [](Rig& r) { r.cycle.StartConnecting(); },
                {"+0 Timer1 on", "= miss=0 dog=0"}),
             Wait(1, {"+1 stop bits 1", "+1 " + kUsbWakeUp, "+1 Timer3 on", "+1 Timer1 off",
                      "+1 usb receive", "= busy ident miss=0 dog=0"}),
             Do("the read fails, the adapter is gone",
                [](Rig& r) {
                    r.usb.ready = false;
                    r.usb.Complete({}, true);
                },
                {"+0 PortWatch on", "+0 status str4", "+0 PB1 0", "+0 PB2 0", "+0 box str53",
                 "= busy ident miss=0 dog=0"}),
             Wait(1500, {"= busy ident miss=0 dog=0"}),
             // The time-out reset restarts Timer1, whose tick leaves the search to the watch.
             Wait(600, Join(ResetLines(500, false, true), {"+501 Timer1 off", "= miss=0 dog=0"})),
             Do("plugged in", [](Rig& r) { r.usb.ready = true; }, {"= miss=0 dog=0"}),
             Wait(1000, Join(Join({"+900 PortWatch off"}, watchReset),
                             {"+901 stop bits 1", "+901 " + kUsbWakeUp, "+901 Timer3 on",
                              "+901 Timer1 off", "+901 usb receive", "= busy ident miss=0 dog=0"})),
             Do("a second failure tells the user again", [](Rig& r) { r.usb.Complete({}, true); },
                {"+0 PortWatch on", "+0 status str4", "+0 PB1 0", "+0 PB2 0", "+0 box str53",
                 "+0 stop bits 2", "= busy ident miss=0 dog=0"}),
         });
}
