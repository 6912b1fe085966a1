// korvalinex-cli ports: the serial ports that can be opened, from a device folder of our own that
// links to real pseudo-terminals, and the FTDI adapters attached, from the simulated adapters.

#include "tests/cli/clifixture.h"
#include "tests/support/ptyfixture.h"
#include "tools/cli/ports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace {

struct Ports : ::testing::Test, TCliFixture {
    QTemporaryDir dev, sys;
    std::vector<std::unique_ptr<linktest::PtyPair>> ptys;

    QString Add(const QString& name)
    {
        ptys.push_back(std::make_unique<linktest::PtyPair>());
        const QString path = dev.filePath(name);
        EXPECT_TRUE(QFile::link(ptys.back()->Path(), path));
        return path;
    }
    TPortReport List() const { return ListPorts({dev.path(), sys.path()}); }
};

TEST_F(Ports, OpenableSerialPortsAndAttachedAdaptersAsTextAndJson)
{
    const QString s2 = Add("ttyS2"), usb0 = Add("ttyUSB0"), s10 = Add("ttyS10");
    Add("console"); // not a serial device name
    WriteBytes(dev.filePath("ttyS3"), "a plain file, not a terminal");
    adapters.AddAdapter("KX000002", "Second adapter", nullptr);
    const int gone = adapters.AddAdapter("KX000003", "Unplugged adapter", nullptr);
    adapters.Unplug(gone);

    const TPortReport report = List();
    EXPECT_EQ(PortsText(report),
              QStringList({"serial " + s2, "serial " + s10, "serial " + usb0,
                           "usb KX000001 Simulated FT232R", "usb KX000002 Second adapter"})
                  .join('\n'));

    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(PortsJson(report).toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << PortsJson(report).toStdString();
    EXPECT_EQ(o["serial"].toArray(), QJsonArray({s2, s10, usb0}));
    const QJsonArray usb = o["usb"].toArray();
    ASSERT_EQ(usb.size(), 2);
    EXPECT_EQ(usb[0].toObject()["serialNumber"].toString(), "KX000001");
    EXPECT_EQ(usb[1].toObject()["description"].toString(), "Second adapter");

    // Nothing plugged in: no lines, and empty lists.
    adapters.Unplug(0);
    adapters.Unplug(1);
    for (const QString& path : {s2, usb0, s10})
        QFile::remove(path);
    EXPECT_EQ(PortsText(List()), "");
    EXPECT_EQ(QJsonDocument::fromJson(PortsJson(List()).toUtf8()).object(),
              QJsonObject({{"serial", QJsonArray()}, {"usb", QJsonArray()}}));
}

} // namespace
