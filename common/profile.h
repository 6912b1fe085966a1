#pragma once
// Profile (ini) files: setup.ini, model definition files and language files are all read through
// this layer, with the rules of the classic profile-string functions:
//  - section and key names match regardless of case;
//  - blanks around names and values are trimmed, and one matching pair of quotes ('…' or "…")
//    around a value is removed;
//  - a missing file, section or key yields the default (without its trailing blanks, cut like a
//    value); a key present with an empty value yields the empty text;
//  - a value is cut at 2047 characters;
//  - name lists (section names, the key names of one section) pass through a 16384-byte buffer of
//    NUL-separated names: when they do not all fit, the buffer holds as much as fits before two
//    closing NULs, the last name cut there, and the rest is not seen;
//  - a section is walked as its key list and then each key read by name, so a key that appears
//    twice is listed twice and reads its first value both times;
//  - CR LF and LF line ends are both read; a file is read as UTF-8 when it is valid UTF-8, else as
//    Windows-1250;
//  - writing one key replaces only that key's line, creating the file or the section when missing;
//    every other line stays as it was. An existing key keeps the file's spelling of its name, and
//    writing the value a key already has changes nothing. The file is written through the atomic
//    writer, in Windows-1250 when every character fits, else in UTF-8.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

constexpr int kProfileValueMax = 2047;    // characters of one value
constexpr int kProfileListBuffer = 16384; // bytes of a name list, NULs and final NUL included
// setup.ini, model definition files and language files are a few KiB: a file over this is refused
// before it is read, as one that cannot be read.
constexpr qint64 kProfileFileMaxBytes = 16 * 1024 * 1024;

// One profile file, loaded once and then read or changed in memory. Load and Save each open the
// file once, so a group of reads or writes costs one file access.
class TProfileFile {
public:
    // A file over maxBytes does not load (Error() says so).
    explicit TProfileFile(QString path, qint64 maxBytes = kProfileFileMaxBytes);

    const QString& Path() const { return path_; }
    // Reads the file; a missing file loads as empty and is not an error. False when the file exists
    // but cannot be read (error() says why).
    bool Load();
    // Replaces the file atomically with the current lines. False on failure (error() says why).
    bool Save();
    QString Error() const { return error_; }

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // The section names in file order (through the 16384-byte buffer).
    QStringList SectionNames() const;
    // The key names of one section in file order (through the 16384-byte buffer); a duplicated
    // key is listed each time it appears.
    QStringList SectionKeys(const QString& section) const;
    // The walk of one section: each listed key as "key=value", the value read by the key's name
    // (so a duplicated key gives its first value again).
    QStringList SectionLines(const QString& section) const;
    // Changes one key in memory; Save writes it. False when nothing changed (the key already held
    // the value).
    bool WriteString(const QString& section, const QString& key, const QString& value);

private:
    friend QString GetPrivateProfileString(const QString&, const QString&, const QString&,
                                           const QString&, qint64);
    // Takes the file's bytes as its lines.
    void ParseBytes(const QByteArray& bytes);
    // The index of the first line after the first header of that section, or -1. Each lookup
    // starts there instead of walking the file from its top, so reading every section of a large
    // model file stays linear in its size.
    qsizetype SectionBody(QStringView section) const;

    QString path_;
    qint64 maxBytes_;
    QStringList lines_; // the file split at LF; a line keeps its CR, so mixed line ends survive
    mutable QHash<QString, qsizetype> sectionBodies_; // case-folded name -> SectionBody
    mutable bool sectionsIndexed_ = false;            // cleared whenever lines_ changes
    bool crlf_ = true;                                // line end used when writing
    QString error_;
    bool utf8_ = false;       // the file was UTF-8 (with non-ASCII text) and is rewritten as UTF-8
    bool bom_ = false;        // ... and it began with a byte order mark, which it keeps
    bool loadFailed_ = false; // the file could not be read: Save must not replace it
};

// One-call forms: each opens the file once. A file over maxBytes reads as a missing one.
QString GetPrivateProfileString(const QString& section, const QString& key, const QString& def,
                                const QString& path, qint64 maxBytes = kProfileFileMaxBytes);
// False when the file cannot be written; *error (when given) says why.
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& path, QString* error = nullptr);
