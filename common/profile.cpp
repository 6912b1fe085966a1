#include "common/profile.h"

#include "common/atomicfile.h"
#include "common/readfile.h"
#include "common/textcodec.h"

#include <QFile>
#include <QHash>

#include <cerrno>
#include <memory>

// How the file is held: lines_ is the decoded text split at LF, so joining it with LF gives the
// file back byte for byte. A line that ended in CR LF keeps its CR; the last element is what
// follows the final LF (empty when the file ends with a line end). Lines are parsed anew on every
// call: profile files are small, and this keeps comments, odd lines and duplicates exactly where
// they are.

namespace {

const char kBom[] = "\xEF\xBB\xBF";

bool IsBlank(QChar c) { return c == u' ' || c == u'\t'; }

QStringView Trim(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

bool IsBlankLine(const QString& raw)
{
    QStringView line(raw);
    if (line.endsWith(u'\r'))
        line.chop(1);
    return Trim(line).isEmpty();
}

bool SameName(QStringView a, QStringView b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

struct ParsedLine {
    enum Kind { Other, Section, Key };
    Kind kind = Other;
    QStringView name;  // section or key name, trimmed
    QStringView value; // raw text after the first "=" (keys only)
};

ParsedLine Parse(const QString& raw)
{
    QStringView line(raw);
    if (line.endsWith(u'\r'))
        line.chop(1);
    line = Trim(line);
    if (line.isEmpty() || line[0] == u';')
        return {};
    if (line[0] == u'[') {
        // A header missing its "]" still names a section, up to the line end.
        const qsizetype close = line.indexOf(u']');
        return {ParsedLine::Section, Trim(close < 0 ? line.mid(1) : line.mid(1, close - 1)), {}};
    }
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0)
        return {};
    const QStringView key = Trim(line.left(eq));
    if (key.isEmpty())
        return {};
    return {ParsedLine::Key, key, line.mid(eq + 1)};
}

QString CutValue(QStringView v)
{
    if (v.size() <= kProfileValueMax)
        return v.toString();
    qsizetype n = kProfileValueMax;
    // Never leave half of a surrogate pair at the end.
    if (v[n - 1].isHighSurrogate())
        --n;
    return v.left(n).toString();
}

// The value as a read gives it: blanks trimmed, one matching pair of quotes removed, length cut.
QString CleanValue(QStringView raw)
{
    QStringView v = Trim(raw);
    if (v.size() >= 2 && (v[0] == u'"' || v[0] == u'\'') && v.back() == v[0])
        v = v.mid(1, v.size() - 2);
    return CutValue(v);
}

// The default as a read hands it back: its trailing blanks go, and it is cut like a value.
QString CleanDefault(const QString& def)
{
    qsizetype end = def.size();
    while (end > 0 && def[end - 1] == u' ')
        --end;
    return CutValue(QStringView(def).left(end));
}

// A line break inside a name or value would split one entry into two lines on the next read.
QString OneLine(QString s)
{
    s.replace(u'\r', u' ');
    s.replace(u'\n', u' ');
    return s;
}

} // namespace

TProfileFile::TProfileFile(QString path, qint64 maxBytes)
    : path_(std::move(path)), maxBytes_(maxBytes)
{
}

bool TProfileFile::Load()
{
    lines_.clear();
    sectionsIndexed_ = false;
    crlf_ = true;
    utf8_ = bom_ = false;
    loadFailed_ = false;
    error_.clear();

    const TFileRead read = ReadFileWithLimit(path_, maxBytes_);
    if (!read.Ok()) {
        if (read.error == ENOENT || read.error == ENOTDIR)
            return true; // a missing file reads as empty and is created by the first save
        error_ = read.Reason();
        loadFailed_ = true;
        return false;
    }
    ParseBytes(read.bytes);
    return true;
}

void TProfileFile::ParseBytes(const QByteArray& bytes)
{
    const QString text = DecodeText(bytes);
    bool ascii = true;
    for (char c : bytes)
        if (uchar(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (!ascii) {
        // DecodeText chose UTF-8 exactly when re-encoding gives the same bytes back.
        bom_ = bytes.startsWith(kBom);
        utf8_ = text.toUtf8() == (bom_ ? bytes.mid(3) : bytes);
        bom_ = bom_ && utf8_;
    }
    const qsizetype lf = text.indexOf(u'\n');
    crlf_ = lf < 0 || (lf > 0 && text[lf - 1] == u'\r');
    lines_ = text.split(u'\n');
}

bool TProfileFile::Save()
{
    if (loadFailed_)
        return false; // keep the reason of the failed load; the unread file must not be replaced
    if (lines_.isEmpty())
        lines_.append(QString());
    const QString text = lines_.join(u'\n');
    QByteArray bytes;
    if (utf8_) {
        bytes = text.toUtf8();
        if (bom_)
            bytes.prepend(kBom);
    } else {
        bytes = EncodeText(text);
    }
    QString reason;
    if (!WriteFileAtomically(path_, bytes, &reason)) {
        error_ = reason;
        return false;
    }
    // Windows-1250 spends one byte per character; anything longer went out as UTF-8 and from now
    // on stays UTF-8, as it would after a fresh Load.
    utf8_ = utf8_ || bytes.size() != text.size();
    error_.clear();
    return true;
}

qsizetype TProfileFile::SectionBody(QStringView section) const
{
    if (!sectionsIndexed_) {
        sectionBodies_.clear();
        for (qsizetype i = 0; i < lines_.size(); ++i) {
            const ParsedLine line = Parse(lines_[i]);
            if (line.kind != ParsedLine::Section)
                continue;
            const QString name = line.name.toString().toCaseFolded();
            if (!sectionBodies_.contains(name))
                sectionBodies_.insert(name, i + 1); // the first section of a name is the one read
        }
        sectionsIndexed_ = true;
    }
    const auto it = sectionBodies_.constFind(section.toString().toCaseFolded());
    if (it != sectionBodies_.cend() && SameName(Parse(lines_[*it - 1]).name, section))
        return *it;
    // Names whose folding differs from the comparison's: the walk from the top decides.
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        const ParsedLine line = Parse(lines_[i]);
        if (line.kind == ParsedLine::Section && SameName(line.name, section))
            return i + 1;
    }
    return -1;
}

QString TProfileFile::ReadString(const QString& section, const QString& key,
                                 const QString& def) const
{
    const QStringView wantKey = Trim(key);
    const qsizetype body = SectionBody(Trim(section));
    for (qsizetype i = body < 0 ? lines_.size() : body; i < lines_.size(); ++i) {
        const ParsedLine line = Parse(lines_[i]);
        if (line.kind == ParsedLine::Section)
            break; // only the first section of a name is read
        if (line.kind == ParsedLine::Key && SameName(line.name, wantKey))
            return CleanValue(line.value);
    }
    return CleanDefault(def);
}

namespace {

// A name in the file's own encoding, as the classic buffer held it.
QByteArray NameBytes(const QString& s, bool utf8) { return utf8 ? s.toUtf8() : EncodeText(s); }

// The front of a name's bytes as text; a UTF-8 character the cut went through is left out.
QString CutName(QByteArray bytes, bool utf8)
{
    if (!utf8)
        return DecodeWindows1250(bytes);
    qsizetype lead = bytes.size() - 1;
    while (lead > 0 && (static_cast<unsigned char>(bytes[lead]) & 0xC0) == 0x80)
        --lead; // continuation bytes back to the character's first byte
    if (lead >= 0) {
        const auto b = static_cast<unsigned char>(bytes[lead]);
        const int length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        if (lead + length > bytes.size())
            bytes.truncate(lead);
    }
    return QString::fromUtf8(bytes);
}

// Fills a list as the classic NUL-separated buffer does: every entry costs its bytes plus a NUL,
// and one NUL ends the list. When the buffer is too small for all of them, it holds as much as
// fits before two closing NULs: the entry that did not fit whole comes cut, and nothing after it.
class ListBuffer {
public:
    explicit ListBuffer(bool utf8) : utf8_(utf8) {}
    // False once the buffer is full.
    bool Add(const QString& entry)
    {
        const QByteArray bytes = NameBytes(entry, utf8_);
        if (used_ + bytes.size() + 2 <= kProfileListBuffer) {
            used_ += bytes.size() + 1;
            list_.append(entry);
            return true;
        }
        const qsizetype room = kProfileListBuffer - 2 - used_;
        if (room > 0)
            list_.append(CutName(bytes.left(room), utf8_));
        used_ = kProfileListBuffer;
        return false;
    }
    QStringList Take() { return std::move(list_); }

private:
    bool utf8_;
    qsizetype used_ = 0;
    QStringList list_;
};

} // namespace

QStringList TProfileFile::SectionNames() const
{
    ListBuffer buffer(utf8_);
    for (const QString& raw : lines_) {
        const ParsedLine line = Parse(raw);
        if (line.kind == ParsedLine::Section && !buffer.Add(line.name.toString()))
            break;
    }
    return buffer.Take();
}

QStringList TProfileFile::SectionKeys(const QString& section) const
{
    ListBuffer buffer(utf8_);
    const qsizetype body = SectionBody(Trim(section));
    for (qsizetype i = body < 0 ? lines_.size() : body; i < lines_.size(); ++i) {
        const ParsedLine line = Parse(lines_[i]);
        if (line.kind == ParsedLine::Section)
            break;
        if (line.kind == ParsedLine::Key && !buffer.Add(line.name.toString()))
            break;
    }
    return buffer.Take();
}

QStringList TProfileFile::SectionLines(const QString& section) const
{
    // Reading each listed key by name, as ReadString would: the first line of a name wins. The
    // first values are gathered in one pass so that a long section is not scanned once per key.
    QHash<QString, QString> firstValue;
    const qsizetype body = SectionBody(Trim(section));
    for (qsizetype i = body < 0 ? lines_.size() : body; i < lines_.size(); ++i) {
        const ParsedLine line = Parse(lines_[i]);
        if (line.kind == ParsedLine::Section)
            break;
        if (line.kind == ParsedLine::Key) {
            const QString folded = line.name.toString().toCaseFolded();
            if (!firstValue.contains(folded))
                firstValue.insert(folded, CleanValue(line.value));
        }
    }
    QStringList lines;
    for (const QString& key : SectionKeys(section))
        lines.append(key + u'=' + firstValue.value(key.toCaseFolded()));
    return lines;
}

bool TProfileFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    sectionsIndexed_ = false;
    const QString sec = OneLine(Trim(section).toString());
    const QString name = OneLine(Trim(key).toString());
    if (name.isEmpty())
        return false; // "=value" would not read back as a key
    const QString text = OneLine(value);
    const QString entry = name + u'=' + text;
    const QString eol = crlf_ ? QStringLiteral("\r") : QString();
    if (lines_.isEmpty())
        lines_.append(QString());

    // Inserts a whole line before index pos; at the very end, the last line first gets its line
    // end.
    auto insertLine = [&](qsizetype pos, const QString& text) {
        if (pos >= lines_.size()) {
            if (!lines_.last().isEmpty()) {
                lines_.last() += eol;
                lines_.append(QString());
            }
            pos = lines_.size() - 1;
        }
        lines_.insert(pos, text + eol);
    };

    qsizetype header = -1;
    qsizetype lastFilled = -1; // last non-blank line of the section
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        const ParsedLine line = Parse(lines_[i]);
        if (line.kind == ParsedLine::Section) {
            if (header >= 0)
                break;
            if (SameName(line.name, sec))
                header = lastFilled = i;
            continue;
        }
        if (header < 0)
            continue;
        if (line.kind == ParsedLine::Key && SameName(line.name, name)) {
            // A file edited by hand keeps its look: the same value leaves the line alone, and a
            // new one keeps the file's spelling of the name.
            if (Trim(line.value) == text)
                return false;
            const bool hadCr = lines_[i].endsWith(u'\r');
            lines_[i] =
                line.name.toString() + u'=' + text + (hadCr ? QStringLiteral("\r") : QString());
            return true;
        }
        if (!IsBlankLine(lines_[i]))
            lastFilled = i;
    }

    if (header >= 0) {
        insertLine(lastFilled + 1, entry);
        return true;
    }
    // New section at the end of the file; when the file ends in a line without its line end,
    // that line gets one first.
    insertLine(lines_.size(), u'[' + sec + u']');
    insertLine(lines_.size(), entry);
    return true;
}

QString GetPrivateProfileString(const QString& section, const QString& key, const QString& def,
                                const QString& path, qint64 maxBytes)
{
    // A language switch reads some hundred keys of one file in a row, each through this call. The
    // file is read every time, so an edit in between is seen, but decoding and splitting it are
    // done again only when its bytes changed.
    thread_local QString lastPath;
    thread_local QByteArray lastBytes;
    thread_local std::unique_ptr<TProfileFile> last;
    const TFileRead read = ReadFileWithLimit(path, maxBytes);
    const QByteArray& bytes = read.bytes;
    if (!read.Ok()) {
        // Missing, unreadable or too large: the default comes back, as from an empty file.
        last.reset();
        return TProfileFile(path).ReadString(section, key, def);
    }
    if (!last || lastPath != path || lastBytes != bytes) {
        last = std::make_unique<TProfileFile>(path);
        last->ParseBytes(bytes);
        lastPath = path;
        lastBytes = bytes;
    }
    return last->ReadString(section, key, def);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& path, QString* error)
{
    TProfileFile file(path);
    bool ok = file.Load();
    // A value the key already holds leaves the file untouched.
    if (ok && file.WriteString(section, key, value))
        ok = file.Save();
    if (error)
        *error = ok ? QString() : file.Error();
    return ok;
}
