#include "protocol/eepromlog.h"

#include "common/atomicfile.h"
#include "common/clock.h"
#include "common/filewriter.h"
#include "common/readfile.h"
#include "i18n/msglangres.h"
#include "protocol/cycle.h"
#include "protocol/frames.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

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

std::optional<QString> KeepPreviousLog(const QString& path, const QDateTime& when, QString* reason)
{
    const QFileInfo info(path);
    // A folder in its place is no log: starting the new one reports it.
    if (!info.isFile())
        return QString();
    const TFileRead read = ReadFileWithLimit(path, kEepromFileMaxBytes);
    if (!read.Ok()) {
        *reason = read.Reason();
        return std::nullopt;
    }
    if (read.bytes.trimmed().isEmpty())
        return QString();
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString stem =
        info.dir().filePath(info.completeBaseName() + QLatin1Char('_') +
                            DatedStem(when.isValid() ? when : info.lastModified()));
    const std::optional<QString> kept = CreateNumbered(
        stem,
        [&read, &suffix](const QString& name, bool* taken, QString* why) {
            return CreateFileAtomically(name + suffix, read.bytes, taken, why);
        },
        reason);
    if (!kept)
        return std::nullopt;
    return *kept + suffix;
}

// ---- the download as a transaction of the connection cycle ------------------------------------

QString TConnectionCycle::EepromPath() const
{
    return eepromPath_.isEmpty() ? programDir_ + kEepromFileName : eepromPath_;
}

// The file is written from the file writer: the window and the regulator do not wait for the
// disk, except once at the start, so that a log that cannot be begun sends nothing. Records that
// come in while the disk is busy go to it together.
void TConnectionCycle::StartLogDownload()
{
    if (state_.busy)
        return;
    SetBusy(true);
    presenceTimer_->Stop();
    state_.logPending = true;
    SetTransferButtons(false);
    const int download = ++logDownloads_;
    // Fresh before the disk has answered, so that a reset meanwhile ends this download, not the
    // last one.
    log_ = TLogDownload{};
    log_.series = std::make_shared<TAppendSeries>();
    const QString path = EepromPath();
    const QDateTime when = now_ ? now_() : QDateTime();
    // Set on the writer's thread, read once the job is done: the earlier log's new name, or
    // nothing when it could not be kept.
    auto kept = std::make_shared<std::optional<QString>>();
    files_->Run(
        [path, when, kept](QString* reason) {
            *kept = KeepPreviousLog(path, when, reason);
            return kept->has_value() && StartEepromFile(path, reason);
        },
        [this, download, path, kept, alive = std::weak_ptr<bool>(alive_)](bool ok,
                                                                          const QString& reason) {
            if (alive.expired() || download != logDownloads_ || !state_.logPending)
                return; // a reset ended it while the disk was busy
            Guarded([&] {
                if (!ok) {
                    // Nothing has gone to the regulator yet: end here rather than leave
                    // the window busy until the watchdog gives up on a download that
                    // never began.
                    watchdogTimer_->Stop();
                    state_.logPending = false;
                    SetBusy(false);
                    presenceTimer_->Start();
                    SetTransferButtons(true);
                    view_.ReportError(
                        messages_.Msg(kept->has_value() ? "str115" : "Str532").arg(path, reason));
                    return;
                }
                log_.kept = **kept;
                ShowLogHint();
                SendLogRequest(LogStartRequest());
                if (state_.logPending)
                    watchdogTimer_->Start();
            });
        });
    // Watches a disk that never answers too: the download then ends by the time-out reset.
    if (state_.logPending && !watchdogTimer_->Enabled())
        watchdogTimer_->Start();
}

void TConnectionCycle::LogWriteFailed(int download, const QString& reason)
{
    if (download == logDownloads_) {
        log_.writeFailed = true;
        log_.ending = TLogEnding::DiskError;
        ShowLogHint();
        // No more records are asked for: the download is over for whoever waits on it, though the
        // watchdog is what returns the cycle to idle.
        Emit([this](ICycleEvents& l) { l.LogEnded(LogState()); });
    }
    if (logFailReported_ == download)
        return; // once per download
    logFailReported_ = download;
    view_.ReportError(messages_.Msg("str115").arg(EepromPath(), reason));
}

void TConnectionCycle::LogEnded(TLogEnding ending)
{
    const bool first = log_.ending == TLogEnding::Running;
    if (first)
        log_.ending = ending;
    ShowLogHint();
    if (first)
        Emit([this](ICycleEvents& l) { l.LogEnded(LogState()); });
}

TLogEvent TConnectionCycle::LogState() const
{
    return TLogEvent{log_.ending, log_.stored, log_.received,
                     QFileInfo(EepromPath()).absoluteFilePath()};
}

// Counts only what the disk has taken: a record on its way to the file is not in it yet, and may
// never be. Once the download has ended, the hint also says where the file is.
void TConnectionCycle::ShowLogHint()
{
    const int stored = log_.stored;
    QString text;
    switch (log_.ending) {
    case TLogEnding::Running:
        view_.ShowProgressHint(messages_.Msg("str113").arg(stored));
        return;
    case TLogEnding::Complete:
        text = stored < log_.received ? messages_.Msg("str163").arg(stored).arg(log_.received)
                                      : messages_.Msg("str114").arg(stored);
        break;
    case TLogEnding::BadCommunication:
        text = messages_.Msg("str164").arg(stored);
        break;
    case TLogEnding::Silence:
        text = messages_.Msg("str165").arg(stored);
        break;
    case TLogEnding::DiskError:
        text = messages_.Msg("str166").arg(stored);
        break;
    }
    const QString path = QFileInfo(EepromPath()).absoluteFilePath();
    view_.ShowProgressHint(log_.kept.isEmpty() ? messages_.Msg("str206").arg(text, path)
                                               : messages_.Msg("Str531").arg(
                                                     text, path, QFileInfo(log_.kept).fileName()));
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
        } catch (const std::exception& e) {
            // The watchdog ends the download; the records stored so far stay in the file.
            ShowLinkError(TLinkErrorEvent::Where::Send, QString::fromStdString(e.what()));
            log_.queued.clear();
        }
        next = state_.logPending ? log_.queued : QByteArray();
    }
    log_.queued.clear();
    log_.looping = false;
}

void TConnectionCycle::EndLogDownload(TLogEnding ending)
{
    state_.replyPayload.clear();
    state_.logPending = false;
    log_.queued.clear();
    watchdogTimer_->Stop();
    timeoutTimer_->Stop();
    presenceTimer_->Start();
    SetTransferButtons(true);
    SetBusy(false);
    LogEnded(ending);
}

void TConnectionCycle::LogRecord()
{
    watchdogTimer_->Stop();
    const QByteArray payload = state_.replyPayload;
    if (!payload.isEmpty() && static_cast<unsigned char>(payload[0]) == kLogEndMark) {
        EndLogDownload(TLogEnding::Complete);
        return;
    }
    if (!log_.writeFailed) {
        const int download = logDownloads_;
        ++log_.received;
        // The next record is asked for before the disk has taken this one; the series keeps a
        // record that arrives meanwhile out of the file once this one has failed.
        files_->Append(
            EepromPath(), EepromRecordLine(payload),
            [this, download, alive = std::weak_ptr<bool>(alive_)](bool ok, const QString& reason) {
                if (alive.expired())
                    return;
                if (!ok) {
                    LogWriteFailed(download, reason);
                } else if (download == logDownloads_) {
                    ++log_.stored;
                    ShowLogHint();
                    Emit([this](ICycleEvents& l) { l.LogRecordStored(LogState()); });
                }
            },
            log_.series);
    }
    if (log_.writeFailed) {
        // No next request: the watchdog ends the download, the records before stay in the file.
        watchdogTimer_->Start();
        return;
    }
    state_.replyPayload.clear();
    SendLogRequest(LogNextRequest());
    if (state_.logPending)
        watchdogTimer_->Start();
}

void TConnectionCycle::LogFrameError()
{
    ++log_.errorCount;
    if (log_.errorCount > kLogErrorLimit) {
        // The listeners hear of the end, and the window says "str210" in a plain box.
        EndLogDownload(TLogEnding::BadCommunication);
        return;
    }
    SendLogRequest(LogRepeatRequest());
    if (state_.logPending && !watchdogTimer_->Enabled())
        watchdogTimer_->Start();
}
