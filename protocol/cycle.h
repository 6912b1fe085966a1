#pragma once
// The connection cycle: finding the regulator, its identification, the read, write and factory
// settings transactions, presence checks while idle, and the resets when the regulator is lost or
// stops answering. Five timers carry it (wake-up, presence, time-out, watchdog, and the watch for a
// lost line); bytes go out by the link mode's sending rule and come back from the transport
// straight into the reply parser. Widget-free: what happened goes to the listeners as events
// (cycleevents.h), what is drawn to ICycleView, the panel is reached through IParameterPanel,
// time through IClock.

#include "common/clock.h"
#include "protocol/cycleevents.h"
#include "protocol/eepromlog.h"
#include "protocol/paramblock.h"
#include "protocol/replyparser.h"
#include "protocol/transport.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class IClock;
class IFileWriter;
class ITimer;
class TsmlMsgLangRes;
struct TUserSettings;

// Placeholders shown while nothing is known.
inline const QString kNamePlaceholder = QStringLiteral("- - - - - - - - - - - - - - - -");
inline const QString kValuePlaceholder = QStringLiteral("- - - - -");
inline const QString kDatePlaceholder = QStringLiteral("- - - - - - - - -");

// Intervals of the window's timers and the protocol's pauses, in milliseconds.
constexpr int kWakeUpInterval = 1;       // the window's Timer1: as often as the platform allows
constexpr int kPresenceInterval = 2500;  // Timer2
constexpr int kTimeoutResetDelay = 2000; // Timer3
constexpr int kWatchdogInterval = 4000;  // Timer4
constexpr int kProgressPause = 100;      // the progress bar stands at its end before it is cleared
constexpr int kDefaultSettlePause = 700; // the regulator restores its factory block
constexpr int kWatchdogLimit = 2;        // ticks counted before the time-out reset is armed
constexpr int kPortWatchInterval = 1000; // looking for a lost port or adapter to come back
constexpr int kUsbReadCount = 511;
constexpr int kStaleReplyReceives = 8; // USB: receives after frames that were not the answer

// What the window draws of the cycle; the tool keeps the same as plain values. Decisions are taken
// from the events (cycleevents.h), never from what is drawn here.
class ICycleView {
public:
    virtual ~ICycleView() = default;
    // The fixed fields of the left column that the parameter block reads and writes: the throttle
    // limits (LKorekceA, LKorekceB), the pole count and the gear ratio (EPocPolu, EPrevPom) and the
    // maximum speed (Lm, LmH). Fields are what the user left in them; ShowFields replaces them.
    virtual TBlockFields Fields() const = 0;
    virtual void ShowFields(const TBlockFields& fields) = 0;
    // LnH, LvH, LaH and, from the flags, whether EEPROM1 shows; null: nothing is known, the
    // placeholders show and EEPROM1 stays as it is.
    virtual void ShowIdentity(const TRegulatorIdentity* identity) = 0;
    // Status bar panel 1: "str60" connected, "str4" not.
    virtual void ShowConnected(bool connected) = 0;
    virtual void ShowReplyBuffer(const QString& caption) = 0; // Label3
    virtual void SetProgress(int bar, int position) = 0;      // bar 1: PB1, 2: PB2
    // Button1, Button2, Button3, and EEPROM1 while it is visible.
    virtual void SetTransferButtonsEnabled(bool on) = 0;
    // What works on an identified regulator's panel: the throttle fields and the file menu.
    virtual void SetRegulatorControlsEnabled(bool on) = 0;
    // An error message box: caption "str2", the given text, error icon, OK.
    virtual void ShowError(const QString& text) = 0;
    // The general error report: a box with the error's text.
    virtual void ReportError(const QString& text) = 0;
    // The status bar's hint panel, for progress of long work.
    virtual void ShowProgressHint(const QString& text) = 0;
};

// What a write or a factory reset is about to replace: the regulator and its block as last read.
struct TOverwriteContext {
    enum class Kind { Write, FactoryReset };
    Kind kind = Kind::Write;
    TRegulatorIdentity identity;
    QString languageCode;
    bool alternateScale = false;
    QByteArray lastReadPayload; // empty when nothing was read since the identification
};

// Asked before every write and factory reset, so that the settings are never replaced without a
// copy. The window and the command-line tool share one implementation (models/backup.h).
class IOverwriteGuard {
public:
    virtual ~IOverwriteGuard() = default;
    // False stops the transaction before anything is sent; the guard has told the user why.
    virtual bool BeforeOverwrite(const TOverwriteContext& context) = 0;
    // The same answer given to done, which may run later (once the copy is on the disk) or before
    // this returns.
    virtual void BeforeOverwriteAsync(const TOverwriteContext& context,
                                      std::function<void(bool)> done)
    {
        done(BeforeOverwrite(context));
    }
};

class TConnectionCycle final : public IReplyHandlers {
public:
    // settings: the link mode decides every send, the language the model definition folder; read
    // at each use, so a change in the settings dialog or by the flags counts at once.
    TConnectionCycle(IClock& clock, ICycleView& view, IParameterPanel& panel,
                     const TsmlMsgLangRes& messages, const TUserSettings& settings,
                     ISerialPort& com, IUsbLink& usb, QString programDir);
    ~TConnectionCycle() override;

    void AddListener(ICycleEvents* listener);
    void RemoveListener(ICycleEvents* listener);

    // The user's transactions; each refuses while the busy flag is set. A write needs a block
    // read whole since the identification.
    void StartRead();
    void StartWrite();
    void StartFactoryReset();
    // The log download (protocol/eepromlog.cpp); the watchdog calls it too.
    void StartLogDownload();
    QString EepromPath() const;
    // Where the log goes instead of EEPROM.txt in the program folder (the command-line tool's -o).
    void SetEepromPath(const QString& path) { eepromPath_ = path; }
    // The time that names an earlier log kept beside the new one; without it, the earlier log's
    // own modification time does.
    void SetTimeSource(TimeSource now) { now_ = std::move(now); }
    const TLogDownload& LogDownload() const { return log_; }

    // The timers' handlers.
    void OnWakeUpTick();
    void OnPresenceTick();
    void OnTimeoutTick();
    void OnWatchdogTick();

    // Bytes from the serial port; the port adapter hands them on as they arrive.
    void OnSerialBytes(const QByteArray& bytes);
    void ParseReplyBuffer();

    // Clears the protocol and model working state, as start-up does.
    void ClearWorkingState();
    // Start-up: the link is open, the connection attempts begin.
    void StartConnecting();

    ITimer& WakeUpTimer() { return *wakeUpTimer_; }
    ITimer& PresenceTimer() { return *presenceTimer_; }
    ITimer& TimeoutTimer() { return *timeoutTimer_; }
    ITimer& WatchdogTimer() { return *watchdogTimer_; }
    // Runs while the line is lost, until the COM port or the USB adapter is back and open again.
    ITimer& PortWatch() { return *portWatch_; }
    bool LinkLost() const { return linkLost_; }
    ProtocolState& State() { return state_; }
    const ProtocolState& State() const { return state_; }
    bool AlternateScale() const { return alternateScale_; }
    void SetTransferButtons(bool on);
    void SetOverwriteGuard(IOverwriteGuard* guard) { guard_ = guard; }
    // Where EEPROM.txt is written from; by default on this thread, at once.
    void SetFileWriter(IFileWriter* writer);
    // The regulator identified last; HasIdentity is false from the next reset on.
    const TRegulatorIdentity& Identity() const { return identity_; }
    bool HasIdentity() const { return hasIdentity_; }
    // The payload of the last read reply that was decoded, with the writes the regulator has taken
    // since put in, until the next reset or identification.
    const QByteArray& LastReadPayload() const { return lastRead_; }

    // Sends a request by the link mode's rule. withReceive: over USB a receive follows, and then
    // runs once it has been parsed (along with every exchange that parse started); otherwise then
    // runs at once. Link errors propagate, and then does not run.
    // stale: what arrived before the request is dropped first (the reply buffer, and over USB the
    // adapter's input), so that it cannot be taken for the answer.
    enum class Stale { Keep, Discard };
    void SendRequest(const QByteArray& bytes, bool withReceive, std::function<void()> then = {},
                     Stale stale = Stale::Keep);

    // Over USB the window does not wait for a reply: it goes on painting while the adapter reads.
    // What would have waited behind the blocking read (timer ticks, the user's clicks, COM
    // receptions) waits here instead and runs, in order, once the exchange is over.
    bool UsbExchangeActive() const { return usbInFlight_; }
    void WhenLinkIdle(std::function<void()> fn);

private:
    void BackToPresence();
    void SetBusy(bool busy);
    // Tells the listeners when the busy flag differs from what they were last told.
    void NoteBusy();
    template <typename Fn> void Emit(Fn fn);
    QString LinkMode() const;
    // The version the decoding reads: the regulator's, or the placeholder before any.
    QString ShownVersion() const;

    // IReplyHandlers
    void PresenceAcknowledged() override;
    void WriteAcknowledged() override;
    void WriteEndByte() override;
    void LogRecord() override;
    void LogFrameError() override;
    void ReadReply() override;
    void IdentificationReply() override;
    void ReplyBufferChanged(const ReplyBuffer& buffer) override;

    // Starts a USB receive; then runs after its reply has been parsed and every exchange started
    // by that parse has ended, as after the blocking receive it stands for.
    void UsbReceive(std::function<void()> then);
    void OnUsbReceived(const UsbReadResult& result);
    void RunUsbContinuations();
    void OnTimerTick(int index, void (TConnectionCycle::*handler)());
    bool UsbReady();
    void UsbStopBits(int stopBits);
    // Whether a verified frame can be the read's answer: not the identification again, and at
    // least as long as the model's block.
    bool CanBeReadReply(const QByteArray& payload) const;
    // Over USB a frame that was not the answer is followed by another receive, a few at most, so
    // that a regulator sending frame after frame does not hold the link.
    void ReceiveAgain();
    void ContinueWrite();
    // Asks the guard; false when it refused at once. Otherwise its answer comes to
    // GuardAnswered, and whatever waits for it (AfterGuard) runs then.
    bool StartGuard(TOverwriteContext::Kind kind);
    void GuardAnswered(int asked, bool allowed);
    void AfterGuard(std::function<void()> fn);
    void SendDefaultRequest();
    void LogWriteFailed(int download, const QString& reason);
    void WriteTaken();
    // The settings as the window shows them, groups 0 .. groups-1 of the panel.
    TStoredSettings ShownSettings(int groups) const;
    void SendLogRequest(const QByteArray& request);
    void EndLogDownload(TLogEnding ending);
    void LogEnded(TLogEnding ending);
    TLogEvent LogState() const;
    void ShowLogHint();
    void LostRegulatorReset();
    void TimeoutReset();
    void ResetCommon(bool clearPanel);
    void ShowLinkError(TLinkErrorEvent::Where where, const QString& detail);
    // A send or a USB read failed: the link error, once per loss of the line, and the watch for
    // the port or adapter to come back.
    void LinkFailed(TLinkErrorEvent::Where where, const QString& detail);
    void PortWatchTimer();
    // The line is gone or the regulator has stopped answering a transaction: not connected, and
    // no progress, until a reset or a late answer (AnsweredAgain).
    void ShowSilence();
    void AnsweredAgain();
    void ShowNotices(const QList<DecodeNotice>& notices);
    // A read reply into the window: its fixed fields, the display values with their error boxes,
    // then the options.
    DecodeOutcome DecodeIntoView(const QByteArray& payload);
    // Runs a handler; what escapes it goes to the general error report.
    void Guarded(const std::function<void()>& fn);

    IClock& clock_;
    ICycleView& view_;
    IParameterPanel& panel_;
    const TsmlMsgLangRes& messages_;
    const TUserSettings& settings_;
    ISerialPort& com_;
    IUsbLink& usb_;
    QString programDir_;
    ProtocolState state_;
    bool busyTold_ = false; // the busy flag as the listeners last heard of it
    std::vector<ICycleEvents*> listeners_;
    bool alternateScale_ = false;
    std::unique_ptr<ITimer> wakeUpTimer_, presenceTimer_, timeoutTimer_, watchdogTimer_, portWatch_;
    bool linkLost_ = false;
    bool silenceShown_ = false; // ShowSilence said so; an answer says connected again
    std::shared_ptr<void> pause_; // a pending pause continuation; dropped by a reset
    QSet<QString> noticesShown_;  // data problems already reported during this connection
    IOverwriteGuard* guard_ = nullptr;
    enum class Guard { None, Waiting, Allowed, Refused };
    Guard guardState_ = Guard::None;
    int guardAsked_ = 0;               // which question an answer belongs to
    std::function<void()> afterGuard_; // dropped by a reset
    TRegulatorIdentity identity_;
    bool hasIdentity_ = false;
    QByteArray lastRead_;
    QByteArray identityPayload_; // the identification reply as it came
    int replyReceivesLeft_ = 0;  // of kStaleReplyReceives, for the reply awaited
    QByteArray written_;         // the payload of the write in progress
    std::optional<TStoredSettings> writtenSettings_; // what that write sends, for the panel
    bool usbInFlight_ = false;
    std::vector<std::function<void()>> usbContinuations_; // innermost last
    std::deque<std::function<void()>> waitingForLink_;
    bool tickWaiting_[4] = {false, false, false, false};
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // receives outliving the cycle
    TLogDownload log_;
    int logDownloads_ = 0;    // which download a write's answer belongs to
    int logFailReported_ = 0; // the last download whose failed write the user was told of
    QString eepromPath_;
    TimeSource now_;
    std::unique_ptr<IFileWriter> ownWriter_;
    IFileWriter* files_ = nullptr;
};

// A listener may add or remove listeners while it is told: each hears of the event from the list
// as it stood.
template <typename Fn> void TConnectionCycle::Emit(Fn fn)
{
    const std::vector<ICycleEvents*> listeners = listeners_;
    for (ICycleEvents* l : listeners)
        fn(*l);
}
