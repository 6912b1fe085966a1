#pragma once
// The connection cycle: finding the regulator, its identification, the read, write and factory
// settings transactions, presence checks while idle, and the resets when the regulator is lost or
// stops answering. Four timers carry it; bytes go out by the link mode's sending rule and come back
// through the reply parser. Widget-free: the window is reached through ICycleView, the panel
// through IParameterPanel, time through IClock.

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

// Placeholders shown while nothing is known.
inline const QString kNamePlaceholder = QStringLiteral("- - - - - - - - - - - - - - - -");
inline const QString kValuePlaceholder = QStringLiteral("- - - - -");
inline const QString kDatePlaceholder = QStringLiteral("- - - - - - - - -");

// Intervals of the window's timers and the protocol's pauses, in milliseconds.
constexpr int kWakeUpInterval = 1;       // Timer1: as often as the platform allows
constexpr int kPresenceInterval = 2500;  // Timer2
constexpr int kTimeoutResetDelay = 2000; // Timer3
constexpr int kWatchdogInterval = 4000;  // Timer4
constexpr int kProgressPause = 100;      // the progress bar stands at its end before it is cleared
constexpr int kDefaultSettlePause = 700; // the regulator restores its factory block
constexpr int kWatchdogLimit = 2;        // ticks counted before the time-out reset is armed
constexpr int kPortWatchInterval = 1000; // looking for a lost port or adapter to come back
constexpr int kUsbReadCount = 511;
constexpr int kStaleReplyReceives = 8; // USB: receives after replies that were not the block

// The window as the cycle sees it.
class ICycleView {
public:
    virtual ~ICycleView() = default;
    // The fixed fields of the left column that the parameter block reads and writes.
    virtual double ThrottleMin() const = 0; // LKorekceA, ms
    virtual double ThrottleMax() const = 0; // LKorekceB, ms
    virtual void SetThrottleMin(double ms) = 0;
    virtual void SetThrottleMax(double ms) = 0;
    virtual QString PoleText() const = 0; // EPocPolu
    virtual void SetPoleText(const QString& text) = 0;
    virtual QString RatioText() const = 0; // EPrevPom
    virtual void SetRatioText(const QString& text) = 0;
    virtual void EnableMaxRpm() = 0; // Lm and LmH
    virtual void SetMaxRpmText(const QString& text) = 0;
    virtual QString VersionCaption() const = 0; // LvH
    virtual QString LinkMode() const = 0;       // "COM", "USB" or anything else
    virtual QString LanguageCode() const = 0;   // picks the model definition folder
    virtual void SetIdentity(const QString& name, const QString& version, const QString& date) = 0;
    virtual QString RegulatorName() const = 0;                // LnH
    virtual void ShowStatus(const QString& text) = 0;         // status bar panel 1
    virtual void ShowReplyBuffer(const QString& caption) = 0; // Label3
    virtual void SetProgress(int bar, int position) = 0;      // bar 1: PB1, 2: PB2
    // Button1, Button2, Button3, and EEPROM1 while it is visible.
    virtual void SetTransferButtonsEnabled(bool on) = 0;
    virtual void SetEepromVisible(bool on) = 0;
    virtual void SetThrottleEnabled(bool on) = 0; // LKorekceA, LKorekceB
    virtual void SetFileMenuEnabled(bool on) = 0; // Open, Saveas
    virtual void DisableMaxRpm() = 0;             // Lm, LmH
    // An error message box: caption "str2", the given text, error icon, OK.
    virtual void ShowError(const QString& text) = 0;
    // The general error report: a box with the error's text.
    virtual void ReportError(const QString& text) = 0;
    // A box with the text and an OK button, nothing else.
    virtual void ShowPlainMessage(const QString& text) = 0;
    // The status bar's hint panel, for progress of long work.
    virtual void ShowProgressHint(const QString& text) = 0;
};

// The regulator as its identification reply described it.
struct TRegulatorIdentity {
    QString name, version, date;
    unsigned char flags = 0;
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
    TConnectionCycle(IClock& clock, ICycleView& view, IParameterPanel& panel,
                     const TsmlMsgLangRes& messages, ISerialPort& com, IUsbLink& usb,
                     QString programDir);
    ~TConnectionCycle() override;

    // Timer handlers and the user's transactions.
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void Timer4Timer();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    // The log download (protocol/eepromlog.cpp); the watchdog calls it too.
    void EEPROM1Click();
    QString EepromPath() const;
    // Where the log goes instead of EEPROM.txt in the program folder (the command-line tool's -o).
    void SetEepromPath(const QString& path) { eepromPath_ = path; }
    const TLogDownload& LogDownload() const { return log_; }

    // Bytes from the COM port's receive event (the window reads them from Comm1).
    void Comm1RxChar(const QByteArray& bytes);
    void ParseReplyBuffer();

    // Clears the protocol and model working state, as start-up does.
    void ClearWorkingState();
    // Start-up: the link is open, the connection attempts begin.
    void StartConnecting();

    ITimer& Timer1() { return *timer1_; }
    ITimer& Timer2() { return *timer2_; }
    ITimer& Timer3() { return *timer3_; }
    ITimer& Timer4() { return *timer4_; }
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
    const TRegulatorIdentity& Identity() const { return identity_; }
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
    void UsbReceived(const UsbReadResult& result);
    void RunUsbContinuations();
    void OnTimerTick(int index, void (TConnectionCycle::*handler)());
    bool UsbReady();
    void UsbStopBits(int stopBits);
    // Whether a verified frame can be the read's answer: not the identification again, and at
    // least as long as the model's block.
    bool CanBeReadReply(const QByteArray& payload) const;
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
    void ShowLogHint();
    void LostRegulatorReset();
    void TimeoutReset();
    void ResetCommon(bool clearPanel);
    void ShowLinkError();
    // A send or a USB read failed: the link error box, once per loss of the line, and the watch
    // for the port or adapter to come back.
    void LinkFailed();
    void PortWatchTimer();
    void ShowNotices(const QList<DecodeNotice>& notices);
    // A read reply into the window: its fixed fields, the display values with their error boxes,
    // then the options.
    DecodeOutcome DecodeIntoView(const QByteArray& payload);
    QString Msg(const char* key) const;
    // Runs a handler; what escapes it goes to the general error report.
    void Guarded(const std::function<void()>& fn);

    IClock& clock_;
    ICycleView& view_;
    IParameterPanel& panel_;
    const TsmlMsgLangRes& messages_;
    ISerialPort& com_;
    IUsbLink& usb_;
    QString programDir_;
    ProtocolState state_;
    bool alternateScale_ = false;
    std::unique_ptr<ITimer> timer1_, timer2_, timer3_, timer4_, portWatch_;
    bool linkLost_ = false;
    std::shared_ptr<void> pause_; // a pending pause continuation; dropped by a reset
    QSet<QString> noticesShown_;  // data problems already reported during this connection
    IOverwriteGuard* guard_ = nullptr;
    enum class Guard { None, Waiting, Allowed, Refused };
    Guard guardState_ = Guard::None;
    int guardAsked_ = 0;               // which question an answer belongs to
    std::function<void()> afterGuard_; // dropped by a reset
    TRegulatorIdentity identity_;
    QByteArray lastRead_;
    QByteArray identityPayload_; // the identification reply as it came
    int readReceivesLeft_ = 0;   // of kStaleReplyReceives, for the read in progress
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
    std::unique_ptr<IFileWriter> ownWriter_;
    IFileWriter* files_ = nullptr;
};
