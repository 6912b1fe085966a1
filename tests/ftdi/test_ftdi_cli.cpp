// korvalinex-cli as a program over "USB": the real libftdi1 with the emulated FT232R in place of
// libusb-1.0, and the simulator on the adapter's serial side. Real processes and real time: the
// limits only bound a failure.

#include "tests/support/process.h"
#include "tests/support/programdir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

struct CliOverEmulatedUsb : ::testing::Test {
    TProgramDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    using Result = TRunResult;

    void SetUp() override
    {
        dir.WriteDemoFiles();
        env.insert("LD_LIBRARY_PATH", KX_FTDIEMU_DIR);
        env.insert("KXEMU_ADAPTERS", "2");
        env.insert("KXEMU_SERIAL", "KXW00042");
        env.insert("KXEMU_DESCRIPTION", "Workshop cable");
    }
    Result Cli(const QStringList& args) const
    {
        return RunProgram(QStringLiteral(KX_CLI_PROGRAM), args, env);
    }
};

TEST_F(CliOverEmulatedUsb, PortsListsTheAdaptersWithSerialNumberAndDescription)
{
    const Result json = Cli({"ports", "--json"});
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    const QJsonArray usb = QJsonDocument::fromJson(json.out.toUtf8()).object()["usb"].toArray();
    ASSERT_EQ(usb.size(), 2) << json.out.toStdString();
    EXPECT_EQ(usb[0].toObject()["serialNumber"].toString(), "KXW00042");
    EXPECT_EQ(usb[0].toObject()["description"].toString(), "Workshop cable");
    EXPECT_EQ(usb[1].toObject()["serialNumber"].toString(), "KX100002");

    const Result text = Cli({"ports"});
    EXPECT_TRUE(text.out.contains("usb KXW00042 Workshop cable\nusb KX100002 FT232R USB UART\n"))
        << text.out.toStdString();
}

TEST_F(CliOverEmulatedUsb, PortsListsAnAdapterTheUserMayNotOpenWithTheReason)
{
    env.insert("KXEMU_DENY_ONLY", "1");
    const Result json = Cli({"ports", "--json"});
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    const QJsonArray usb = QJsonDocument::fromJson(json.out.toUtf8()).object()["usb"].toArray();
    ASSERT_EQ(usb.size(), 2) << json.out.toStdString();
    EXPECT_EQ(usb[0].toObject()["access"].toString(), "ok");
    EXPECT_EQ(usb[1].toObject()["access"].toString(), "denied");

    // The tool's own language here is the built-in Czech.
    const Result text = Cli({"ports"});
    EXPECT_TRUE(text.out.contains("usb KXW00042 Workshop cable\n")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(QString::fromUtf8(" (bez oprávnění)\n")))
        << text.out.toStdString();
}

TEST_F(CliOverEmulatedUsb, ReadsTheRegulatorBehindTheAdapter)
{
    const QString port = dir.File("port");
    TChildProcess sim;
    ASSERT_TRUE(sim.Launch(QStringLiteral(KX_REGSIM_PROGRAM),
                           {"--file", KX_REGSIM_DEMO_FILE, "--link", port}));
    ASSERT_FALSE(sim.FirstLine().isEmpty()) << "regsim gave no slave path";
    env.insert("KXEMU_PORT", port);
    const QString zeq = dir.File("master.zeq");
    const Result r = Cli({"read", "--usb", "--json", "-o", zeq, "--data", dir.Path()});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(o["name"].toString(), "KVX-40 OPTO");
    EXPECT_EQ(o["throttleMaxUs"].toInt(), 2000);

    // A write with its read-back check, over the adapter's worker thread.
    const Result w =
        Cli({"write", zeq, "--usb", "--throttle-max", "2.10", "--json", "--data", dir.Path()});
    ASSERT_EQ(w.status, 0) << w.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(w.out.toUtf8()).object()["throttleMaxUs"].toInt(), 2100);

    // The regulator behind the second adapter: only its serial number reaches it, and a serial
    // number no adapter has is a link error that names it.
    env.remove("KXEMU_PORT");
    env.insert("KXEMU_PORT1", port);
    const Result second =
        Cli({"identify", "--usb", "KX100002", "--timeout", "5", "--data", dir.Path()});
    EXPECT_EQ(second.status, 0) << second.err.toStdString();
    const Result unknown = Cli({"identify", "--usb", "KX999999", "--data", dir.Path()});
    sim.Stop();
    EXPECT_EQ(unknown.status, 4);
    EXPECT_TRUE(unknown.err.contains("KX999999")) << unknown.err.toStdString();

    // No adapter plugged in: a link error, said in plain words.
    env.insert("KXEMU_ADAPTERS", "0");
    const Result none = Cli({"identify", "--usb", "--data", dir.Path()});
    EXPECT_EQ(none.status, 4);
    EXPECT_FALSE(none.err.isEmpty());
}

} // namespace
