#include "protocol/eepromlog.h"

#include "common/atomicfile.h"
#include "common/clock.h"
#include "i18n/msglangres.h"
#include "protocol/cycle.h"
#include "protocol/frames.h"

QByteArray EepromRecordLine(const QByteArray& payload)
{
    QByteArray line;
    line.reserve(payload.size() * 4 + 2);
    for (const char c : payload) {
        line.append(QByteArray::number(static_cast<unsigned char>(c)));
        line.append(' ');
    }
    line.append("\r\n");
    return line;
}

bool StartEepromFile(const QString& path, QString* reason)
{
    return WriteFileAtomically(path, QByteArrayLiteral("\r\n"), reason);
}

bool AppendEepromRecord(const QString& path, const QByteArray& payload, QString* reason)
{
    return AppendToFile(path, EepromRecordLine(payload), reason);
}

// ---- the download as a transaction of the connection cycle ------------------------------------

QString TConnectionCycle::EepromPath() const
{
    return eepromPath_.isEmpty() ? programDir_ + kEepromFileName : eepromPath_;
}

void TConnectionCycle::EEPROM1Click()
{
    if (state_.busy)
        return;
    state_.busy = true;
    timer2_->Stop();
    state_.logPending = true;
    SetTransferButtons(false);
    QString reason;
    if (!StartEepromFile(EepromPath(), &reason)) {
        // Nothing has gone to the regulator yet: end here rather than leave the window busy until
        // the watchdog gives up on a download that never began.
        state_.logPending = false;
        state_.busy = false;
        timer2_->Start();
        SetTransferButtons(true);
        view_.ReportError(Msg("str115").arg(EepromPath(), reason));
        return;
    }
    log_ = TLogDownload{};
    view_.ShowProgressHint(Msg("str113").arg(0));
    SendLogRequest(LogStartRequest());
    if (state_.logPending)
        timer4_->Start();
}

void TConnectionCycle::SendLogRequest(const QByteArray& request)
{
    if (log_.looping) {
        log_.queued = request; // the loop below sends it once the handler has returned
        return;
    }
    log_.looping = true;
    QByteArray next = request;
    while (!next.isEmpty()) {
        log_.queued.clear();
        try {
            SendRequest(next, true);
        } catch (const std::exception&) {
            // The watchdog ends the download; the records stored so far stay in the file.
            ShowLinkError();
            log_.queued.clear();
        }
        next = state_.logPending ? log_.queued : QByteArray();
    }
    log_.queued.clear();
    log_.looping = false;
}

void TConnectionCycle::EndLogDownload()
{
    state_.replyPayload.clear();
    state_.logPending = false;
    log_.queued.clear();
    timer4_->Stop();
    timer3_->Stop();
    timer2_->Start();
    SetTransferButtons(true);
    state_.busy = false;
    view_.ShowProgressHint(Msg("str114").arg(log_.stored));
}

void TConnectionCycle::LogRecord()
{
    timer4_->Stop();
    const QByteArray payload = state_.replyPayload;
    if (!payload.isEmpty() && static_cast<unsigned char>(payload[0]) == kLogEndMark) {
        EndLogDownload();
        return;
    }
    QString reason;
    if (!AppendEepromRecord(EepromPath(), payload, &reason)) {
        // No next request: the watchdog ends the download, the records before stay in the file.
        timer4_->Start();
        view_.ReportError(Msg("str115").arg(EepromPath(), reason));
        return;
    }
    ++log_.stored;
    view_.ShowProgressHint(Msg("str113").arg(log_.stored));
    state_.replyPayload.clear();
    SendLogRequest(LogNextRequest());
    if (state_.logPending)
        timer4_->Start();
}

void TConnectionCycle::LogFrameError()
{
    ++log_.errorCount;
    if (log_.errorCount > kLogErrorLimit) {
        EndLogDownload();
        view_.ShowPlainMessage(kEepromBadCommunication);
        return;
    }
    SendLogRequest(LogRepeatRequest());
    if (state_.logPending && !timer4_->Enabled())
        timer4_->Start();
}
