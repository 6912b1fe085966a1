#pragma once
// The serial ports that the settings dialog offers: every serial device that can be opened right
// now, by its path. A port that another program holds is left out, as is a legacy ttyS name with no
// UART behind it.

#include <QString>
#include <QStringList>

struct TPortListDirs {
    QString dev = QStringLiteral("/dev");              // where the device nodes are
    QString sysTty = QStringLiteral("/sys/class/tty"); // the kernel's view of them (port types)
    // The names udev gives each adapter after its serial number: they stay the same whichever
    // ttyUSB number the adapter gets. Empty: no such names are offered.
    QString byId = QStringLiteral("/dev/serial/by-id");
};

// One port on offer: its path, and for a stable name the device it leads to now.
struct TPortEntry {
    QString path;
    QString target; // empty unless path is one of the stable names
    bool operator==(const TPortEntry&) const = default;
};

struct TPortList {
    QList<TPortEntry> ports;
    // Serial devices that are there but that this user may not open (not in the dialout group).
    int denied = 0;
    QStringList Paths() const;
};

// What the probe found a port to be.
enum class TPortProbe {
    Opens,
    Missing,      // no such device, not a terminal, or no UART behind it
    NoPermission, // the user may not open it
    Busy,         // another program holds it (exclusive mode or the lock)
    Refused,      // it would not open for another reason (a locked terminal, ...)
};

// A serial device or a stable name, whether it opens or not.
struct TPortStatus {
    QString path;
    QString target; // for a stable name, the device it leads to now
    TPortProbe probe = TPortProbe::Missing;
};

// True for the names that serial devices get: ttyS2, ttyUSB0, ttyACM1, ttyAMA0, rfcomm0, ...
bool IsSerialDeviceName(const QString& name);

// "ttyS2" before "ttyS10": runs of digits compare by their value, the rest as text.
bool NaturalLess(const QString& a, const QString& b);

// Opens the device for reading and writing as the serial component would, and closes it again at
// once. False when it cannot be opened, is not a terminal, has no UART behind it, or is held by
// another program (exclusive mode or the lock).
bool PortExists(const QString& path);
TPortProbe ProbePort(const QString& path);

// The serial devices under dirs.dev that PortExists accepts, as paths, in natural order.
QStringList ListSerialPorts(const TPortListDirs& dirs = {});
// Every serial device under dirs.dev, then every stable name, each with what the probe found; those
// that are no port at all (Missing) are left out.
QList<TPortStatus> SurveySerialPorts(const TPortListDirs& dirs = {});

// The dialog's list: the ports found, their stable names under dirs.byId that open, then the
// configured port, listed once: while the serial component holds it open (it cannot be opened a
// second time, so the probe never finds it), or else where the probe opens it, whatever folder it
// is in (a pseudo-terminal, a stable name).
TPortList BuildPortList(const TPortListDirs& dirs, bool comActive, const QString& configuredPort);
