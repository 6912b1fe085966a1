// What keeps the user's settings from being lost without a word: every write read back and
// checked, a write whose acknowledgement never came said with its backup, questions before
// unwritten changes are replaced or dropped, and the changes kept while the regulator is away.

#include "shell/mainform.h"

#include "models/paramfile.h"
#include "models/parampanel.h"
#include "models/writecheck.h"
#include "shell/messageboxes.h"
#include "shell/numedit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QPushButton>

namespace {

bool SameRegulator(const TRegulatorIdentity& a, const TRegulatorIdentity& b)
{
    return a.name == b.name && a.version == b.version;
}

} // namespace

// ---- the write and its check ------------------------------------------------------------------

void TMainForm::WriteSent(const TWriteTakenEvent& event)
{
    write_ = TWriteWatch{event.payload, lastBackup_};
}

void TMainForm::WriteAcknowledged(const TWriteTakenEvent&)
{
    if (write_)
        write_->acknowledged = true;
}

void TMainForm::WriteEnded(const TWriteTakenEvent& event)
{
    WriteAcknowledged(event);
    // The end byte leaves the cycle idle at once.
    if (!cycle_->State().busy)
        ReadBackWhenIdle();
}

void TMainForm::BusyChanged(bool busy)
{
    if (!busy)
        ReadBackWhenIdle();
}

void TMainForm::ReadBackWhenIdle()
{
    if (!write_ || !write_->acknowledged || write_->readingBack || readBackPost_)
        return;
    // Not from within the cycle's handling: once it has returned.
    readBackPost_ = clock_->After(0, [this] {
        readBackPost_.reset();
        cycle_->WhenLinkIdle([this] {
            RunGuarded([this] {
                if (!write_ || write_->readingBack || cycle_->State().busy)
                    return; // gone meanwhile, or the next idle moment tries again
                // Changes the write did not carry (groups beyond the regulator's active count)
                // stay changes after the read back.
                KeepUnwrittenEdits();
                write_->readingBack = true;
                cycle_->StartRead();
            });
        });
    });
}

void TMainForm::BlockRead(const TBlockReadEvent& event)
{
    const bool readBack = write_ && write_->readingBack;
    if (readBack)
        WriteChecked(event.payload);
    AfterFreshRead(!readBack);
}

void TMainForm::WriteChecked(const QByteArray& readPayload)
{
    const TWriteWatch write = *std::exchange(write_, std::nullopt);
    const TWriteCheck check =
        CheckWrite(write.sent, readPayload, cycle_->Identity().version, panel_->Model());
    const QString backup = QDir::toNativeSeparators(write.backup);
    if (check.Confirmed()) {
        HoldHint(smlMsgLangRes1_.Msg("Str560").arg(backup));
        if (std::exchange(closeAfterWrite_, false))
            closePost_ = clock_->After(0, [this] {
                closePost_.reset();
                close();
            });
        return;
    }
    closeAfterWrite_ = false;
    QStringList lines;
    for (const TWriteDifference& d : check.differences) {
        using Kind = TWriteDifference::Kind;
        const QString caption = d.kind == Kind::ThrottleMin   ? Lkorekcemin->text()
                                : d.kind == Kind::ThrottleMax ? Lkorekcemax->text()
                                : d.kind == Kind::Unassigned  ? smlMsgLangRes1_.Msg("Str562")
                                                              : d.caption;
        lines << smlMsgLangRes1_.Msg("Str561").arg(caption.trimmed(), d.sent, d.readBack);
    }
    HoldHint(smlMsgLangRes1_.Msg("Str564"));
    const QChar cr = QLatin1Char('\r');
    boxes_->Post(TBoxKind::Error, smlMsgLangRes1_.Msg("Str564"),
                 smlMsgLangRes1_.Msg("Str565") + cr + lines.join(cr) + cr + cr +
                     smlMsgLangRes1_.Msg("Str568").arg(backup));
}

void TMainForm::WriteInDoubt(const QString& cause)
{
    if (!write_ || write_->acknowledged || write_->doubtSaid)
        return;
    write_->doubtSaid = true;
    const QString backup = QDir::toNativeSeparators(write_->backup);
    const TRegulatorIdentity regulator = cycle_->Identity();
    HoldHint(smlMsgLangRes1_.Msg("Str566"));
    QString text = smlMsgLangRes1_.Msg("Str567");
    if (!cause.isEmpty())
        text = cause + QLatin1Char('\r') + text;
    if (write_->backup.isEmpty()) {
        boxes_->Post(TBoxKind::Error, smlMsgLangRes1_.Msg("Str566"), text);
        return;
    }
    text += QLatin1Char('\r') + smlMsgLangRes1_.Msg("Str568").arg(backup) + QLatin1Char('\r') +
            smlMsgLangRes1_.Msg("Str581");
    const QString record = write_->backup;
    boxes_->PostQuestion(smlMsgLangRes1_.Msg("Str566"), text,
                         {messageDlg_.button1Caption, messageDlg_.button2Caption}, 0,
                         [this, record, regulator](int answer) {
                             if (answer != 0)
                                 return;
                             // Back already: at once; otherwise once it has been read again.
                             if (cycle_->HasIdentity() &&
                                 SameRegulator(cycle_->Identity(), regulator) &&
                                 !cycle_->LastReadPayload().isEmpty()) {
                                 keptEdits_.reset();
                                 RunGuarded([&] { LoadBackupIntoWindow(record); });
                                 return;
                             }
                             backupOnReturn_ = record;
                             backupFor_ = regulator;
                         });
}

// ---- the regulator gone and back --------------------------------------------------------------

void TMainForm::ConnectionResetting()
{
    readBackPost_.reset();
    if (write_) {
        if (!write_->acknowledged) {
            WriteInDoubt(QString());
        } else {
            // Taken, but not seen back: said, not claimed.
            HoldHint(smlMsgLangRes1_.Msg("Str569"));
        }
        write_.reset();
    }
    closeAfterWrite_ = false;
    if (cycle_->HasIdentity())
        KeepUnwrittenEdits();
}

void TMainForm::KeepUnwrittenEdits()
{
    const TUnwrittenEdits edits = panel_->Model().UnwrittenEdits();
    if (edits.Count() == 0)
        return;
    keptEdits_ = edits;
    keptFor_ = cycle_->Identity();
}

void TMainForm::AfterFreshRead(bool sayKept)
{
    const TRegulatorIdentity& now = cycle_->Identity();
    if (!backupOnReturn_.isEmpty()) {
        const QString record = std::exchange(backupOnReturn_, QString());
        if (SameRegulator(now, backupFor_)) {
            keptEdits_.reset();
            LoadBackupIntoWindow(record);
            return;
        }
    }
    if (!keptEdits_)
        return;
    const TUnwrittenEdits edits = *std::exchange(keptEdits_, std::nullopt);
    if (!SameRegulator(now, keptFor_))
        return;
    panel_->Model().RestoreItems(edits);
    if (edits.throttleMinUs)
        LKorekceA->SetValue(*edits.throttleMinUs / 1000.0);
    if (edits.throttleMaxUs)
        LKorekceB->SetValue(*edits.throttleMaxUs / 1000.0);
    const int count = panel_->Model().UnwrittenCount();
    if (count > 0 && sayKept) {
        HoldHint(smlMsgLangRes1_.Msg("Str570").arg(count));
    }
}

void TMainForm::LoadBackupIntoWindow(const QString& recordPath)
{
    QString error;
    const std::optional<TBackupEntry> entry = LoadBackupEntry(recordPath, &error);
    if (!entry) {
        ErrorBox(error);
        return;
    }
    if (entry->parameterPath.isEmpty()) {
        ErrorBox(smlMsgLangRes1_.Msg("Str580").arg(QDir::toNativeSeparators(recordPath)));
        return;
    }
    LoadBackup(*entry);
}

// ---- questions ----------------------------------------------------------------------------------

TMainForm::TUnwrittenAnswer TMainForm::AskUnwritten(const char* key)
{
    const int count = panel_->Model().UnwrittenCount();
    if (count == 0)
        return TUnwrittenAnswer::Discard;
    const int answer = boxes_->Choose(messageDlg_.caption, smlMsgLangRes1_.Msg(key).arg(count),
                                      {smlMsgLangRes1_.Msg("Str571"), smlMsgLangRes1_.Msg("Str572"),
                                       smlMsgLangRes1_.Msg("Str573")},
                                      2);
    return answer == 0   ? TUnwrittenAnswer::Write
           : answer == 1 ? TUnwrittenAnswer::Discard
                         : TUnwrittenAnswer::Cancel;
}

void TMainForm::Button1Click()
{
    switch (AskUnwritten("Str574")) {
    case TUnwrittenAnswer::Write:
        return cycle_->StartWrite();
    case TUnwrittenAnswer::Discard:
        return cycle_->StartRead();
    case TUnwrittenAnswer::Cancel:
        return;
    }
}

void TMainForm::Button3Click()
{
    if (cycle_->State().busy)
        return;
    QString text = smlMsgLangRes1_.Msg("Str575").arg(LnH->text());
    if (const int count = panel_->Model().UnwrittenCount(); count > 0)
        text += QLatin1Char('\r') + smlMsgLangRes1_.Msg("Str576").arg(count);
    if (boxes_->Ask(messageDlg_.caption, text, messageDlg_.button1Caption,
                    messageDlg_.button2Caption, TDefaultAnswer::No))
        cycle_->StartFactoryReset();
}

void TMainForm::KonecClick()
{
    // Cancelled by the question about unwritten changes: the program goes on.
    if (close())
        QApplication::quit();
}

bool TMainForm::MayClose()
{
    if (keptEdits_ && keptEdits_->Count() > 0 && !cycle_->HasIdentity()) {
        // Waiting for the regulator's return: nothing can be written now.
        const int answer = boxes_->Choose(
            messageDlg_.caption, smlMsgLangRes1_.Msg("Str577").arg(keptEdits_->Count()),
            {smlMsgLangRes1_.Msg("Str572"), smlMsgLangRes1_.Msg("Str573")}, 1);
        return answer == 0;
    }
    switch (AskUnwritten("Str578")) {
    case TUnwrittenAnswer::Write:
        if (cycle_->State().busy) {
            ErrorBox(smlMsgLangRes1_.Msg("Str579"));
            return false;
        }
        cycle_->StartWrite();
        // Closed once the write is read back and confirmed; a refused backup has said why.
        closeAfterWrite_ = cycle_->State().writePending;
        return false;
    case TUnwrittenAnswer::Discard:
        return true;
    case TUnwrittenAnswer::Cancel:
        return false;
    }
    return false;
}
