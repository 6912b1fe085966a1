#pragma once
// The EEPROM log download: the regulator hands its log record by record, and each record goes to
// EEPROM.txt beside the executable as a line of decimal byte values. The transaction itself runs in
// the connection cycle (StartLogDownload and the log record handlers); this is its file and its
// state.

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class QDateTime;

struct TAppendSeries;

inline const QString kEepromFileName = QStringLiteral("EEPROM.txt");
// The message shown when too many damaged records end a download; its built-in text is the one
// the regulator's makers wrote, so without a language file nothing changes.
inline constexpr char kEepromBadCommunicationKey[] = "str210";
// A record whose first byte is this marks the end of the log and is not stored.
inline constexpr unsigned char kLogEndMark = 8;
// Records with a wrong check byte allowed in one download; the next one ends it.
inline constexpr int kLogErrorLimit = 3;

// "5 1 2 \r\n" for the payload 05 01 02: each byte in decimal followed by one blank.
QByteArray EepromRecordLine(const QByteArray& payload);

// The file begins with one empty line. False with the system's reason when it cannot be written.
bool StartEepromFile(const QString& path, QString* reason);
// Adds one record's line. The whole file would read the same if it were rewritten for each record,
// but appending keeps a long log linear.
bool AppendEepromRecord(const QString& path, const QByteArray& payload, QString* reason);

// A log is a few thousand records of a few bytes: a larger file is none the program wrote.
inline constexpr qint64 kEepromFileMaxBytes = 64 * 1024 * 1024;

// Before a download replaces the log, the one there is kept beside it under the name of a moment
// (EEPROM_2025-03-14_09-26-53.txt, a counter after it within one second; when, or without it the
// log's own modification time), so that no log is lost. The kept file's path; empty when there is
// nothing to keep (no file, or one without a record); nothing, with *reason, when it could not be
// kept: the log then stays as it was, and must not be replaced.
std::optional<QString> KeepPreviousLog(const QString& path, const QDateTime& when, QString* reason);

// How a download ended, for the hint panel. The first ending stays, except that a failed write
// replaces any: the file then lacks records the regulator sent.
enum class TLogEnding { Running, Complete, BadCommunication, Silence, DiskError };

// State of the download in progress, or of the last one.
struct TLogDownload {
    int errorCount = 0; // records with a wrong check byte, over the whole download
    int received = 0;   // records handed to the file writer
    int stored = 0;     // records the disk has taken: those in the file
    TLogEnding ending = TLogEnding::Running;
    // This download's appends: the writer stores none after the first that failed.
    std::shared_ptr<TAppendSeries> series;
    // Over a link whose receive runs inside the send, the next request waits here while a record
    // is handled, so a long log runs as a loop rather than as nested exchanges.
    QByteArray queued;
    bool looping = false;
    // A line could not be written: no more records are asked for.
    bool writeFailed = false;
    // Where the log that was there before this download was kept; empty when there was none.
    QString kept;
};
