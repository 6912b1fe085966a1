// korvalinex-cli as a program, against the regsim program on a pseudo-terminal: what a workshop
// script sees, exit statuses included. Every wait has a deadline; none is a sleep.

#include "tests/cli/clifixture.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

struct Program : ::testing::Test {
    TProgramDir dir;
    TChildProcess regsim;
    QString link;
    using Result = TRunResult;

    void SetUp() override
    {
        dir.WriteDemoFiles();
        QDir().mkpath(dir.File("Data"));
        link = dir.File("ttyREG");
    }
    void StartRegulator(QStringList faults = {})
    {
        ASSERT_TRUE(regsim.Launch(KX_REGSIM_PROGRAM, QStringList{"--link", link} + faults));
        ASSERT_FALSE(regsim.FirstLine().isEmpty()) << "regsim gave no slave path";
    }
    static Result Cli(const QStringList& args) { return RunProgram(KX_CLI_PROGRAM, args); }
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
