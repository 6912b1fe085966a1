#pragma once
// A machine of a test's own for the connection check: a temporary folder with /dev, /proc, /sys and
// /etc as the check reads them. Serial devices are names that lead to real pseudo-terminals (a
// test cannot make device nodes), whose modes the test may change because it owns them; their
// owner and group are the test's own, and /etc/group names those groups as the row needs.

#include "diagnose/machine.h"
#include "tests/support/ptyfixture.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

class TFakeMachine {
public:
    // The user the check is made for: nobody the files belong to.
    static constexpr unsigned kUid = 4242;
    static constexpr qint64 kOwnPid = 777;
    inline static const QString kUser = QStringLiteral("pilot");

    TFakeMachine() { dir_.setAutoRemove(true); }

    QString Root() const { return dir_.path(); }
    QString Host(const QString& path) const { return dir_.path() + path; }

    void Write(const QString& path, const QByteArray& bytes) const
    {
        QDir().mkpath(QFileInfo(Host(path)).path());
        QFile f(Host(path));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
    }
    void Link(const QString& path, const QString& text) const
    {
        QDir().mkpath(QFileInfo(Host(path)).path());
        ::symlink(QFile::encodeName(text).constData(), QFile::encodeName(Host(path)).constData());
    }
    void Chmod(const QString& path, unsigned mode) const
    {
        ::chmod(QFile::encodeName(Host(path)).constData(), mode);
    }

    // A serial device: a name under /dev that leads to a pseudo-terminal of its own, with mode.
    QString SerialDevice(const QString& name, unsigned mode = 0660)
    {
        ptys_.push_back(std::make_unique<linktest::PtyPair>());
        const QString path = QStringLiteral("/dev/") + name;
        Link(path, ptys_.back()->Path());
        ::chmod(QFile::encodeName(ptys_.back()->Path()).constData(), mode);
        return path;
    }
    // The group the test's files and pseudo-terminals belong to.
    static unsigned FileGroup(const QString& host)
    {
        struct stat st {};
        ::stat(QFile::encodeName(host).constData(), &st);
        return st.st_gid;
    }

    // /etc/group with one line per group; the user is listed in members.
    void Groups(const QList<std::tuple<QString, unsigned, QString>>& groups) const
    {
        QByteArray text;
        for (const auto& [name, gid, members] : groups)
            text += QStringLiteral("%1:x:%2:%3\n").arg(name).arg(gid).arg(members).toUtf8();
        Write(QStringLiteral("/etc/group"), text);
        Write(QStringLiteral("/etc/passwd"),
              QStringLiteral("root:x:0:0::/root:/bin/sh\n%1:x:%2:%2::/home/%1:/bin/sh\n")
                  .arg(kUser)
                  .arg(kUid)
                  .toUtf8());
    }

    // A process with its name and what its descriptors lead to.
    void Process(qint64 pid, const QString& name, const QStringList& fds = {}) const
    {
        const QString dir = QStringLiteral("/proc/%1").arg(pid);
        Write(dir + QStringLiteral("/comm"), name.toUtf8() + '\n');
        QDir().mkpath(Host(dir + QStringLiteral("/fd")));
        for (int i = 0; i < fds.size(); ++i)
            Link(dir + QStringLiteral("/fd/%1").arg(i + 3), fds[i]);
    }

    // A USB device in sysfs, and its node under /dev/bus/usb (a plain file with the given mode).
    QString UsbDevice(const QString& vendor, const QString& product, const QString& serial,
                      int address, unsigned nodeMode = 0664) const
    {
        const QString dir = QStringLiteral("/sys/bus/usb/devices/1-%1/").arg(address);
        Write(dir + QStringLiteral("idVendor"), vendor.toUtf8() + '\n');
        Write(dir + QStringLiteral("idProduct"), product.toUtf8() + '\n');
        Write(dir + QStringLiteral("serial"), serial.toUtf8() + '\n');
        Write(dir + QStringLiteral("product"), "Test adapter\n");
        Write(dir + QStringLiteral("busnum"), "1\n");
        Write(dir + QStringLiteral("devnum"), QByteArray::number(address) + '\n');
        const QString node =
            QStringLiteral("/dev/bus/usb/001/%1").arg(address, 3, 10, QLatin1Char('0'));
        Write(node, {});
        Chmod(node, nodeMode);
        return node;
    }
    // A ttyUSB device whose sysfs entry lies below the USB device of address.
    void TtyOnUsb(const QString& tty, int address) const
    {
        const QString usb = QStringLiteral("/sys/bus/usb/devices/1-%1").arg(address);
        QDir().mkpath(Host(usb + QStringLiteral("/1-%1:1.0/%2").arg(address).arg(tty)));
        Link(QStringLiteral("/sys/class/tty/%1/device").arg(tty),
             QStringLiteral("../../../bus/usb/devices/1-%1/1-%1:1.0").arg(address));
    }
    void SetModified(const QString& path, const QDateTime& when) const
    {
        QFile f(Host(path));
        f.open(QIODevice::ReadWrite);
        f.setFileTime(when, QFileDevice::FileModificationTime);
    }

    TMachine Machine(const QList<unsigned>& gids) const
    {
        TUserIdentity user;
        user.uid = kUid;
        user.gids = gids;
        user.name = kUser;
        user.pid = kOwnPid;
        return TMachine(Root(), user);
    }

private:
    QTemporaryDir dir_;
    std::vector<std::unique_ptr<linktest::PtyPair>> ptys_;
};
