#pragma once
// The machine as the connection check reads it: files, device nodes, processes and the user
// database, all below one root folder ("/" on a real machine, a folder of its own in tests), and
// the user the check is made for. Everything here reads; nothing opens a device or changes a file.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// Who the check is for: the user id, the groups this login has (not those the user database lists,
// which a login takes only when it starts), the user's name, and the process of the program that
// asks (its own holds on a device are not another program's).
struct TUserIdentity {
    unsigned uid = 0;
    QList<unsigned> gids;
    QString name;
    qint64 pid = 0;
    static TUserIdentity Current();
};

// A file as stat(2) sees it after following links; exists is false when it is not there or cannot
// be looked at.
struct TFileStat {
    bool exists = false;
    bool charDevice = false;
    bool directory = false;
    unsigned mode = 0; // permission bits only
    unsigned uid = 0, gid = 0;
    qint64 mtime = 0, ctime = 0; // seconds since the epoch
};

// A process as /proc shows it to this user.
struct TProcessInfo {
    qint64 pid = 0;
    QString name;        // /proc/PID/comm
    bool fdsSeen = true; // false: another user's process, whose open files cannot be listed
    QStringList fds;     // what its open descriptors lead to, as the kernel names them
};

class TMachine {
public:
    explicit TMachine(QString root = QStringLiteral("/"),
                      TUserIdentity user = TUserIdentity::Current());

    const TUserIdentity& User() const { return user_; }
    const QString& Root() const { return root_; }

    TFileStat Stat(const QString& path) const;
    // The file's bytes, at most limit of them; nothing when it cannot be read.
    std::optional<QByteArray> Read(const QString& path, qint64 limit = 256 * 1024) const;
    // The names in a folder, sorted; empty when it is not there or cannot be read.
    QStringList List(const QString& folder) const;
    // A link's text as it stands; empty for a file that is no link.
    QString LinkText(const QString& path) const;
    // The path with every link followed, inside the root; empty when it leads nowhere.
    QString Resolve(const QString& path) const;
    // An extended attribute (the access list of a device node); nothing without one.
    std::optional<QByteArray> Attribute(const QString& path, const char* name) const;

    // Every process in /proc, with the descriptors this user may look at.
    QList<TProcessInfo> Processes() const;

    // The user database: a group's name by its id and its id by its name, and whether a user
    // belongs to it there (as its primary group in /etc/passwd or a member in /etc/group).
    // Nothing for a group /etc/group does not hold.
    std::optional<QString> GroupName(unsigned gid) const;
    std::optional<unsigned> GroupId(const QString& name) const;
    bool InGroupInDatabase(const QString& user, unsigned gid) const;
    QString UserName(unsigned uid) const;

private:
    QString Host(const QString& path) const;
    QList<QStringList> Records(const char* file) const; // colon-separated lines

    QString root_; // without a trailing "/", empty for "/"
    TUserIdentity user_;
};

// What a user may do with a device node: read and write it, and by which right.
enum class TAccessRight { None, Root, Owner, Group, Other, AccessList };
TAccessRight ReadWriteRight(const TFileStat& st, const std::optional<QByteArray>& accessList,
                            const TUserIdentity& user);

// "crw-rw----" for a character device, "-rw-r--r--" for a file.
QString ModeText(const TFileStat& st);
