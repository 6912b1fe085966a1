#include "models/backup.h"

#include "common/atomicfile.h"
#include "common/filewriter.h"
#include "common/profile.h"
#include "common/textcodec.h"
#include "i18n/msglangres.h"
#include "models/modelfile.h"
#include "models/panelmodel.h"
#include "models/paramfile.h"
#include "protocol/paramblock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr int kThrottleBytes = 4;
constexpr int kSpeedBytes = 2;
constexpr int kFirstVersionWithSpeed = 3;
constexpr mode_t kFolderMode = 0777;

const QString kTakenFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");
// Only files of this shape are ever pruned: whatever else the user keeps there stays.
const QRegularExpression
    kRecordName(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d(_\\d{3})?\\.txt$"));

int Byte(const QByteArray& p, qsizetype i) { return static_cast<unsigned char>(p[i]); }

// The third and fourth characters of the version text as a number, as the read decoding takes it.
int VersionNumber(const QString& version)
{
    if (version.size() < 4 || !version[2].isDigit() || !version[3].isDigit() ||
        version[2].unicode() > '9' || version[3].unicode() > '9')
        return -1;
    return (version[2].unicode() - u'0') * 10 + (version[3].unicode() - u'0');
}

QString Hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

std::optional<QByteArray> FromHex(const QString& text)
{
    QByteArray out;
    for (const QString& token : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int v = token.toInt(&ok, 16);
        if (!ok || token.size() > 2 || v < 0)
            return std::nullopt;
        out.append(static_cast<char>(v));
    }
    return out;
}

QString KindName(TOverwriteContext::Kind kind)
{
    return kind == TOverwriteContext::Kind::Write ? QStringLiteral("write")
                                                  : QStringLiteral("default");
}

} // namespace

QByteArray BackupParameterFile(const IParameterPanel& panel)
{
    return EncodeParameterFile(ParameterFileLines(panel));
}

namespace {

bool MakeFolder(const QString& path, QString* reason)
{
    if (QFileInfo(path).isDir())
        return true;
    if (::mkdir(QFile::encodeName(path).constData(), kFolderMode) == 0)
        return true;
    *reason = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

void Prune(const QString& folder)
{
    // A pattern of its own: this runs on the writer's thread.
    const QRegularExpression recordName(kRecordName.pattern());
    QStringList records;
    for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name))
        if (recordName.match(name).hasMatch())
            records << name;
    // Names sort by date and time; the oldest go first.
    for (qsizetype i = 0; i + kBackupsKept < records.size(); ++i) {
        const QString stem = folder + QLatin1Char('/') + QFileInfo(records[i]).completeBaseName();
        QFile::remove(stem + QLatin1Char('.') + kBackupRecordExtension);
        QFile::remove(stem + QStringLiteral(".zeq"));
    }
}

} // namespace

// ---- the block image
// -------------------------------------------------------------------------------

QByteArray TBlockImage::WritePayload() const
{
    QByteArray out;
    for (const int v : {throttleMaxUs, throttleMinUs}) {
        out.append(static_cast<char>(v >> 8));
        out.append(static_cast<char>(v & 0xFF));
    }
    for (const int index : itemIndexes)
        out.append(static_cast<char>(std::max(index + 1, 0)));
    out.append(unassigned);
    return out;
}

std::optional<TBlockImage> ImageFromReadPayload(const QByteArray& p, const TBlockLayout& layout)
{
    // A version without a number stops the read decoding too: no write follows such a read.
    if (p.size() < kThrottleBytes || VersionNumber(layout.version) < 0)
        return std::nullopt;
    TBlockImage image;
    image.throttleMaxUs = Byte(p, 0) * 256 + Byte(p, 1);
    image.throttleMinUs = Byte(p, 2) * 256 + Byte(p, 3);
    const int base = kThrottleBytes +
                     (VersionNumber(layout.version) >= kFirstVersionWithSpeed ? kSpeedBytes : 0);
    const qsizetype start = base + layout.displayCount;
    const QByteArray values = start < p.size() ? p.mid(start) : QByteArray();
    const int groups = int(layout.itemCounts.size());
    // As the read decoding: the active count is the number of non-zero values that have a group,
    // a value beyond a group's items leaves it as built (nothing chosen), and the values without a
    // group go back unchanged.
    int active = 0;
    for (qsizetype k = 0; k < values.size() && k < groups; ++k)
        active += Byte(values, k) != 0 ? 1 : 0;
    for (int k = 0; k < active; ++k) {
        const int v = Byte(values, k);
        image.itemIndexes.append(v <= layout.itemCounts[k] ? v - 1 : -1);
    }
    if (groups < values.size())
        image.unassigned = values.mid(groups);
    return image;
}

bool LayoutMatches(const TBlockLayout& layout, const IParameterPanel& panel)
{
    if (layout.displayCount != panel.DisplayCount() ||
        layout.itemCounts.size() != panel.GroupCount())
        return false;
    for (int g = 0; g < panel.GroupCount(); ++g)
        if (layout.itemCounts[g] != panel.ItemCount(g))
            return false;
    return true;
}

void ApplyBlockImage(IParameterPanel& panel, const TBlockImage& image)
{
    panel.SetActiveOptionCount(int(image.itemIndexes.size()));
    panel.SetUnassignedBytes(image.unassigned);
    for (int k = 0; k < image.itemIndexes.size(); ++k)
        panel.SetItemIndex(k, image.itemIndexes[k]);
}

void PutThrottleLimits(const TThrottleLimits& limits, TBlockFields& fields)
{
    constexpr double kMicrosPerMilli = 1000.0;
    fields.throttleMin = limits.minUs / kMicrosPerMilli;
    fields.throttleMax = limits.maxUs / kMicrosPerMilli;
}

void PutBlockImage(const TBlockImage& image, TBlockFields& fields, IParameterPanel& panel)
{
    PutThrottleLimits({image.throttleMinUs, image.throttleMaxUs}, fields);
    ApplyBlockImage(panel, image);
}

// ---- the text file
// -----------------------------------------------------------------------------------

QByteArray EncodeBackupRecord(const TBackupRecord& r)
{
    QStringList counts;
    for (const int n : r.layout.itemCounts)
        counts << QString::number(n);
    const QStringList lines = {
        QLatin1Char('[') + kBackupSection + QLatin1Char(']'),
        QStringLiteral("KIND=") + KindName(r.kind),
        QStringLiteral("TAKEN=") + r.taken.toString(kTakenFormat),
        QStringLiteral("NAME=\"") + r.identity.name + QLatin1Char('"'),
        QStringLiteral("VERSION=\"") + r.identity.version + QLatin1Char('"'),
        QStringLiteral("DATE=\"") + r.identity.date + QLatin1Char('"'),
        QStringLiteral("FLAGS=") + Hex(QByteArray(1, static_cast<char>(r.identity.flags))),
        QStringLiteral("LANGUAGE=") + r.languageCode,
        QStringLiteral("LINK=\"") + r.link + QLatin1Char('"'),
        QStringLiteral("ALTERNATE=") + QString::number(r.alternateScale ? 1 : 0),
        QStringLiteral("DISPLAY=") + QString::number(r.layout.displayCount),
        QStringLiteral("ITEMS=") + counts.join(QLatin1Char(' ')),
        QStringLiteral("READ=") + Hex(r.readPayload),
        QStringLiteral("WRITE=") + Hex(r.writePayload),
    };
    QByteArray out;
    for (const QString& line : lines)
        out += EncodeText(line) + "\r\n";
    return out;
}

std::optional<TBackupRecord> LoadBackupRecord(const QString& path, QString* error)
{
    TProfileFile file(path, kBackupRecordMaxBytes);
    if (!QFileInfo(path).isFile() || !file.Load()) {
        const QString reason =
            QFileInfo(path).isFile() ? file.Error() : QString::fromLocal8Bit(std::strerror(ENOENT));
        *error = QStringLiteral("%1: %2").arg(path, reason);
        return std::nullopt;
    }
    const QString missing = QStringLiteral("\x01");
    auto value = [&](const char* key) {
        return file.ReadString(kBackupSection, QString::fromLatin1(key), missing);
    };
    for (const char* key :
         {"KIND", "NAME", "VERSION", "DATE", "FLAGS", "DISPLAY", "ITEMS", "READ"}) {
        if (value(key) == missing) {
            *error = QStringLiteral("%1: no %2").arg(path, QString::fromLatin1(key));
            return std::nullopt;
        }
    }
    TBackupRecord r;
    r.kind = value("KIND") == QLatin1String("default") ? TOverwriteContext::Kind::FactoryReset
                                                       : TOverwriteContext::Kind::Write;
    r.taken = QDateTime::fromString(value("TAKEN"), kTakenFormat);
    r.identity.name = value("NAME");
    r.identity.version = value("VERSION");
    r.identity.date = value("DATE");
    r.languageCode = value("LANGUAGE") == missing ? QString() : value("LANGUAGE");
    r.alternateScale = value("ALTERNATE") == QLatin1String("1");
    r.link = value("LINK") == missing ? QString() : value("LINK");
    bool ok = false;
    const std::optional<QByteArray> flags = FromHex(value("FLAGS"));
    r.layout.version = r.identity.version;
    r.layout.displayCount = value("DISPLAY").toInt(&ok);
    if (!flags || flags->size() != 1 || !ok || r.layout.displayCount < 0) {
        *error = QStringLiteral("%1: FLAGS or DISPLAY").arg(path);
        return std::nullopt;
    }
    r.identity.flags = static_cast<unsigned char>(flags->at(0));
    for (const QString& n : value("ITEMS").split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const int count = n.toInt(&ok);
        if (!ok || count < 0) {
            *error = QStringLiteral("%1: ITEMS").arg(path);
            return std::nullopt;
        }
        r.layout.itemCounts.append(count);
    }
    const std::optional<QByteArray> read = FromHex(value("READ"));
    const std::optional<TBlockImage> image =
        read ? ImageFromReadPayload(*read, r.layout) : std::nullopt;
    if (!image) {
        *error = QStringLiteral("%1: READ").arg(path);
        return std::nullopt;
    }
    r.readPayload = *read;
    r.writePayload = image->WritePayload();
    // The write payload kept beside is a check on the rest: an edited or damaged file is refused
    // rather than written to a regulator.
    if (value("WRITE") != missing && FromHex(value("WRITE")) != r.writePayload) {
        *error = QStringLiteral("%1: WRITE does not follow from READ").arg(path);
        return std::nullopt;
    }
    return r;
}

QString BackupFolder(const QString& programDir, const QString& modelName)
{
    return ParameterFolder(programDir, modelName) + QLatin1Char('/') + kBackupFolderName;
}

QString BackupStem(const QDateTime& when) { return DatedStem(when); }

QList<TBackupEntry> ListBackups(const QString& programDir, const QString& modelName,
                                QStringList* unreadable)
{
    const QString folder = BackupFolder(programDir, modelName);
    QList<TBackupEntry> entries;
    // Newest first: names sort by date and time, and a counter orders those of one second.
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString& name : names) {
        if (!kRecordName.match(name).hasMatch())
            continue;
        QString error;
        std::optional<TBackupEntry> entry =
            LoadBackupEntry(folder + QLatin1Char('/') + name, &error);
        if (entry)
            entries.append(std::move(*entry));
        else if (unreadable)
            unreadable->append(error);
    }
    return entries;
}

std::optional<TBackupEntry> LoadBackupEntry(const QString& recordPath, QString* error)
{
    std::optional<TBackupRecord> record = LoadBackupRecord(recordPath, error);
    if (!record)
        return std::nullopt;
    const QFileInfo info(recordPath);
    const QString zeq =
        info.dir().filePath(info.completeBaseName() + QLatin1Char('.') + kParamFileExtension);
    return TBackupEntry{recordPath, QFileInfo(zeq).isFile() ? zeq : QString(), std::move(*record)};
}

// ---- the store
// -----------------------------------------------------------------------------------------

TBackupStore::TBackupStore(QString programDir, const TsmlMsgLangRes& messages, TimeSource now,
                           MessageFn showError, MessageFn saved)
    : programDir_(std::move(programDir)), messages_(messages), now_(std::move(now)),
      showError_(std::move(showError)), saved_(std::move(saved))
{
}

void TBackupStore::Refused(const QString& reason) const
{
    showError_(messages_.LookupMessage(QStringLiteral("str130")).arg(reason));
}

bool TBackupStore::BeforeOverwrite(const TOverwriteContext& context)
{
    QString reason;
    const std::optional<QString> path = Save(context, &reason);
    if (!path) {
        Refused(reason);
        return false;
    }
    if (saved_)
        saved_(*path);
    return true;
}

void TBackupStore::BeforeOverwriteAsync(const TOverwriteContext& context,
                                        std::function<void(bool)> done)
{
    if (!files_) {
        done(BeforeOverwrite(context));
        return;
    }
    QString reason;
    const std::optional<TPending> pending = Prepare(context, &reason);
    if (!pending) {
        Refused(reason);
        done(false);
        return;
    }
    auto path = std::make_shared<QString>();
    files_->Run(
        [pending = *pending, path](QString* why) {
            const std::optional<QString> written = WritePair(pending, why, false);
            if (written)
                *path = *written;
            return written.has_value();
        },
        [this, path, done = std::move(done)](bool ok, const QString& why) {
            if (!ok)
                Refused(why);
            else if (saved_)
                saved_(*path);
            done(ok);
        });
    // The old ones go after the answer: the transaction waits for the pair only.
    files_->Run(
        [folder = pending->folder](QString*) {
            Prune(folder);
            return true;
        },
        {});
}

std::optional<TBackupRecord> TBackupStore::MakeRecord(const TOverwriteContext& context,
                                                      QByteArray* parameterFile,
                                                      QString* reason) const
{
    if (context.lastReadPayload.isEmpty()) {
        *reason = messages_.LookupMessage(QStringLiteral("str131"));
        return std::nullopt;
    }
    // The block as last read, decoded afresh into a panel nobody sees: the user's changes since
    // the read are not the regulator's settings.
    QString problem;
    TPanelModel scratch(
        messages_, [&](const QString& text) { problem = text; },
        [&](const QString& text) { problem = text; });
    scratch.BuildParameterPanel(ModelContext{programDir_, context.languageCode,
                                             context.identity.name, context.alternateScale});
    if (scratch.ModelFileMissing()) {
        *reason = problem.isEmpty()
                      ? ModelFilePath(programDir_, context.languageCode, context.identity.name)
                      : problem;
        return std::nullopt;
    }
    // Only the panel is kept: the fixed fields and the error boxes are nobody's to see.
    DecodeReadReply(context.lastReadPayload, context.identity.version, TBlockFields{}, scratch,
                    DecodeEnv{programDir_, &messages_});

    TBackupRecord r;
    r.kind = context.kind;
    r.taken = now_();
    r.identity = context.identity;
    r.languageCode = context.languageCode;
    r.alternateScale = context.alternateScale;
    r.link = link_;
    r.layout.version = context.identity.version;
    r.layout.displayCount = scratch.DisplayCount();
    for (int g = 0; g < scratch.GroupCount(); ++g)
        r.layout.itemCounts.append(scratch.ItemCount(g));
    r.readPayload = context.lastReadPayload;
    const std::optional<TBlockImage> image = ImageFromReadPayload(r.readPayload, r.layout);
    if (!image) {
        *reason = messages_.LookupMessage(QStringLiteral("str131"));
        return std::nullopt;
    }
    r.writePayload = image->WritePayload();
    *parameterFile = BackupParameterFile(scratch);
    return r;
}

std::optional<TBackupStore::TPending> TBackupStore::Prepare(const TOverwriteContext& context,
                                                            QString* reason) const
{
    TPending p;
    const std::optional<TBackupRecord> record = MakeRecord(context, &p.parameterFile, reason);
    if (!record)
        return std::nullopt;
    if (!IsSafeModelName(context.identity.name)) {
        *reason = context.identity.name;
        return std::nullopt;
    }
    p.parameterFolder = ParameterFolder(programDir_, context.identity.name);
    p.folder = BackupFolder(programDir_, context.identity.name);
    p.stem = p.folder + QLatin1Char('/') + BackupStem(record->taken);
    p.record = EncodeBackupRecord(*record);
    return p;
}

std::optional<QString> TBackupStore::Save(const TOverwriteContext& context, QString* reason)
{
    const std::optional<TPending> pending = Prepare(context, reason);
    if (!pending)
        return std::nullopt;
    return WritePair(*pending, reason);
}

std::optional<QString> TBackupStore::WritePair(const TPending& p, QString* reason, bool prune)
{
    if (!MakeFolder(p.parameterFolder, reason) || !MakeFolder(p.folder, reason))
        return std::nullopt;

    // Two backups within one second get a counter rather than replacing each other. Each name is
    // claimed by creating its file only if it does not exist, so that writers running at the same
    // time (two tools on two ports, the window beside a tool) never take the same one.
    const std::optional<QString> base = CreateNumbered(
        p.stem,
        [&p](const QString& stem, bool* taken, QString* why) {
            const QString zeq = stem + QStringLiteral(".zeq");
            // One sync of the folder, after the second file, makes both names durable.
            if (!CreateFileAtomically(zeq, p.parameterFile, taken, why, FolderSync::Later))
                return false;
            if (CreateFileAtomically(stem + QLatin1Char('.') + kBackupRecordExtension, p.record,
                                     taken, why))
                return true;
            QFile::remove(zeq); // half a backup is no backup
            return false;
        },
        reason);
    if (!base)
        return std::nullopt;
    const QString txt = *base + QLatin1Char('.') + kBackupRecordExtension;
    if (prune)
        Prune(p.folder);
    return txt;
}
