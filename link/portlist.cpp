#include "link/portlist.h"

#include "link/portname.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The type a UART driver reports for a port it knows of but found no chip for.
constexpr int kPortUnknown = 0; // PORT_UNKNOWN

// A legacy port whose type the kernel reports as unknown has no UART behind it. Reading sysfs
// spares opening each of the dozens of ttyS nodes a PC has.
bool SysfsSaysNoUart(const QString& sysTty, const QString& name)
{
    QFile f(sysTty + QLatin1Char('/') + name + QStringLiteral("/type"));
    if (!f.open(QIODevice::ReadOnly))
        return false; // no such attribute: the open decides
    bool ok = false;
    const int type = f.readAll().trimmed().toInt(&ok);
    return ok && type == kPortUnknown;
}

} // namespace

bool IsSerialDeviceName(const QString& name)
{
    static const QRegularExpression re(
        QStringLiteral("^(ttyS|ttyUSB|ttyACM|ttyAMA|ttyXRUSB|ttyMXUSB|ttymxc|ttySAC|ttyO|ttyTHS|"
                       "ttyHS|ttyMSM|ttyPS|ttySC|ttyLP|ttyMFD|rfcomm)[0-9]+$"));
    return re.match(name).hasMatch();
}

bool NaturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ie = i, je = j;
            while (ie < a.size() && a[ie].isDigit())
                ++ie;
            while (je < b.size() && b[je].isDigit())
                ++je;
            // Compared as digit strings without leading zeros, so that no length overflows.
            QStringView na = QStringView(a).mid(i, ie - i), nb = QStringView(b).mid(j, je - j);
            while (na.size() > 1 && na.front() == u'0')
                na = na.mid(1);
            while (nb.size() > 1 && nb.front() == u'0')
                nb = nb.mid(1);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (const int c = na.compare(nb); c != 0)
                return c < 0;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j))
        return (a.size() - i) < (b.size() - j);
    return a < b; // equal by value ("ttyS02" and "ttyS2"): still a strict, stable order
}

TPortProbe ProbePort(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || native.contains('\0'))
        return TPortProbe::Missing;
    // Non-blocking: a port whose carrier is down must not hold up the list.
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case EACCES:
        case EPERM:
            return TPortProbe::NoPermission;
        case ENOENT:
        case ENOTDIR:
        case ENXIO:
        case ENODEV:
            return TPortProbe::Missing;
        case EBUSY:
            return TPortProbe::Busy; // in exclusive use
        default:
            return TPortProbe::Refused; // a locked terminal (EIO), ...
        }
    }
    TPortProbe result = isatty(fd) == 1 ? TPortProbe::Opens : TPortProbe::Missing;
#ifdef TIOCGEXCL
    // The superuser gets past another program's exclusive mode; it still is that program's port.
    int exclusive = 0;
    if (result == TPortProbe::Opens && ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
        result = TPortProbe::Busy;
#endif
    serial_struct info{};
    if (result == TPortProbe::Opens && ioctl(fd, TIOCGSERIAL, &info) == 0 &&
        info.type == kPortUnknown)
        result = TPortProbe::Missing;
    // The serial component locks the ports it opens; so do other careful programs.
    if (result == TPortProbe::Opens && flock(fd, LOCK_EX | LOCK_NB) != 0)
        result = TPortProbe::Busy;
    ::close(fd); // releases the lock
    return result;
}

bool PortExists(const QString& path) { return ProbePort(path) == TPortProbe::Opens; }

QStringList TPortList::Paths() const
{
    QStringList paths;
    for (const TPortEntry& e : ports)
        paths.append(e.path);
    return paths;
}

namespace {

// The serial devices under dirs.dev in natural order, each with what the probe found.
QList<TPortStatus> ProbeSerialDevices(const TPortListDirs& dirs)
{
    QStringList names;
    const QDir dev(dirs.dev);
    for (const QString& name : dev.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (!IsSerialDeviceName(name))
            continue;
        struct stat st {};
        if (::stat(QFile::encodeName(dev.filePath(name)).constData(), &st) != 0 ||
            !S_ISCHR(st.st_mode))
            continue;
        if (!SysfsSaysNoUart(dirs.sysTty, name))
            names.append(name);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    QList<TPortStatus> ports;
    for (const QString& name : names)
        ports.append({dev.filePath(name), {}, ProbePort(dev.filePath(name))});
    return ports;
}

// The serial devices under dirs.dev that open, in natural order; those the user may not open are
// counted in *denied.
QStringList ScanSerialDevices(const TPortListDirs& dirs, int* denied)
{
    QStringList paths;
    for (const TPortStatus& p : ProbeSerialDevices(dirs)) {
        if (p.probe == TPortProbe::Opens)
            paths.append(p.path);
        else if (p.probe == TPortProbe::NoPermission)
            ++*denied;
    }
    return paths;
}

// The stable names, each with the device it leads to and what the probe found.
QList<TPortStatus> ProbeStableNames(const QString& byId)
{
    QList<TPortStatus> entries;
    if (byId.isEmpty())
        return entries;
    const QDir dir(byId);
    QStringList names = dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const QString& name : names) {
        const QString path = dir.filePath(name);
        const QString target = QFileInfo(path).canonicalFilePath();
        if (!target.isEmpty())
            entries.append({path, target, ProbePort(path)});
    }
    return entries;
}

// The stable names that lead to a port that opens, each with the device it leads to.
QList<TPortEntry> StableNames(const QString& byId)
{
    QList<TPortEntry> entries;
    for (const TPortStatus& p : ProbeStableNames(byId))
        if (p.probe == TPortProbe::Opens)
            entries.append({p.path, p.target});
    return entries;
}

bool SamePort(const QString& a, const QString& b)
{
    if (a == b)
        return true;
    const QString pa = DevicePathForPortName(a);
    return !pa.isEmpty() && pa == DevicePathForPortName(b);
}

} // namespace

QStringList ListSerialPorts(const TPortListDirs& dirs)
{
    int denied = 0;
    return ScanSerialDevices(dirs, &denied);
}

QList<TPortStatus> SurveySerialPorts(const TPortListDirs& dirs)
{
    QList<TPortStatus> ports = ProbeSerialDevices(dirs) + ProbeStableNames(dirs.byId);
    ports.removeIf([](const TPortStatus& p) { return p.probe == TPortProbe::Missing; });
    return ports;
}

TPortList BuildPortList(const TPortListDirs& dirs, bool comActive, const QString& configuredPort)
{
    TPortList list;
    for (const QString& path : ScanSerialDevices(dirs, &list.denied))
        list.ports.append({path, {}});
    list.ports += StableNames(dirs.byId);
    if (configuredPort.isEmpty())
        return list;
    // The configured port may be named as a path or as "COMn"; either way it is one device.
    const auto configured = [&](const TPortEntry& e) { return SamePort(e.path, configuredPort); };
    if (!comActive && (std::any_of(list.ports.begin(), list.ports.end(), configured) ||
                       !PortExists(DevicePathForPortName(configuredPort))))
        return list;
    list.ports.removeIf(configured);
    // A stable name keeps showing what it leads to, also while it is open.
    const bool stable = !dirs.byId.isEmpty() &&
                        QFileInfo(configuredPort).absolutePath() == QDir(dirs.byId).absolutePath();
    list.ports.append(
        {configuredPort, stable ? QFileInfo(configuredPort).canonicalFilePath() : QString()});
    return list;
}
