#include "link/portname.h"

#include <gtest/gtest.h>

namespace {

struct PortCase {
    const char* name;
    const char* path;
};

// Settings written on another system hold "COMn"; the program prefixes "\\.\" before opening.
const PortCase kPortCases[] = {
    {"COM1", "/dev/ttyS0"},
    {"\\\\.\\COM1", "/dev/ttyS0"},
    {"\\\\.\\COM12", "/dev/ttyS11"},
    {"com3", "/dev/ttyS2"},
    {"Com2", "/dev/ttyS1"},
    {"COM256", "/dev/ttyS255"},
    {"/dev/ttyUSB0", "/dev/ttyUSB0"},
    {"\\\\.\\/dev/ttyACM1", "/dev/ttyACM1"},
    {"/tmp/some file", "/tmp/some file"},
    // Nothing a device could be made of: these open nothing.
    {"", ""},
    {"\\\\.\\", ""},
    {"COM0", ""},
    {"COM257", ""},
    {"COM01", ""},
    {"COM", ""},
    {"COM1x", ""},
    {" COM1", ""},
    {"LPT1", ""},
    {"ttyUSB0", ""},
    {"../etc/passwd", ""},
};

TEST(PortNameTest, MapsNamesOntoDevicePaths)
{
    for (const PortCase& c : kPortCases)
        EXPECT_EQ(DevicePathForPortName(QString::fromUtf8(c.name)), QString::fromUtf8(c.path))
            << "name: " << c.name;
}

TEST(PortNameTest, EmbeddedNulOpensNothing)
{
    QString name = QStringLiteral("/dev/ttyS0");
    name.insert(5, QChar(0));
    EXPECT_TRUE(DevicePathForPortName(name).isEmpty());
}

} // namespace
