// The user's transactions of the connection cycle: the read of the parameter block, the write with
// its backup first, and the factory settings.

#include "protocol/cycle.h"

#include "common/clock.h"
#include "common/errors.h"
#include "common/settings.h"
#include "i18n/msglangres.h"
#include "protocol/frames.h"
#include "protocol/paramblock.h"

// ---- read -------------------------------------------------------------------------------------

void TConnectionCycle::StartRead()
{
    if (state_.busy)
        return;
    SetBusy(true);
    presenceTimer_->Stop();
    state_.readPending = true;
    replyReceivesLeft_ = kStaleReplyReceives;
    SetTransferButtons(false);
    view_.SetProgress(1, 20);
    const auto watch = [this] {
        if (state_.readPending)
            watchdogTimer_->Start();
    };
    try {
        // A regulator that stalled answers the wake-ups it missed all at once, late: those
        // replies, still arriving, must not be taken for the block.
        SendRequest(ReadRequest(), true, watch, Stale::Discard);
    } catch (const std::exception& e) {
        // The watchdog still ends the transaction, so the window does not stay busy.
        LinkFailed(TLinkErrorEvent::Where::Send, QString::fromStdString(e.what()));
        watch();
    }
}

DecodeOutcome TConnectionCycle::DecodeIntoView(const QByteArray& payload)
{
    // The fields first, then the display values with their boxes, then the options, in the order
    // the window has always taken them. A field the block does not carry stays as it is.
    DecodeOutcome outcome = DecodeBlockFields(payload, ShownVersion(), view_.Fields());
    view_.ShowFields(outcome.fields);
    DecodeDisplayValues(payload, panel_, DecodeEnv{programDir_, &messages_}, outcome);
    for (const QString& text : outcome.errors)
        view_.ShowError(text);
    DecodeOptions(payload, panel_, outcome);
    return outcome;
}

void TConnectionCycle::ReceiveAgain()
{
    if (replyReceivesLeft_ > 0 && UsbReady()) {
        --replyReceivesLeft_;
        UsbReceive({});
    }
}

bool TConnectionCycle::CanBeReadReply(const QByteArray& payload) const
{
    if (!identityPayload_.isEmpty() && payload == identityPayload_)
        return false;
    const std::optional<qsizetype> least =
        ReadPayloadMinimum(ShownVersion(), panel_.DisplayCount(), panel_.GroupCount());
    return !least || payload.size() >= *least;
}

void TConnectionCycle::ReadReply()
{
    if (!CanBeReadReply(state_.replyPayload)) {
        // Not an answer to this read: nothing is shown, and the read waits on for its reply (over
        // USB with another receive, a few times at most, so that a regulator sending frame after
        // frame does not hold the link), or ends by its watchdog as an unanswered one does.
        state_.replyPayload.clear();
        ReceiveAgain();
        return;
    }
    view_.SetProgress(1, 50);
    AnsweredAgain();
    const DecodeOutcome outcome = DecodeIntoView(state_.replyPayload);
    if (!outcome.complete) {
        // The block could not be placed, so no write may be offered for it: the read stays
        // pending and ends by its watchdog and the time-out reset, as an unanswered one does.
        // What the window shows is no longer the block last read.
        state_.replyPayload.clear();
        lastRead_.clear();
        ShowNotices(outcome.notices);
        return;
    }
    lastRead_ = state_.replyPayload;
    panel_.SettingsStored(ShownSettings(panel_.GroupCount()));
    view_.SetProgress(1, 100);
    state_.replyPayload.clear();
    state_.readPending = false;
    watchdogTimer_->Stop();
    timeoutTimer_->Stop();
    Emit([&](ICycleEvents& l) { l.BlockRead(TBlockReadEvent{lastRead_}); });
    pause_ = clock_.After(kProgressPause, [this, outcome] {
        Guarded([&] {
            pause_.reset();
            view_.SetProgress(1, 0);
            SetBusy(false);
            presenceTimer_->Start();
            SetTransferButtons(true);
            if (!panel_.UnassignedBytes().isEmpty())
                view_.ShowError(messages_.Msg("str11") + QLatin1Char('\r'));
            ShowNotices(outcome.notices);
        });
    });
}

// ---- write ------------------------------------------------------------------------------------

bool TConnectionCycle::StartGuard(TOverwriteContext::Kind kind)
{
    afterGuard_ = {};
    const int asked = ++guardAsked_;
    if (!guard_) {
        guardState_ = Guard::Allowed;
        return true;
    }
    guardState_ = Guard::Waiting;
    guard_->BeforeOverwriteAsync(
        TOverwriteContext{kind, identity_, settings_.language, alternateScale_, lastRead_},
        [this, asked, alive = std::weak_ptr<bool>(alive_)](bool allowed) {
            if (!alive.expired())
                GuardAnswered(asked, allowed);
        });
    return guardState_ != Guard::Refused;
}

void TConnectionCycle::GuardAnswered(int asked, bool allowed)
{
    if (asked != guardAsked_)
        return; // a reset or a later question came in between
    guardState_ = allowed ? Guard::Allowed : Guard::Refused;
    if (afterGuard_) {
        std::function<void()> fn = std::move(afterGuard_);
        afterGuard_ = {};
        Guarded(fn);
    }
}

void TConnectionCycle::AfterGuard(std::function<void()> fn)
{
    if (guardState_ == Guard::Waiting)
        afterGuard_ = std::move(fn);
    else
        fn();
}

void TConnectionCycle::StartWrite()
{
    // Only a block read whole goes back to the regulator.
    if (state_.busy || lastRead_.isEmpty())
        return;
    // The backup goes to the disk while the pause before the frame runs; the frame waits for it.
    if (!StartGuard(TOverwriteContext::Kind::Write))
        return;
    SetBusy(true);
    presenceTimer_->Stop();
    state_.writePending = true;
    SetTransferButtons(false);
    pause_ = clock_.After(kProgressPause,
                          [this] { AfterGuard([this] { Guarded([this] { ContinueWrite(); }); }); });
}

void TConnectionCycle::ContinueWrite()
{
    pause_.reset();
    if (!state_.writePending)
        return; // a reset came in between
    if (guardState_ == Guard::Refused) {
        // The guard has told the user why; nothing went out.
        state_.writePending = false;
        BackToPresence();
        return;
    }
    view_.SetProgress(2, 20);
    QByteArray frame;
    try {
        written_ = BuildWritePayload(view_.Fields(), panel_);
        frame = BuildDataFrame(written_);
        // The write carries the groups up to the active option count only.
        writtenSettings_ = ShownSettings(std::min(panel_.ActiveOptionCount(), panel_.GroupCount()));
    } catch (const std::exception& e) {
        // Nothing went out and no watchdog runs yet: the write ends here, back to idle.
        state_.writePending = false;
        view_.SetProgress(2, 0);
        BackToPresence();
        view_.ReportError(QString::fromStdString(e.what()));
        return;
    }
    view_.SetProgress(2, 40);
    Emit([&](ICycleEvents& l) { l.WriteSent(TWriteTakenEvent{written_}); });
    try {
        SendRequest(frame, false);
    } catch (const std::exception& e) {
        LinkFailed(TLinkErrorEvent::Where::Send, QString::fromStdString(e.what()));
    }
    watchdogTimer_->Start();
    view_.SetProgress(2, 50);
    // The values come back only with the next read.
    for (int i = 0; i < panel_.DisplayCount(); ++i)
        panel_.SetDisplayText(i, kValuePlaceholder);
    TBlockFields fields = view_.Fields();
    fields.maxRpmText = kValuePlaceholder;
    view_.ShowFields(fields);
    if (UsbReady())
        UsbReceive({});
}

TStoredSettings TConnectionCycle::ShownSettings(int groups) const
{
    const TBlockFields fields = view_.Fields();
    TStoredSettings shown{ToWire(fields.throttleMin), ToWire(fields.throttleMax), {}};
    for (int g = 0; g < groups; ++g)
        shown.items.append(panel_.ItemIndex(g));
    return shown;
}

void TConnectionCycle::WriteTaken()
{
    if (writtenSettings_) {
        panel_.SettingsStored(*writtenSettings_);
        writtenSettings_.reset();
    }
    // The regulator now keeps what was written: a backup before the next write or reset must hold
    // that, not the block read before this write.
    if (!lastRead_.isEmpty())
        lastRead_ = ReadPayloadAfterWrite(lastRead_, written_, ShownVersion(),
                                          panel_.DisplayCount(), panel_.GroupCount());
}

void TConnectionCycle::WriteAcknowledged()
{
    WriteTaken();
    state_.writePending = false;
    watchdogTimer_->Stop();
    timeoutTimer_->Stop();
    view_.SetProgress(2, 100);
    AnsweredAgain();
    Emit([&](ICycleEvents& l) { l.WriteAcknowledged(TWriteTakenEvent{written_}); });
    pause_ = clock_.After(kProgressPause, [this] {
        Guarded([this] {
            pause_.reset();
            view_.SetProgress(2, 0);
            BackToPresence();
        });
    });
}

void TConnectionCycle::WriteEndByte()
{
    // Unlike FB, the watchdog keeps running and no presence checks follow until the next
    // transaction completes; the bar stays full until the next write.
    WriteTaken();
    state_.writePending = false;
    view_.SetProgress(2, 100);
    SetTransferButtons(true);
    SetBusy(false);
    Emit([&](ICycleEvents& l) { l.WriteEnded(TWriteTakenEvent{written_}); });
}

// ---- factory settings -------------------------------------------------------------------------

void TConnectionCycle::StartFactoryReset()
{
    if (state_.busy)
        return;
    if (!StartGuard(TOverwriteContext::Kind::FactoryReset))
        return;
    SetBusy(true);
    SetTransferButtons(false);
    presenceTimer_->Stop();
    state_.readPending = true;
    AfterGuard([this] { SendDefaultRequest(); });
}

void TConnectionCycle::SendDefaultRequest()
{
    if (!state_.readPending || !state_.busy)
        return; // a reset came in between
    if (guardState_ == Guard::Refused) {
        state_.readPending = false;
        BackToPresence();
        return;
    }
    try {
        SendRequest(DefaultRequest(), false);
    } catch (const std::exception& e) {
        LinkFailed(TLinkErrorEvent::Where::Send, QString::fromStdString(e.what()));
    }
    Emit([](ICycleEvents& l) { l.FactoryResetSent(); });
    pause_ = clock_.After(kDefaultSettlePause, [this] {
        Guarded([this] {
            pause_.reset();
            SetBusy(false);
            StartRead();
        });
    });
}
