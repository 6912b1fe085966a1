#include "protocol/cycle.h"

#include "common/clock.h"
#include "common/errors.h"
#include "common/filewriter.h"
#include "common/settings.h"
#include "common/textcodec.h"
#include "i18n/msglangres.h"
#include "protocol/frames.h"
#include "protocol/replyend.h"

#include <utility>

namespace {

// Line settings of the adapter around the wake-up pattern (FT_STOP_BITS codes).
constexpr int kWordLength8 = 8;
constexpr int kOneStopBit = 0;
constexpr int kTwoStopBits = 2;
constexpr int kNoParity = 0;

// Identification reply layout.
constexpr int kNameOffset = 0, kNameLength = 16;
constexpr int kVersionOffset = 17, kVersionLength = 5;
constexpr int kDateOffset = 23, kDateLength = 9;

constexpr unsigned char kLastPadding = 0x20;

// The regulator speaks single-byte text; trailing bytes up to 20 hex are padding.
QString IdentityText(const QByteArray& payload, int offset, int length)
{
    QByteArray bytes = payload.mid(offset, length);
    while (!bytes.isEmpty() && static_cast<unsigned char>(bytes.back()) <= kLastPadding)
        bytes.chop(1);
    return DecodeWindows1250(bytes);
}

// Whether a frame can be the answer to the wake-up: its name, version and date are text, padded
// at their ends, the flags byte (the last) aside. A read reply that comes late, after the reset
// that ended its read, begins with the throttle limits in microseconds, whose high bytes are
// control characters: taken for the identification, it would show as the regulator's name.
bool CanBeIdentification(const QByteArray& payload)
{
    const QByteArray texts = payload.left(payload.size() - 1);
    for (const auto& [offset, length] : {std::pair{kNameOffset, kNameLength},
                                         {kVersionOffset, kVersionLength},
                                         {kDateOffset, kDateLength}}) {
        bool padding = false;
        for (const char c : texts.mid(offset, length)) {
            const auto b = static_cast<unsigned char>(c);
            if (b < kLastPadding)
                padding = true;
            else if (b > kLastPadding && padding)
                return false; // text after a control character
        }
    }
    return true;
}

} // namespace

TConnectionCycle::TConnectionCycle(IClock& clock, ICycleView& view, IParameterPanel& panel,
                                   const TsmlMsgLangRes& messages, const TUserSettings& settings,
                                   ISerialPort& com, IUsbLink& usb, QString programDir)
    : clock_(clock), view_(view), panel_(panel), messages_(messages), settings_(settings),
      com_(com), usb_(usb), programDir_(std::move(programDir)), wakeUpTimer_(clock.CreateTimer()),
      presenceTimer_(clock.CreateTimer()), timeoutTimer_(clock.CreateTimer()),
      watchdogTimer_(clock.CreateTimer()), portWatch_(clock.CreateTimer())
{
    wakeUpTimer_->SetInterval(kWakeUpInterval);
    presenceTimer_->SetInterval(kPresenceInterval);
    timeoutTimer_->SetInterval(kTimeoutResetDelay);
    watchdogTimer_->SetInterval(kWatchdogInterval);
    wakeUpTimer_->SetOnTimer([this] { OnTimerTick(0, &TConnectionCycle::OnWakeUpTick); });
    presenceTimer_->SetOnTimer([this] { OnTimerTick(1, &TConnectionCycle::OnPresenceTick); });
    timeoutTimer_->SetOnTimer([this] { OnTimerTick(2, &TConnectionCycle::OnTimeoutTick); });
    watchdogTimer_->SetOnTimer([this] { OnTimerTick(3, &TConnectionCycle::OnWatchdogTick); });
    portWatch_->SetInterval(kPortWatchInterval);
    portWatch_->SetOnTimer([this] { Guarded([this] { PortWatchTimer(); }); });
    ownWriter_ = std::make_unique<TImmediateFileWriter>();
    files_ = ownWriter_.get();
    // The port hands its receptions straight to the parser: no window or tool in between.
    com_.SetReceiver({[this](const QByteArray& bytes) { OnSerialBytes(bytes); },
                      [this](const QString& error) { view_.ReportError(error); }});
}

void TConnectionCycle::SetFileWriter(IFileWriter* writer)
{
    files_ = writer ? writer : ownWriter_.get();
}

TConnectionCycle::~TConnectionCycle() { com_.SetReceiver({}); }

void TConnectionCycle::AddListener(ICycleEvents* listener) { listeners_.push_back(listener); }

void TConnectionCycle::RemoveListener(ICycleEvents* listener) { std::erase(listeners_, listener); }

void TConnectionCycle::SetBusy(bool busy)
{
    state_.busy = busy;
    NoteBusy();
}

void TConnectionCycle::NoteBusy()
{
    if (state_.busy == busyTold_)
        return;
    busyTold_ = state_.busy;
    Emit([busy = busyTold_](ICycleEvents& l) { l.BusyChanged(busy); });
}

QString TConnectionCycle::LinkMode() const { return settings_.device; }

QString TConnectionCycle::ShownVersion() const
{
    return hasIdentity_ ? identity_.version : kValuePlaceholder;
}

void TConnectionCycle::Guarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const std::exception& e) {
        view_.ReportError(QString::fromStdString(e.what()));
    }
}

void TConnectionCycle::ShowLinkError(TLinkErrorEvent::Where where, const QString& detail)
{
    Emit([&](ICycleEvents& l) { l.LinkError(TLinkErrorEvent{where, detail}); });
}

void TConnectionCycle::LinkFailed(TLinkErrorEvent::Where where, const QString& detail)
{
    // Once the line is gone every send fails alike; the user hears of it once.
    if (linkLost_)
        return;
    // The watch first: the box waits for the user, and the line may come back meanwhile.
    const QString mode = LinkMode();
    if (mode == QLatin1String("COM") || mode == QLatin1String("USB")) {
        linkLost_ = true;
        portWatch_->Start();
    }
    // Without a line nothing is connected and no transaction gets on: the window says so at once
    // rather than when the watchdog gives up.
    ShowSilence();
    ShowLinkError(where, detail);
}

void TConnectionCycle::ShowSilence()
{
    if (std::exchange(silenceShown_, true))
        return;
    view_.ShowConnected(false);
    view_.SetProgress(1, 0);
    view_.SetProgress(2, 0);
}

void TConnectionCycle::AnsweredAgain()
{
    if (std::exchange(silenceShown_, false))
        view_.ShowConnected(true);
}

void TConnectionCycle::PortWatchTimer()
{
    // Over USB the adapter is back once the ready check opens it again; not while a receive still
    // holds it.
    const bool usb = LinkMode() == QLatin1String("USB");
    if (usb ? usbInFlight_ || !usb_.UsbReadyCheck() : !com_.ReopenIfBack())
        return;
    linkLost_ = false;
    portWatch_->Stop();
    // A fresh line, perhaps with another regulator behind it: from not connected, with the busy
    // flag that the failed wake-up left set cleared, the wake-up cycle begins again.
    TimeoutReset();
}

void TConnectionCycle::ShowNotices(const QList<DecodeNotice>& notices)
{
    for (const DecodeNotice& n : notices) {
        const QString id = n.key + QLatin1Char('|') + n.args.join(QLatin1Char('|'));
        if (noticesShown_.contains(id))
            continue;
        noticesShown_.insert(id);
        QString text = messages_.LookupMessage(n.key);
        for (const QString& a : n.args)
            text = text.arg(a);
        view_.ShowError(text);
    }
}

void TConnectionCycle::ClearWorkingState()
{
    state_ = ProtocolState{};
    NoteBusy();
    alternateScale_ = false;
    linkLost_ = false;
    portWatch_->Stop();
    pause_.reset();
    noticesShown_.clear();
}

void TConnectionCycle::StartConnecting() { wakeUpTimer_->Start(); }

void TConnectionCycle::SetTransferButtons(bool on) { view_.SetTransferButtonsEnabled(on); }

// A transaction is over: the buttons are the user's again and the presence queries resume.
void TConnectionCycle::BackToPresence()
{
    SetTransferButtons(true);
    SetBusy(false);
    presenceTimer_->Start();
}

// ---- sending ------------------------------------------------------------------------------------

bool TConnectionCycle::UsbReady()
{
    return LinkMode() == QLatin1String("USB") && usb_.UsbReadyCheck();
}

void TConnectionCycle::UsbStopBits(int stopBits)
{
    if (UsbReady())
        usb_.UsbSetDataCharacteristics(kWordLength8, stopBits, kNoParity);
}

void TConnectionCycle::SendRequest(const QByteArray& bytes, bool withReceive,
                                   std::function<void()> then, Stale stale)
{
    if (stale == Stale::Discard) {
        state_.replyBuffer.Clear();
        state_.frameOpen = false;
    }
    const QString mode = LinkMode();
    if (mode == QLatin1String("COM")) {
        if (com_.Active())
            com_.SendString(bytes);
    } else if (mode == QLatin1String("USB")) {
        if (usb_.UsbReadyCheck()) {
            if (stale == Stale::Discard)
                usb_.UsbDiscardInput();
            usb_.UsbSend(bytes);
            if (withReceive) {
                UsbReceive(std::move(then));
                return;
            }
        }
    }
    if (then)
        then();
}

// ---- USB receive --------------------------------------------------------------------------------
// The adapter reads on its own thread; its result comes back here in order. Each receive carries
// the rest of the code that followed it, and that rest runs only once the reply has been parsed and
// every exchange the parse started (an identification starting the read) has ended, so requests,
// replies and state changes keep the order they would have with a blocking read.

void TConnectionCycle::UsbReceive(std::function<void()> then)
{
    state_.replyBuffer.Clear();
    usbContinuations_.push_back(std::move(then));
    usbInFlight_ = true;
    const ReplyExpectation expect{state_.presencePending, state_.writePending};
    std::weak_ptr<bool> alive = alive_;
    usb_.UsbReadAsync(
        kUsbReadCount,
        [expect](const QByteArray& received) { return ReplyBytesNeeded(received, expect); },
        [this, alive](const UsbReadResult& result) {
            if (!alive.expired())
                OnUsbReceived(result);
        });
}

void TConnectionCycle::OnUsbReceived(const UsbReadResult& result)
{
    usbInFlight_ = false;
    Guarded([&] {
        if (result.failed) {
            LinkFailed(TLinkErrorEvent::Where::Receive, QString());
            return;
        }
        if (!result.bytes.isEmpty())
            wakeUpTimer_->Stop();
        state_.replyBuffer.Replace(result.bytes);
        ParseReplyBuffer();
    });
    RunUsbContinuations();
}

void TConnectionCycle::RunUsbContinuations()
{
    // A continuation may start another receive; the ones outside it wait for that one.
    while (!usbInFlight_ && !usbContinuations_.empty()) {
        std::function<void()> then = std::move(usbContinuations_.back());
        usbContinuations_.pop_back();
        if (then)
            Guarded(then);
    }
    while (!usbInFlight_ && !waitingForLink_.empty()) {
        std::function<void()> fn = std::move(waitingForLink_.front());
        waitingForLink_.pop_front();
        fn();
    }
}

void TConnectionCycle::WhenLinkIdle(std::function<void()> fn)
{
    if (usbInFlight_)
        waitingForLink_.push_back(std::move(fn));
    else
        fn();
}

void TConnectionCycle::OnTimerTick(int index, void (TConnectionCycle::*handler)())
{
    if (!usbInFlight_) {
        Guarded([this, handler] { (this->*handler)(); });
        return;
    }
    // A timer that fell due during a blocking read would have fired once after it, and not at all
    // if it was stopped in the meantime.
    if (tickWaiting_[index])
        return;
    tickWaiting_[index] = true;
    waitingForLink_.push_back([this, index, handler] {
        tickWaiting_[index] = false;
        ITimer* timers[] = {wakeUpTimer_.get(), presenceTimer_.get(), timeoutTimer_.get(),
                            watchdogTimer_.get()};
        if (timers[index]->Enabled())
            Guarded([this, handler] { (this->*handler)(); });
    });
}

void TConnectionCycle::OnSerialBytes(const QByteArray& bytes)
{
    if (usbInFlight_) {
        waitingForLink_.push_back([this, bytes] { OnSerialBytes(bytes); });
        return;
    }
    Guarded([&] {
        // A reply ends the wake-up cycle; noise on a line where nothing has been asked yet must
        // not, or a regulator that never stops sending would never be woken up at all.
        if (state_.busy)
            wakeUpTimer_->Stop();
        state_.replyBuffer.Append(bytes);
        // The parser shows the buffer in Label3 as its run begins.
        ParseReplyBuffer();
    });
}

void TConnectionCycle::ParseReplyBuffer() { ::ParseReplyBuffer(state_, *this); }

void TConnectionCycle::ReplyBufferChanged(const ReplyBuffer& buffer)
{
    view_.ShowReplyBuffer(ReplyBufferCaption(buffer));
}

// ---- wake-up and identification -----------------------------------------------------------------

void TConnectionCycle::OnWakeUpTick()
{
    // After a failed USB read the port watch starts the search again once the adapter answers;
    // until then a wake-up would only open what the watch is about to reset.
    if (linkLost_ && LinkMode() == QLatin1String("USB")) {
        wakeUpTimer_->Stop();
        return;
    }
    UsbStopBits(kOneStopBit);
    if (state_.busy)
        return;
    SetBusy(true);
    try {
        SendRequest(WakeUpPattern(), false);
    } catch (const std::exception& e) {
        // The cycle stops here, the busy flag stays set; over COM the port watch starts it
        // again once the port is back.
        wakeUpTimer_->Stop();
        LinkFailed(TLinkErrorEvent::Where::Send, QString::fromStdString(e.what()));
        return;
    }
    state_.identificationPending = true;
    replyReceivesLeft_ = kStaleReplyReceives;
    timeoutTimer_->Start();
    wakeUpTimer_->Stop();
    if (UsbReady())
        UsbReceive([this] { UsbStopBits(kTwoStopBits); });
}

void TConnectionCycle::IdentificationReply()
{
    if (!CanBeIdentification(state_.replyPayload)) {
        // Not the answer to this wake-up: nothing is shown, and the identification waits on for
        // its reply (over USB with another receive, a few times at most), or ends by its time-out
        // as an unanswered one does.
        state_.replyPayload.clear();
        ReceiveAgain();
        return;
    }
    wakeUpTimer_->Stop();
    timeoutTimer_->Stop();
    identityPayload_ = state_.replyPayload;
    QByteArray payload = state_.replyPayload;
    const unsigned char flags = payload.isEmpty() ? 0 : static_cast<unsigned char>(payload.back());
    if (!payload.isEmpty())
        payload[payload.size() - 1] = ' ';
    identity_ = TRegulatorIdentity{IdentityText(payload, kNameOffset, kNameLength),
                                   IdentityText(payload, kVersionOffset, kVersionLength),
                                   IdentityText(payload, kDateOffset, kDateLength), flags};
    alternateScale_ = identity_.AlternateScale();
    hasIdentity_ = true;
    lastRead_.clear();
    view_.ShowIdentity(&identity_);
    view_.ShowConnected(true);

    ModelContext ctx{programDir_, settings_.language, identity_.name, alternateScale_};
    panel_.BuildParameterPanel(ctx);

    view_.SetRegulatorControlsEnabled(true);
    state_.identificationPending = false;
    state_.replyPayload.clear();
    SetTransferButtons(true);
    const bool missing = panel_.ModelFileMissing();
    Emit([&](ICycleEvents& l) { l.Identified(TIdentifiedEvent{identity_, missing}); });
    if (missing) {
        // Nothing can be shown for this regulator: back to not connected, and try again.
        SetTransferButtons(false);
        timeoutTimer_->Start();
        return;
    }
    SetBusy(false);
    UsbStopBits(kTwoStopBits);
    StartRead();
}

// The read, the write and the factory settings are in protocol/transactions.cpp; the log
// download, StartLogDownload and the log record handlers in protocol/eepromlog.cpp.

// ---- presence, watchdog, resets ---------------------------------------------------------------

void TConnectionCycle::PresenceAcknowledged()
{
    // The parser has cleared the busy flag.
    NoteBusy();
    silenceShown_ = false;
    view_.ShowConnected(true);
}

void TConnectionCycle::OnPresenceTick()
{
    if (state_.presencePending && state_.presenceMissCount > 1) {
        LostRegulatorReset();
        return;
    }
    if (!state_.busy || state_.presenceMissCount <= 1) {
        SetBusy(true);
        state_.presencePending = true;
        ++state_.presenceMissCount;
        try {
            SendRequest(PresenceQuery(), true);
        } catch (const std::exception& e) {
            LinkFailed(TLinkErrorEvent::Where::Send, QString::fromStdString(e.what()));
        }
    }
}

void TConnectionCycle::OnWatchdogTick()
{
    if (state_.watchdogCount > kWatchdogLimit) {
        state_.watchdogCount = 0;
        presenceTimer_->Stop();
        timeoutTimer_->Start();
        // The regulator has stopped answering: what the window shows says so until the reset.
        ShowSilence();
        return;
    }
    // A read or a write that went unanswered: the window says so from the first tick on, not
    // connected and nothing in progress, and counts the ticks until it gives up.
    if (state_.readPending || state_.writePending) {
        ShowSilence();
        view_.ShowProgressHint(
            messages_.Msg("Str563").arg(state_.watchdogCount + 1).arg(kWatchdogLimit + 1));
    }
    if (state_.readPending) {
        ++state_.watchdogCount;
        presenceTimer_->Stop();
        StartRead();
    }
    if (state_.writePending) {
        ++state_.watchdogCount;
        presenceTimer_->Stop();
        StartWrite();
    }
    if (state_.logPending) {
        ++state_.watchdogCount;
        presenceTimer_->Stop();
        StartLogDownload();
    }
}

void TConnectionCycle::OnTimeoutTick() { TimeoutReset(); }

void TConnectionCycle::ResetCommon(bool clearPanel)
{
    pause_.reset();
    afterGuard_ = {};
    ++guardAsked_;
    guardState_ = Guard::None;
    view_.SetProgress(1, 0);
    view_.SetProgress(2, 0);
    SetTransferButtons(false);
    hasIdentity_ = false;
    view_.ShowIdentity(nullptr);
    TBlockFields fields = view_.Fields();
    fields.throttleMin = 0;
    fields.throttleMax = 0;
    fields.maxRpmEnabled = false;
    fields.maxRpmText = kValuePlaceholder;
    view_.ShowFields(fields);
    view_.SetRegulatorControlsEnabled(false);
    if (clearPanel)
        panel_.ClearParameterPanel();
    panel_.ForgetStoredSettings();
    writtenSettings_.reset();
    state_.identificationPending = false;
    state_.readPending = false;
    state_.writePending = false;
    state_.presencePending = false;
    state_.frameOpen = false;
    state_.replyBuffer.Clear();
    SetBusy(false);
    noticesShown_.clear();
    if (UsbReady())
        usb_.UsbDiscardInput();
    lastRead_.clear();
    identityPayload_.clear();
    silenceShown_ = false;
}

void TConnectionCycle::LostRegulatorReset()
{
    Emit([](ICycleEvents& l) { l.ConnectionResetting(); });
    ResetCommon(!panel_.ModelFileMissing());
    state_.presenceMissCount = 0;
    wakeUpTimer_->Start();
    presenceTimer_->Stop();
    view_.ShowConnected(false);
    Emit([](ICycleEvents& l) { l.RegulatorLost(); });
}

void TConnectionCycle::TimeoutReset()
{
    Emit([](ICycleEvents& l) { l.ConnectionResetting(); });
    ResetCommon(!panel_.ModelFileMissing() && !state_.identificationPending);
    if (state_.logPending)
        LogEnded(TLogEnding::Silence);
    state_.logPending = false;
    timeoutTimer_->Stop();
    wakeUpTimer_->Start();
    presenceTimer_->Stop();
    view_.ShowConnected(false);
    Emit([](ICycleEvents& l) { l.TimeoutReset(); });
}
