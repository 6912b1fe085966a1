// korvalinex-cli as a program, against the regsim program on a pseudo-terminal: what a workshop
// script sees, exit statuses included. Every wait has a deadline; none is a sleep.

#include "tests/cli/clifixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

constexpr int kPatienceMs = 30'000;

struct Program : ::testing::Test {
    TProgramDir dir;
    QProcess regsim;
    QString link;

    void SetUp() override
    {
        dir.Write("Regulators/CZ/KVX-40 OPTO.ini",
                  SourceFile("data/Regulators/CZ/KVX-40 OPTO.ini"));
        dir.Write("Teplota1.txt", SourceFile("data/Teplota1.txt"));
        dir.Write("Teplota2.txt", SourceFile("data/Teplota2.txt"));
        QDir().mkpath(dir.File("Data"));
        link = dir.File("ttyREG");
    }
    void TearDown() override
    {
        regsim.terminate();
        regsim.waitForFinished(kPatienceMs);
    }
    void StartRegulator(QStringList faults = {})
    {
        regsim.start(KX_REGSIM_PROGRAM, QStringList{"--link", link} + faults);
        ASSERT_TRUE(regsim.waitForReadyRead(kPatienceMs)) << "regsim gave no slave path";
    }
    struct Result {
        int status = -1;
        QString out, err;
    };
    Result Cli(const QStringList& args)
    {
        QProcess p;
        p.start(KX_CLI_PROGRAM, args);
        Result r;
        if (!p.waitForFinished(kPatienceMs)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.status = p.exitCode();
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    QStringList On(QStringList args) { return args << "--port" << link << "--data" << dir.Path(); }
};

TEST_F(Program, ReadAsJsonOverThePseudoTerminal)
{
    StartRegulator();
    const Result r = Cli(On({"read", "--json"}));
    ASSERT_EQ(r.status, kExitOk) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(o["name"].toString(), "KVX-40 OPTO");
    EXPECT_EQ(o["throttleMaxUs"].toInt(), 2000);
}

TEST_F(Program, AWriteTheRegulatorIgnoresFailsTheCheck)
{
    StartRegulator({"--ignore-writes"});
    const QString zeq = dir.File("master.zeq");
    ASSERT_EQ(Cli(On({"read", "-o", zeq})).status, kExitOk);
    const Result r = Cli(On({"write", zeq, "--throttle-max", "2.20"}));
    EXPECT_EQ(r.status, kExitCheckFailed) << r.err.toStdString();
    EXPECT_EQ(QDir(dir.File("Data/KVX-40 OPTO/Backup")).entryList({"*.txt"}).size(), 1);
}

TEST_F(Program, SilenceUsageAndHelp)
{
    StartRegulator({"--silent"});
    EXPECT_EQ(Cli(On({"identify", "--timeout", "1"})).status, kExitNoRegulator);
    EXPECT_EQ(Cli({"identify", "--port", dir.File("nothing-here")}).status, kExitLinkError);
    EXPECT_EQ(Cli({"frobnicate"}).status, kExitUsage);
    const Result help = Cli({"restore", "--help"});
    EXPECT_EQ(help.status, kExitOk);
    EXPECT_TRUE(help.out.contains("restore BACKUP")) << help.out.toStdString();
}

} // namespace
