#include "common/atomicfile.h"

#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio> // renameat2
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxLinkDepth = 40; // the kernel's own limit before ELOOP
constexpr int kTempNameAttempts = 100;
constexpr int kTempBaseMax = 128; // bytes of the target's name kept in the temporary name
// Temporary names: "." + the target's name + "." + a random tag + this suffix. The suffix is ours
// alone, so the clean-up never takes a file of the user's for one of our leftovers.
constexpr char kTempSuffix[] = ".korvalinex-tmp";
constexpr int kTempTagMax = 7; // base 36 digits of a 32-bit number
// A leftover must be this old before it goes; a running write also holds a lock on its file.
constexpr time_t kStaleTempSeconds = 60 * 60;

QString SystemReason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

QByteArray DirOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    if (slash == 0)
        return "/";
    return path.left(slash);
}

// A settings file that the user replaced by a link (to keep it in a synced folder, say) must stay a
// link: follow the chain to the file it names and replace that one. A dangling link yields the path
// it points to, so the file is created there.
bool ResolveLinks(QByteArray& path, int& err)
{
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        struct stat st;
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true; // not a link (or not there): this is the file to write
        QByteArray target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.constData(), target.data(), target.size());
        if (n < 0) {
            err = errno;
            return false;
        }
        target.truncate(n);
        path = target.startsWith('/') ? target : DirOf(path) + '/' + target;
    }
    err = ELOOP;
    return false;
}

bool WriteAll(int fd, const QByteArray& content, int& err)
{
    const char* p = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// Creates the temporary file beside the target with O_EXCL, so the umask applies to a new file as
// it would to the target itself and no other file is ever opened by mistake.
int CreateTemp(const QByteArray& target, QByteArray& tempPath, int& err)
{
    const QByteArray dir = DirOf(target);
    // Cut long names so the temporary name still fits the file system's name limit.
    const QByteArray base = target.mid(target.lastIndexOf('/') + 1).left(kTempBaseMax);
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        tempPath = dir + "/." + base + '.' +
                   QByteArray::number(QRandomGenerator::global()->generate(), 36) + kTempSuffix;
        const int fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Held until the file is renamed or removed: a clean-up in another write (of this or
            // another process) leaves it alone however long the disk takes.
            ::flock(fd, LOCK_EX | LOCK_NB);
            return fd;
        }
        if (errno != EEXIST) {
            err = errno;
            return -1;
        }
    }
    err = EEXIST;
    return -1;
}

// "." + at least one byte + "." + 1..kTempTagMax base-36 digits + kTempSuffix.
bool IsOurTempName(const char* name)
{
    const QByteArray n(name);
    if (!n.startsWith('.') || !n.endsWith(kTempSuffix))
        return false;
    const QByteArray stem = n.mid(1, n.size() - 1 - qsizetype(sizeof kTempSuffix - 1));
    const qsizetype dot = stem.lastIndexOf('.');
    const QByteArray tag = stem.mid(dot + 1);
    if (dot < 1 || tag.isEmpty() || tag.size() > kTempTagMax)
        return false;
    return std::all_of(tag.begin(), tag.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); });
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes one leftover when it is a plain file of ours, old enough and locked by no running write.
// The name is looked at before it is opened, so that no device or pipe is ever opened by mistake.
// A write closes its file just before the rename, and so drops its lock: the age covers that
// moment, since the file's last change came right before it.
void RemoveIfStale(int dirFd, const char* name, time_t now)
{
    struct stat st, opened, again;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_mtime >= now - kStaleTempSeconds)
        return;
    const int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    if (::fstat(fd, &opened) == 0 && SameFile(st, opened) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(dirFd, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(st, again))
        ::unlinkat(dirFd, name, 0);
    ::close(fd);
}

// A write interrupted before its rename (a crash, a power cut) leaves its temporary file; the next
// write into the same folder takes such leftovers away.
void RemoveStaleTemps(const QByteArray& dir)
{
    const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR* d = ::fdopendir(dirFd);
    if (!d) {
        ::close(dirFd);
        return;
    }
    const time_t now = ::time(nullptr);
    while (const dirent* e = ::readdir(d))
        if (IsOurTempName(e->d_name))
            RemoveIfStale(dirFd, e->d_name, now);
    ::closedir(d);
}

} // namespace

namespace {

// Puts the finished temporary file in place under the target's name without ever replacing a file
// that has that name: the kernel refuses the rename if the name exists. File systems that cannot
// do that in one step get a hard link, which fails the same way.
bool MoveIntoFreeName(const QByteArray& temp, const QByteArray& target, int& err)
{
    if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        err = errno;
        return false;
    }
    if (::link(temp.constData(), target.constData()) != 0) {
        err = errno;
        return false;
    }
    ::unlink(temp.constData());
    return true;
}

enum class Existing { Replace, Keep };

bool WriteFile(const QString& path, const QByteArray& content, QString* error,
               FolderSync folderSync, Existing existing, bool* taken)
{
    auto fail = [error](int err) {
        if (error)
            *error = SystemReason(err);
        return false;
    };
    if (taken)
        *taken = false;
    if (path.isEmpty())
        return fail(ENOENT);

    QByteArray target = QFile::encodeName(path);
    int err = 0;
    struct stat old;
    bool exists = false;
    if (existing == Existing::Keep) {
        // Any name that is there, a dangling link included, is someone else's.
        if (::lstat(target.constData(), &old) == 0) {
            if (taken)
                *taken = true;
            return fail(EEXIST);
        }
    } else {
        if (!ResolveLinks(target, err))
            return fail(err);
        exists = ::stat(target.constData(), &old) == 0;
    }
    if (exists) {
        if (S_ISDIR(old.st_mode))
            return fail(EISDIR);
        // Renaming over a device or a pipe would swap it for a plain file.
        if (!S_ISREG(old.st_mode)) {
            if (error)
                *error = QStringLiteral("Not a regular file");
            return false;
        }
        // A file the user made read-only stays untouched, although the rename alone would pass.
        if (::access(target.constData(), W_OK) != 0)
            return fail(errno);
    }

    RemoveStaleTemps(DirOf(target));
    QByteArray temp;
    const int fd = CreateTemp(target, temp, err);
    if (fd < 0)
        return fail(err);

    bool ok = WriteAll(fd, content, err);
    if (ok && exists) {
        // The replacement keeps the old file's permissions and, where allowed, its owner.
        if (::fchmod(fd, old.st_mode & 07777) != 0) {
            err = errno;
            ok = false;
        } else if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            [[maybe_unused]] const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
        }
    }
    if (ok && ::fsync(fd) != 0) {
        err = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        err = errno;
        ok = false;
    }
    if (ok && existing == Existing::Replace &&
        ::rename(temp.constData(), target.constData()) != 0) {
        err = errno;
        ok = false;
    }
    if (ok && existing == Existing::Keep && !MoveIntoFreeName(temp, target, err)) {
        // Another writer took the name between the look above and now.
        if (taken && err == EEXIST)
            *taken = true;
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.constData());
        return fail(err);
    }

    // Make the rename itself durable; the content is already safe, so a failure here is not one.
    const int dirFd = folderSync == FolderSync::Now
                          ? ::open(DirOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                          : -1;
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    if (error)
        error->clear();
    return true;
}

} // namespace

bool WriteFileAtomically(const QString& path, const QByteArray& content, QString* error,
                         FolderSync folderSync)
{
    return WriteFile(path, content, error, folderSync, Existing::Replace, nullptr);
}

bool CreateFileAtomically(const QString& path, const QByteArray& content, bool* taken,
                          QString* error, FolderSync folderSync)
{
    return WriteFile(path, content, error, folderSync, Existing::Keep, taken);
}

bool AppendToFile(const QString& path, const QByteArray& bytes, QString* error)
{
    auto fail = [error](int err) {
        if (error)
            *error = SystemReason(err);
        return false;
    };
    if (path.isEmpty())
        return fail(ENOENT);
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return fail(err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error)
            *error = QStringLiteral("Not a regular file");
        return false;
    }
    int err = 0;
    bool ok = WriteAll(fd, bytes, err);
    if (ok && ::fdatasync(fd) != 0) {
        err = errno;
        ok = false;
    }
    if (!ok) {
        [[maybe_unused]] const int ignored = ::ftruncate(fd, st.st_size);
    }
    if (::close(fd) != 0 && ok) {
        err = errno;
        ok = false;
    }
    if (!ok)
        return fail(err);
    if (error)
        error->clear();
    return true;
}

QString DatedStem(const QDateTime& when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

std::optional<QString> CreateNumbered(const QString& stem, const TMakeNamed& make, QString* error)
{
    constexpr int kMostNumbered = 999;
    QString name = stem;
    for (int n = 2;; ++n) {
        bool taken = false;
        if (make(name, &taken, error))
            return name;
        if (!taken)
            return std::nullopt;
        if (n > kMostNumbered) {
            *error = stem;
            return std::nullopt;
        }
        name = stem + QStringLiteral("_%1").arg(n, 3, 10, QLatin1Char('0'));
    }
}
