#include "diagnose/machine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// The tags and permission bits of a POSIX access list as the kernel stores it in the attribute
// system.posix_acl_access: a 4-byte version, then entries of a 2-byte tag, a 2-byte permission
// set and a 4-byte id, all little-endian.
constexpr unsigned kAclVersion = 2;
constexpr unsigned kAclUser = 0x02, kAclGroupObj = 0x04, kAclGroup = 0x08, kAclMask = 0x10,
                   kAclOther = 0x20;
constexpr unsigned kRead = 4, kWrite = 2;
constexpr int kAclHeader = 4, kAclEntry = 8;

struct TAclEntry {
    unsigned tag, perm, id;
};

unsigned Le(const QByteArray& b, int at, int bytes)
{
    unsigned v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

std::optional<QList<TAclEntry>> ParseAcl(const QByteArray& b)
{
    if (b.size() < kAclHeader || (b.size() - kAclHeader) % kAclEntry != 0 ||
        Le(b, 0, 4) != kAclVersion)
        return std::nullopt;
    QList<TAclEntry> entries;
    for (int at = kAclHeader; at < b.size(); at += kAclEntry)
        entries.append({Le(b, at, 2), Le(b, at + 2, 2), Le(b, at + 4, 4)});
    return entries;
}

bool ReadWrite(unsigned perm) { return (perm & (kRead | kWrite)) == (kRead | kWrite); }

} // namespace

TUserIdentity TUserIdentity::Current()
{
    TUserIdentity u;
    u.uid = ::getuid();
    u.pid = ::getpid();
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(std::max(n, 0)));
    if (n > 0 && ::getgroups(n, groups.data()) == n)
        for (gid_t g : groups)
            u.gids.append(g);
    if (!u.gids.contains(unsigned(::getegid())))
        u.gids.prepend(unsigned(::getegid()));
    if (const passwd* pw = ::getpwuid(u.uid))
        u.name = QString::fromLocal8Bit(pw->pw_name);
    return u;
}

TMachine::TMachine(QString root, TUserIdentity user) : user_(std::move(user))
{
    root_ = QDir::cleanPath(root);
    if (root_ == QLatin1String("/"))
        root_.clear();
}

QString TMachine::Host(const QString& path) const { return root_ + path; }

TFileStat TMachine::Stat(const QString& path) const
{
    TFileStat r;
    struct stat st {};
    if (::stat(QFile::encodeName(Host(path)).constData(), &st) != 0)
        return r;
    r.exists = true;
    r.charDevice = S_ISCHR(st.st_mode);
    r.directory = S_ISDIR(st.st_mode);
    r.mode = st.st_mode & 07777;
    r.uid = st.st_uid;
    r.gid = st.st_gid;
    r.mtime = st.st_mtim.tv_sec;
    r.ctime = st.st_ctim.tv_sec;
    return r;
}

std::optional<QByteArray> TMachine::Read(const QString& path, qint64 limit) const
{
    // Files of /proc and /sys say they are empty: they are read up to the limit, not by their
    // size.
    QFile f(Host(path));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    QByteArray bytes;
    while (bytes.size() < limit) {
        const QByteArray part = f.read(std::min<qint64>(limit - bytes.size(), 64 * 1024));
        if (part.isEmpty())
            break;
        bytes += part;
    }
    return bytes;
}

QStringList TMachine::List(const QString& folder) const
{
    QStringList names =
        QDir(Host(folder))
            .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QString TMachine::LinkText(const QString& path) const
{
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(Host(path)).constData(), buffer, sizeof buffer);
    return n > 0 ? QFile::decodeName(QByteArray(buffer, int(n))) : QString();
}

QString TMachine::Resolve(const QString& path) const
{
    // Link by link, so that a link inside the root that leads out of it (a test's device folder
    // whose names lead to real pseudo-terminals) ends at the name inside: that name is the device
    // as far as this machine goes.
    constexpr int kMostLinks = 40; // as the kernel allows
    QStringList queue = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString resolved;
    int links = 0;
    while (!queue.isEmpty()) {
        const QString part = queue.takeFirst();
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            resolved =
                resolved.left(std::max<qsizetype>(0, resolved.lastIndexOf(QLatin1Char('/'))));
            continue;
        }
        const QString candidate = resolved + QLatin1Char('/') + part;
        const QString text = LinkText(candidate);
        if (text.isEmpty()) {
            resolved = candidate;
            continue;
        }
        if (++links > kMostLinks)
            return {};
        if (text.startsWith(QLatin1Char('/'))) {
            if (!root_.isEmpty() && !QFileInfo::exists(Host(text))) {
                resolved = candidate;
                continue;
            }
            resolved.clear();
        }
        queue = text.split(QLatin1Char('/'), Qt::SkipEmptyParts) + queue;
    }
    if (resolved.isEmpty())
        resolved = QStringLiteral("/");
    return QFileInfo::exists(Host(resolved)) ? resolved : QString();
}

std::optional<QByteArray> TMachine::Attribute(const QString& path, const char* name) const
{
    const QByteArray host = QFile::encodeName(Host(path));
    char buffer[1024];
    const ssize_t n = ::getxattr(host.constData(), name, buffer, sizeof buffer);
    if (n <= 0)
        return std::nullopt;
    return QByteArray(buffer, int(n));
}

QList<TProcessInfo> TMachine::Processes() const
{
    QList<TProcessInfo> list;
    for (const QString& entry : List(QStringLiteral("/proc"))) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        const QString dir = QStringLiteral("/proc/") + entry;
        const std::optional<QByteArray> comm = Read(dir + QStringLiteral("/comm"), 256);
        if (!comm)
            continue; // ended meanwhile
        TProcessInfo p;
        p.pid = pid;
        p.name = QString::fromLocal8Bit(comm->trimmed());
        const QString fdDir = dir + QStringLiteral("/fd");
        DIR* d = ::opendir(QFile::encodeName(Host(fdDir)).constData());
        if (!d) {
            p.fdsSeen = errno != EACCES && errno != EPERM;
            list.append(p);
            continue;
        }
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            const QString target =
                LinkText(fdDir + QLatin1Char('/') + QString::fromLatin1(e->d_name));
            if (!target.isEmpty())
                p.fds.append(target);
        }
        ::closedir(d);
        list.append(p);
    }
    return list;
}

QList<QStringList> TMachine::Records(const char* file) const
{
    QList<QStringList> records;
    const std::optional<QByteArray> bytes = Read(QString::fromLatin1(file));
    if (!bytes)
        return records;
    for (const QByteArray& line : bytes->split('\n')) {
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        records.append(QString::fromLocal8Bit(line.trimmed()).split(QLatin1Char(':')));
    }
    return records;
}

std::optional<QString> TMachine::GroupName(unsigned gid) const
{
    for (const QStringList& r : Records("/etc/group"))
        if (r.size() >= 3 && r[2] == QString::number(gid))
            return r[0];
    return std::nullopt;
}

std::optional<unsigned> TMachine::GroupId(const QString& name) const
{
    for (const QStringList& r : Records("/etc/group"))
        if (r.size() >= 3 && r[0] == name)
            return r[2].toUInt();
    return std::nullopt;
}

bool TMachine::InGroupInDatabase(const QString& user, unsigned gid) const
{
    for (const QStringList& r : Records("/etc/passwd"))
        if (r.size() >= 4 && r[0] == user && r[3] == QString::number(gid))
            return true;
    for (const QStringList& r : Records("/etc/group"))
        if (r.size() >= 4 && r[2] == QString::number(gid) &&
            r[3].split(QLatin1Char(','), Qt::SkipEmptyParts).contains(user))
            return true;
    return false;
}

QString TMachine::UserName(unsigned uid) const
{
    for (const QStringList& r : Records("/etc/passwd"))
        if (r.size() >= 3 && r[2] == QString::number(uid))
            return r[0];
    return QString::number(uid);
}

TAccessRight ReadWriteRight(const TFileStat& st, const std::optional<QByteArray>& accessList,
                            const TUserIdentity& user)
{
    if (user.uid == 0)
        return TAccessRight::Root;
    // The owner's bits decide for the owner, whatever the others may do.
    if (user.uid == st.uid)
        return ReadWrite(st.mode >> 6) ? TAccessRight::Owner : TAccessRight::None;
    const std::optional<QList<TAclEntry>> acl =
        accessList ? ParseAcl(*accessList) : std::optional<QList<TAclEntry>>();
    if (acl) {
        unsigned mask = kRead | kWrite;
        for (const TAclEntry& e : *acl)
            if (e.tag == kAclMask)
                mask = e.perm;
        for (const TAclEntry& e : *acl)
            if (e.tag == kAclUser && e.id == user.uid)
                return ReadWrite(e.perm & mask) ? TAccessRight::AccessList : TAccessRight::None;
        bool groupMatched = false;
        for (const TAclEntry& e : *acl) {
            const bool mine = (e.tag == kAclGroupObj && user.gids.contains(st.gid)) ||
                              (e.tag == kAclGroup && user.gids.contains(e.id));
            if (!mine)
                continue;
            groupMatched = true;
            if (ReadWrite(e.perm & mask))
                return e.tag == kAclGroupObj ? TAccessRight::Group : TAccessRight::AccessList;
        }
        if (groupMatched)
            return TAccessRight::None;
        for (const TAclEntry& e : *acl)
            if (e.tag == kAclOther)
                return ReadWrite(e.perm) ? TAccessRight::Other : TAccessRight::None;
        return TAccessRight::None;
    }
    if (user.gids.contains(st.gid))
        return ReadWrite(st.mode >> 3) ? TAccessRight::Group : TAccessRight::None;
    return ReadWrite(st.mode) ? TAccessRight::Other : TAccessRight::None;
}

QString ModeText(const TFileStat& st)
{
    QString text(10, QLatin1Char('-'));
    if (st.charDevice)
        text[0] = QLatin1Char('c');
    else if (st.directory)
        text[0] = QLatin1Char('d');
    const char letters[] = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (st.mode & (0400u >> i))
            text[i + 1] = QLatin1Char(letters[i]);
    return text;
}
