#pragma once
// The serial ports that the settings dialog offers: every serial device that can be opened right
// now, by its path. A port that another program holds is left out, as is a legacy ttyS name with no
// UART behind it.

#include <QString>
#include <QStringList>

struct TPortListDirs {
    QString dev = QStringLiteral("/dev");              // where the device nodes are
    QString sysTty = QStringLiteral("/sys/class/tty"); // the kernel's view of them (port types)
};

// True for the names that serial devices get: ttyS2, ttyUSB0, ttyACM1, ttyAMA0, rfcomm0, ...
bool IsSerialDeviceName(const QString& name);

// "ttyS2" before "ttyS10": runs of digits compare by their value, the rest as text.
bool NaturalLess(const QString& a, const QString& b);

// Opens the device for reading and writing as the serial component would, and closes it again at
// once. False when it cannot be opened, is not a terminal, has no UART behind it, or is held by
// another program (exclusive mode or the lock).
bool PortExists(const QString& path);

// The serial devices under dirs.dev that PortExists accepts, as paths, in natural order.
QStringList ListSerialPorts(const TPortListDirs& dirs = {});

// The dialog's list: the ports found, then the port that the serial component holds open (which
// cannot be opened a second time, so the probe never finds it), listed once.
QStringList BuildPortList(const TPortListDirs& dirs, bool comActive, const QString& openPortName);
