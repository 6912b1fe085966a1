#pragma once
// Port names as the settings hold them, mapped onto device paths.

#include <QString>

// "/dev/ttyUSB0" is the device path itself; "COM1".."COM256" stand for /dev/ttyS0../dev/ttyS255,
// so settings written on another system still mean something. Either may follow the "\\.\"
// device prefix. Anything else gives an empty path, which opens nothing.
QString DevicePathForPortName(const QString& portName);
