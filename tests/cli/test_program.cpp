// korvalinex-cli as a program, against the regsim program on a pseudo-terminal: what a workshop
// script sees, exit statuses included. Every wait has a deadline; none is a sleep.

#include "tests/cli/clifixture.h"

#include "models/backup.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <cstring>

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

// doctor on the line: the regulator that answers, one that says nothing, bytes that are no reply.
TEST_F(Program, DoctorSaysWhetherAnythingAnswersTheWakeUpCalls)
{
    const struct {
        QStringList faults;
        int status;
        const char* verdict; // of the wake-up calls
        const char* answer;  // the regulator's answer: "fine", or "" for none
    } rows[] = {
        {{}, kExitOk, "fine", "fine"},
        {{"--silent"}, kExitProblemFound, "problem", ""},
        {{"--bad-check-always"}, kExitProblemFound, "problem", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.faults.join(' ').toStdString());
        StartRegulator(row.faults);
        const Result r = Cli(On({"doctor", "--json", "--timeout", "3"}));
        regsim.Stop();
        EXPECT_EQ(r.status, row.status) << r.out.toStdString();
        QMap<QString, QString> verdicts;
        for (const QJsonValue& f :
             QJsonDocument::fromJson(r.out.toUtf8())["links"][0]["findings"].toArray())
            verdicts[f["id"].toString()] = f["verdict"].toString();
        EXPECT_EQ(verdicts["link-open"], "fine");
        EXPECT_EQ(verdicts["wake-up"], row.verdict);
        EXPECT_EQ(verdicts["answer"], row.answer);
        EXPECT_EQ(verdicts.contains("model-file"), *row.answer != 0);
    }
}

TEST_F(Program, SilenceUsageAndHelp)
{
    StartRegulator({"--silent"});
    EXPECT_EQ(Cli(On({"identify", "--timeout", "1"})).status, kExitNoRegulator);
    const Result missing = Cli({"identify", "--port", dir.File("nothing-here")});
    EXPECT_EQ(missing.status, kExitLinkError);
    EXPECT_TRUE(missing.err.contains(dir.File("nothing-here"))) << missing.err.toStdString();
    EXPECT_EQ(Cli({"frobnicate"}).status, kExitUsage);
    EXPECT_EQ(Cli({"identify", "--port", ""}).status, kExitUsage);
    // --help wins over whatever else is wrong.
    for (const QStringList& args : {QStringList{"restore", "--help"},
                                    QStringList{"restore", "--bogus", "--port", "--help"}}) {
        const Result help = Cli(args);
        EXPECT_EQ(help.status, kExitOk);
        EXPECT_TRUE(help.out.contains("restore BACKUP")) << help.out.toStdString();
        EXPECT_EQ(help.err, "");
    }
    EXPECT_EQ(Cli({"--version"}).out, "korvalinex-cli " KX_VERSION "\n");
}

// What a script relies on: a failed write of the results fails the run, errors in JSON are JSON,
// and a write the regulator leaves unconfirmed is in doubt within the time-out.
TEST_F(Program, ScriptsCanRelyOnStatusAndOutput)
{
    StartRegulator({"--mute", "write"});
    const QString zeq = dir.File("master.zeq");
    ASSERT_EQ(Cli(On({"read", "-o", zeq})).status, kExitOk);

    QProcess full;
    full.setStandardOutputFile("/dev/full");
    full.start(KX_CLI_PROGRAM, On({"identify"}));
    ASSERT_TRUE(full.waitForFinished(kProcessLimitMs));
    EXPECT_EQ(full.exitCode(), kExitFailure);
    EXPECT_TRUE(QString::fromUtf8(full.readAllStandardError()).contains(std::strerror(ENOSPC)));

    const Result error = Cli({"identify", "--json", "--port", dir.File("nothing-here")});
    EXPECT_EQ(error.status, kExitLinkError);
    const QJsonObject o = QJsonDocument::fromJson(error.out.toUtf8()).object();
    EXPECT_EQ(o["schemaVersion"], 1);
    EXPECT_EQ(o["error"]["code"], kExitLinkError);
    EXPECT_EQ(o["error"]["status"], "linkError");
    EXPECT_TRUE(o["error"]["message"].toString().contains(dir.File("nothing-here")))
        << error.out.toStdString();

    QElapsedTimer took;
    took.start();
    const Result doubt = Cli(On({"write", zeq, "--throttle-max", "2.10", "--timeout", "2"}));
    EXPECT_EQ(doubt.status, kExitInDoubt) << doubt.err.toStdString();
    EXPECT_LT(took.elapsed(), 8000); // two seconds and the program's start, generously
    EXPECT_TRUE(doubt.err.contains("restore")) << doubt.err.toStdString();
}

// The settings sheet as a PDF, which the program makes on Qt's screenless platform whatever the
// display: of the regulator, and of the backup a write left, alone. Read back as pdftotext reads
// the page, a ligature (the "ff" of a temporary folder's name) as the letters it joins.
TEST_F(Program, SheetAsPdfOfTheRegulatorAndOfItsBackupAlone)
{
    StartRegulator();
    const auto pdfLines = [](const QString& pdf) {
        QStringList lines;
        for (const QString& line : RunProgram("pdftotext", {"-layout", pdf, "-"}).out.split('\n'))
            lines << line.normalized(QString::NormalizationForm_KC).simplified();
        return lines;
    };
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    noDisplay.remove("DISPLAY");
    noDisplay.insert("QT_QPA_PLATFORM", "xcb");
    const QString sheet = dir.File("sheet.pdf");
    const Result read = RunProgram(KX_CLI_PROGRAM, On({"sheet", "-o", sheet}), noDisplay);
    ASSERT_EQ(read.status, kExitOk) << read.err.toStdString();
    EXPECT_TRUE(pdfLines(sheet).contains(QString::fromUtf8("Brzda Vypnuta")))
        << pdfLines(sheet).join('\n').toStdString();

    const QString zeq = dir.File("master.zeq");
    ASSERT_EQ(Cli(On({"read", "-o", zeq})).status, kExitOk);
    ASSERT_EQ(Cli(On({"write", zeq, "--throttle-max", "2.10"})).status, kExitOk);
    const QStringList backups =
        QDir(dir.File("Data/KVX-40 OPTO/Backup")).entryList({"*.txt"}, QDir::Files);
    ASSERT_EQ(backups.size(), 1);
    const QString record = dir.File("Data/KVX-40 OPTO/Backup/" + backups[0]);
    const Result alone = Cli({"sheet", record, "-o", sheet, "--data", dir.Path()});
    ASSERT_EQ(alone.status, kExitOk) << alone.err.toStdString();
    const QStringList lines = pdfLines(sheet);
    for (const QString& line :
         {QString("Plyn max. [ms] 2.00"), QString::fromUtf8("Spojení ") + link,
          QString::fromUtf8("Poslední záloha ") + backups[0].chopped(4)})
        EXPECT_TRUE(lines.contains(line)) << line.toStdString() << " in\n"
                                          << lines.join('\n').toStdString();
}

// Ctrl-C before anything was sent ends the run cleanly with a status of its own.
TEST_F(Program, InterruptedWhileWaitingForTheRegulator)
{
    StartRegulator({"--silent"});
    TChildProcess cli;
    cli.setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(cli.Launch(KX_CLI_PROGRAM, On({"identify", "-vv", "--timeout", "60"})));
    ASSERT_FALSE(cli.FirstLine().isEmpty()); // running: the signals are caught by now
    // -vv: each byte on the line, with the time and the direction.
    EXPECT_TRUE(
        QRegularExpression("^ *\\d+\\.\\d{3} > 55( 55)+$").match(cli.FirstLine()).hasMatch());
    ::kill(pid_t(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(kProcessLimitMs));
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), kExitInterrupted);
}

// Several regulators in one run, two at a time: a result per link, how many failed, and every
// backup kept with its link.
TEST_F(Program, SeveralRegulatorsInOneRun)
{
    StartRegulator();
    TChildProcess second;
    const QString link2 = dir.File("ttyREG2");
    ASSERT_TRUE(second.Launch(KX_REGSIM_PROGRAM, {"--link", link2}));
    ASSERT_FALSE(second.FirstLine().isEmpty());
    const QString zeq = dir.File("master.zeq");
    ASSERT_EQ(Cli(On({"read", "-o", zeq})).status, kExitOk);

    const Result both =
        Cli(On({"write", zeq, "--throttle-max", "2.10", "--port", link2, "-j", "2"}));
    EXPECT_EQ(both.status, kExitOk) << both.err.toStdString();
    EXPECT_TRUE(both.out.contains(link + ": ok\n")) << both.out.toStdString();
    EXPECT_TRUE(both.out.contains(link2 + ": ok\n")) << both.out.toStdString();
    const QString backups = dir.File("Data/KVX-40 OPTO/Backup/");
    QStringList links;
    for (const QString& name : QDir(backups).entryList({"*.txt"})) {
        QString error;
        const auto record = LoadBackupRecord(backups + name, &error);
        ASSERT_TRUE(record) << error.toStdString();
        links << record->link;
    }
    links.sort();
    EXPECT_EQ(links, QStringList({link, link2}));

    // A diff over both, one changed since: a difference is that link's answer, not a failure.
    QList<QByteArray> lines = ReadBytes(zeq).split('\n');
    lines[lines.size() - 2] = lines[lines.size() - 2].startsWith('0') ? "1\r" : "0\r";
    const QString changed = dir.File("changed.zeq");
    WriteBytes(changed, lines.join('\n'));
    ASSERT_EQ(Cli(On({"write", changed})).status, kExitOk);
    const Result text = Cli(On({"diff", zeq, "--port", link2}));
    EXPECT_EQ(text.status, kExitDifferent) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(link + ": different (1)\n")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(link2 + ": ok\n")) << text.out.toStdString();
    const Result json = Cli(On({"diff", zeq, "--port", link2, "--json"}));
    EXPECT_EQ(json.status, kExitDifferent);
    const QJsonObject d = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_EQ(d["failed"], 0);
    EXPECT_EQ(d["different"], 1);
    // In the order given: the second regulator's port, then the changed one's.
    EXPECT_EQ(d["links"][0]["status"], "ok");
    EXPECT_EQ(d["links"][1]["status"], "different");
    EXPECT_FALSE(d["links"][1].toObject().contains("message"));
    EXPECT_EQ(d["links"][1]["result"]["rows"].toArray().size(), 1);

    const QString nothing = dir.File("nothing-here");
    const Result one = Cli(On({"identify", "--json", "--port", nothing}));
    EXPECT_EQ(one.status, kExitSomeFailed) << one.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(one.out.toUtf8()).object();
    EXPECT_EQ(o["failed"], 1);
    // In the order given: the missing port, then the regulator's.
    EXPECT_EQ(o["links"][0]["link"], nothing);
    EXPECT_EQ(o["links"][0]["code"], kExitLinkError);
    EXPECT_TRUE(o["links"][0]["message"].toString().contains(nothing));
    EXPECT_EQ(o["links"][1]["status"], "ok");
    EXPECT_EQ(o["links"][1]["result"]["name"], "KVX-40 OPTO");
}

} // namespace
