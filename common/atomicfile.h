#pragma once
// Every file the program writes goes through here: the content goes to a temporary file beside the
// target, is flushed to disk, and then renamed over the target, so a crash or a full disk never
// leaves a half-written file behind. The old file stays intact when anything fails.

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class QDateTime;

// The rename is made durable by syncing the folder. Files written together into one folder need
// that only once: all but the last may leave it to the last (Later).
enum class FolderSync { Now, Later };

// False on failure; *error (when given) holds the system's reason.
bool WriteFileAtomically(const QString& path, const QByteArray& content, QString* error = nullptr,
                         FolderSync folderSync = FolderSync::Now);

// The same, for a name that must be new: a file, link or anything else already there under the
// name is never replaced, also when another process or thread creates it at the same moment. On
// failure *taken (when given) says whether the name was the reason, so the caller can try another.
bool CreateFileAtomically(const QString& path, const QByteArray& content, bool* taken,
                          QString* error = nullptr, FolderSync folderSync = FolderSync::Now);

// Adds bytes at the end of an existing file in one write and hands them to the disk, for a log that
// grows record by record: each record costs the same however long the file is, and an interrupted
// program leaves every record written before it. A record that cannot be written whole is taken
// back, so the file never ends in half a record. The file is not created: a log file that vanished
// under the program is reported, not silently started anew without its beginning.
bool AppendToFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// "2025-03-14_09-26-53": the stem of a file named by the moment it was made (backups, earlier
// logs). Names of this form sort by date and time.
QString DatedStem(const QDateTime& when);

// A new name from a stem: the stem itself, then stem_002, stem_003 … up to stem_999, each tried
// with make (which creates whatever the name stands for, and says through *taken whether the name
// was the reason it could not). The stem used, or nothing with *error when make failed for another
// reason or every name was taken.
using TMakeNamed = std::function<bool(const QString& stem, bool* taken, QString* error)>;
std::optional<QString> CreateNumbered(const QString& stem, const TMakeNamed& make, QString* error);
