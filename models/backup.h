#pragma once
// Automatic backups of a regulator's settings. Before every write and every factory reset the block
// as last read goes to Data/<model name>/Backup/ as a pair of files named by date and time: a
// parameter file that "Otevřít ..." can load, and beside it a small text file with the regulator's
// identity, the whole read payload in hex and what the payload's layout was, from which the exact
// write payload can be rebuilt. The newest kBackupsKept pairs of a model are kept. A backup that
// cannot be written stops the transaction: settings are never replaced without a copy.

#include "common/clock.h"
#include "models/panelmodel.h"
#include "protocol/cycle.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class IFileWriter;
class TsmlMsgLangRes;

inline constexpr int kBackupsKept = 100;
inline const QString kBackupFolderName = QStringLiteral("Backup");
inline const QString kBackupRecordExtension = QStringLiteral("txt");
inline const QString kBackupSection = QStringLiteral("BACKUP");
// A record is a dozen lines, the longest the read payload in hex: a larger file is no record.
inline constexpr qint64 kBackupRecordMaxBytes = 1024 * 1024;

// What turning a read payload into the window's write payload depends on: the version text (does
// the speed value T come first?), the number of display entries and the item count of each option
// group of the model definition.
struct TBlockLayout {
    QString version;
    int displayCount = 0;
    QList<int> itemCounts;
};

// What a write sends to put a block back: throttle limits in microseconds, the chosen item of the
// option groups 0 .. active-1 (-1 none), and the unassigned bytes.
struct TBlockImage {
    int throttleMaxUs = 0;
    int throttleMinUs = 0;
    QList<int> itemIndexes;
    QByteArray unassigned;
    // FE-less write payload: limits, one byte per group (index + 1), the unassigned bytes.
    QByteArray WritePayload() const;
};

// The image that a read of this payload leaves in a freshly built panel of this layout, untouched
// by the user: exactly what the window would write right after that read. Nothing when the payload
// is too short to hold the throttle limits.
std::optional<TBlockImage> ImageFromReadPayload(const QByteArray& payload,
                                                const TBlockLayout& layout);

// Does the panel stand as the one a block was read into: as many display entries, and as many
// option groups with as many items each. Only then does a restore put back exactly that block.
bool LayoutMatches(const TBlockLayout& layout, const IParameterPanel& panel);

// What a block puts back, as a restore does: the chosen items of its groups, the active option
// count and the unassigned bytes into the panel (ApplyBlockImage), and with PutBlockImage its
// throttle limits into the fields too. On a panel whose layout matches, a write right after sends
// the image's write payload.
void ApplyBlockImage(IParameterPanel& panel, const TBlockImage& image);
void PutBlockImage(const TBlockImage& image, TBlockFields& fields, IParameterPanel& panel);
// Limits in microseconds into the fields, which hold milliseconds.
void PutThrottleLimits(const TThrottleLimits& limits, TBlockFields& fields);

// The text file of one backup.
struct TBackupRecord {
    TOverwriteContext::Kind kind = TOverwriteContext::Kind::Write;
    QDateTime taken;
    TRegulatorIdentity identity;
    QString languageCode;
    bool alternateScale = false;
    // The port's device path, or "USB " and the adapter's serial number; empty in older records.
    QString link;
    TBlockLayout layout;
    QByteArray readPayload;
    QByteArray writePayload; // as rebuilt when the backup was made; checked again on restore
};

QByteArray EncodeBackupRecord(const TBackupRecord& record);
// Nothing, with *error saying what is wrong, for a file that cannot be read, lacks a key, holds a
// malformed value, or whose write payload does not follow from its read payload.
std::optional<TBackupRecord> LoadBackupRecord(const QString& path, QString* error);

// The parameter file of a panel as the window saves it: value texts, "Data", the chosen item of
// each group, in Windows-1250 with CR LF.
QByteArray BackupParameterFile(const IParameterPanel& panel);

QString BackupFolder(const QString& programDir, const QString& modelName);
// "2025-03-14_09-26-53", the stem of both files of a backup.
QString BackupStem(const QDateTime& when);

// One backup as listed: its record and the parameter file beside it.
struct TBackupEntry {
    QString recordPath;
    QString parameterPath; // empty when the parameter file is gone
    TBackupRecord record;
};
// The model's backups, newest first. Records that cannot be read are left out, each with what is
// wrong appended to *unreadable; other files in the folder are not looked at.
QList<TBackupEntry> ListBackups(const QString& programDir, const QString& modelName,
                                QStringList* unreadable = nullptr);
// One backup by its record's path; nothing, with *error saying why, when the record cannot be read.
std::optional<TBackupEntry> LoadBackupEntry(const QString& recordPath, QString* error);

class TBackupStore final : public IOverwriteGuard {
public:
    using MessageFn = std::function<void(const QString&)>;

    // showError: an error box (caption "str2"); the refusal's text goes there. saved: told the path
    // of each record written (the tool prints it).
    TBackupStore(QString programDir, const TsmlMsgLangRes& messages, TimeSource now,
                 MessageFn showError, MessageFn saved = {});

    bool BeforeOverwrite(const TOverwriteContext& context) override;
    // The record is made here; the files are written by the writer when one is set, so the window
    // does not wait for the disk (a write overlaps its pause before the frame).
    void BeforeOverwriteAsync(const TOverwriteContext& context,
                              std::function<void(bool)> done) override;
    void SetFileWriter(IFileWriter* writer) { files_ = writer; }
    // The link the regulator is on, kept in each record: with several regulators set up at once,
    // it tells which backup is whose.
    void SetLink(QString link) { link_ = std::move(link); }
    const QString& Link() const { return link_; }

    // Writes the pair and prunes the folder; the path of the text file, or nothing with *reason.
    std::optional<QString> Save(const TOverwriteContext& context, QString* reason);

    // The record a context would give, with the parameter file's bytes; nothing with *reason when
    // the block cannot be decoded (no read yet, model definition file gone).
    std::optional<TBackupRecord> MakeRecord(const TOverwriteContext& context,
                                            QByteArray* parameterFile, QString* reason) const;

private:
    // What the disk part of a backup needs: copies only, so that it can run on another thread.
    struct TPending {
        QString folder, parameterFolder, stem;
        QByteArray parameterFile, record;
    };
    std::optional<TPending> Prepare(const TOverwriteContext& context, QString* reason) const;
    static std::optional<QString> WritePair(const TPending& pending, QString* reason,
                                            bool prune = true);
    void Refused(const QString& reason) const;

    IFileWriter* files_ = nullptr;
    QString programDir_;
    const TsmlMsgLangRes& messages_;
    TimeSource now_;
    MessageFn showError_;
    MessageFn saved_;
    QString link_;
};

// The link text of a record for an FTDI adapter.
inline QString UsbBackupLink(const QString& serialNo) { return QStringLiteral("USB ") + serialNo; }
