// korvalinex-cli diff, write --dry-run and --if-different, and a write's file that does not fit the
// regulator: in process over both links against the demo regulator, two files without a link, and
// a workshop's batch as a script runs it against the regsim program on a pseudo-terminal.

#include "tests/cli/clifixture.h"

#include "tools/cli/diff.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using regsim::Message;

class CliDiff : public ::testing::TestWithParam<TCliLink>, public TCliFixture {
public:
    CliDiff() : TCliFixture(GetParam()) {}

    // A parameter file with the demo's value texts and these group lines.
    QString Zeq(const QString& name, const QByteArray& groups,
                const QByteArray& values = "11.8\r\n21\r\n20 \xB0"
                                           "C\r\nData\r\n")
    {
        WriteBytes(dir.File(name), values + groups);
        return dir.File(name);
    }
    int WakeUps() const { return sim.Count(Message::WakeUp); }
};

INSTANTIATE_TEST_SUITE_P(Links, CliDiff, ::testing::Values(TCliLink::Serial, TCliLink::Usb),
                         [](const ::testing::TestParamInfo<TCliLink>& info) {
                             return LinkName(info.param);
                         });

// The demo regulator holds Extended, Off, 3S, Automatic, Very fast, Reversed (items 1 0 2 0 3 1),
// throttle 1.10 to 2.00 ms; its factory block Basic, Off, Automatic, Low, Soft, Normal, 1.00 to
// 1.90 ms.
const QByteArray kDemoGroups = "1\r\n0\r\n2\r\n0\r\n3\r\n1\r\n";
const QString kChangedRows = "[Brake] Off -> Hard\n[Motor direction] Reversed -> Normal";

// The regulator against files and backups: the rows, the exit status, and nothing written.
TEST_P(CliDiff, AgainstTheRegulator)
{
    const QString same = Zeq("same.zeq", kDemoGroups);
    const QString measured = Zeq("measured.zeq", kDemoGroups, "12.6\r\n3\r\n25 C\r\nData\r\n");
    const QString changed = Zeq("changed.zeq", "1\r\n3\r\n2\r\n0\r\n3\r\n0\r\n");
    const QString shorter = Zeq("short.zeq", "1\r\n0\r\n2\r\n");
    struct Row {
        const char* name;
        QString file;
        int status;
        QString out;
        QString err = {}; // on stderr
        bool opensLink = true;
    };
    const Row rows[] = {
        {"the same settings", same, kExitOk, ""},
        {"measured values are no settings", measured, kExitOk, ""},
        {"two groups differ", changed, kExitDifferent, kChangedRows},
        {"a file of fewer groups: shown, and what does not fit said", shorter, kExitDifferent,
         "[Timing] Automatic -> -\n[Start-up] Very fast -> -\n[Motor direction] Reversed -> -",
         messages.LookupMessage("str216").arg(3).arg(6)},
        {"no such file: the link is not opened", dir.File("none.zeq"), kExitDiffTrouble, "",
         "none.zeq", false},
    };
    const auto check = [this](const Row& row) {
        SCOPED_TRACE(row.name);
        const int wakeUps = WakeUps();
        EXPECT_EQ(RunCli({"diff", row.file, "--lang", "EN"}), row.status) << Err().toStdString();
        EXPECT_EQ(Out(), row.out);
        EXPECT_TRUE(Err().contains(row.err)) << Err().toStdString();
        EXPECT_EQ(WakeUps() > wakeUps, row.opensLink);
    };
    for (const Row& row : rows)
        check(row);

    ASSERT_EQ(RunCli({"diff", changed, "--json", "--lang", "EN"}), kExitDifferent);
    const QJsonObject o = QJsonDocument::fromJson(Out().toUtf8()).object();
    EXPECT_FALSE(o["equal"].toBool()) << Out().toStdString();
    EXPECT_EQ(o["old"].toString(), "regulator");
    EXPECT_EQ(o["new"].toString(), changed);
    const QJsonArray json = o["rows"].toArray();
    ASSERT_EQ(json.size(), 2);
    EXPECT_EQ(json[0].toObject(), (QJsonObject{{"kind", "group"},
                                               {"index", 1},
                                               {"caption", "Brake"},
                                               {"old", "Off"},
                                               {"new", "Hard"}}));
    EXPECT_EQ(sim.Count(Message::Write), 0);
    EXPECT_TRUE(Backups().isEmpty());
    // Any other failure is trouble too, never "different".
    ASSERT_TRUE(QDir(dir.File("Data/" + kModel)).removeRecursively());
    WriteBytes(dir.File("Data/" + kModel), "a file where the folder belongs");
    EXPECT_EQ(RunCli({"diff", same}), kExitDiffTrouble);
    QFile::remove(dir.File("Data/" + kModel));

    // A backup's record knows the throttle limits too; the factory block against the demo's.
    ASSERT_EQ(RunCli({"default"}), kExitOk);
    const QString record = BackupDir() + "/" + Backups()[0];
    QString text = QString::fromLatin1(ReadBytes(record));
    WriteBytes(dir.File("other.txt"), text.replace(kModel, "KVX-60").toLatin1());
    const Row backups[] = {
        {"a backup's record", record, kExitDifferent,
         "[Settings range] Basic -> Extended\n[Cell count] Automatic -> 3S\n[Timing] Low -> "
         "Automatic\n[Start-up] Soft -> Very fast\n[Motor direction] Normal -> Reversed\n"
         "throttle-min: 1.00 ms -> 1.10 ms\nthrottle-max: 1.90 ms -> 2.00 ms"},
        {"its parameter file: no limits", BackupDir() + "/" + Backups("zeq")[0], kExitDifferent,
         "[Settings range] Basic -> Extended\n[Cell count] Automatic -> 3S\n[Timing] Low -> "
         "Automatic\n[Start-up] Soft -> Very fast\n[Motor direction] Normal -> Reversed"},
        {"another model's backup", dir.File("other.txt"), kExitDiffTrouble, "",
         messages.LookupMessage("str139").arg("KVX-60", kModel)},
        {"a damaged record: the link is not opened", dir.File("same.zeq.txt"), kExitDiffTrouble, "",
         messages.LookupMessage("str138").arg(""), false},
    };
    WriteBytes(dir.File("same.zeq.txt"), "[BACKUP]\r\nNAME=KVX-40 OPTO\r\n");
    for (const Row& row : backups)
        check(row);
    EXPECT_EQ(sim.Count(Message::Write), 0);
    EXPECT_EQ(Backups().size(), 1);
}

// --dry-run sends nothing; --if-different writes only what changes something.
TEST_P(CliDiff, WriteDryRunAndIfDifferent)
{
    const QString same = Zeq("same.zeq", kDemoGroups);
    const QString changed = Zeq("changed.zeq", "1\r\n3\r\n2\r\n0\r\n3\r\n0\r\n");
    struct Row {
        const char* name;
        QStringList args;
        QString out; // the whole output without a write; a line of the read-back with one
        bool writes;
    };
    const Row rows[] = {
        {"dry run", {changed, "--dry-run"}, kChangedRows, false},
        {"dry run of one group by its caption",
         {changed, "--dry-run", "--only", " brake"},
         "[Brake] Off -> Hard",
         false},
        {"dry run of groups by number",
         {changed, "--dry-run", "--only", "6,2"},
         kChangedRows,
         false},
        {"only a group that is the same",
         {changed, "--dry-run", "--only", "Cell count"},
         "unchanged",
         false},
        {"dry run of a limit",
         {same, "--dry-run", "--throttle-max", "2.10"},
         "throttle-max: 2.00 ms -> 2.10 ms",
         false},
        {"dry run that changes nothing", {same, "--dry-run"}, "unchanged", false},
        {"if different: the same", {same, "--if-different"}, "unchanged", false},
        {"if different: a limit differs",
         {same, "--if-different", "--throttle-max", "2.10"},
         "throttle-max: 2.10 ms",
         true},
        {"if different: that limit again",
         {same, "--if-different", "--throttle-max", "2.10"},
         "unchanged",
         false},
        {"only the brake: the direction stays",
         {changed, "--only", "Brake"},
         "[Brake] Hard\n[Cell count] 3S\n[Timing] Automatic\n[Start-up] Very fast\n"
         "[Motor direction] Reversed",
         true},
        {"if different: groups differ",
         {changed, "--if-different"},
         "[Motor direction] Normal",
         true},
        {"if different: now the same", {changed, "--if-different"}, "unchanged", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        now = now.addSecs(60);
        const int writes = sim.Count(Message::Write);
        const qsizetype backups = Backups().size();
        EXPECT_EQ(RunCli(QStringList{"write", "--lang", "EN"} + row.args), kExitOk)
            << Err().toStdString();
        EXPECT_EQ(sim.Count(Message::Write) - writes, row.writes ? 1 : 0);
        EXPECT_EQ(Backups().size() - backups, row.writes ? 1 : 0);
        if (row.writes)
            EXPECT_TRUE(Out().contains(row.out)) << Out().toStdString();
        else
            EXPECT_EQ(Out(), row.out);
    }
    EXPECT_EQ(sim.Block().throttleMax, 2100);

    const int written = sim.Count(Message::Write);
    EXPECT_EQ(RunCli({"write", same, "--only", "Brakes", "--lang", "EN"}), kExitUsage);
    EXPECT_TRUE(Err().contains(messages.LookupMessage("str334").arg(
        "Brakes", kModel, "Settings range, Brake, Cell count, Timing, Start-up, Motor direction")))
        << Err().toStdString();
    EXPECT_EQ(sim.Count(Message::Write), written);

    ASSERT_EQ(RunCli({"write", same, "--dry-run", "--json", "--lang", "EN"}), kExitOk);
    const QJsonObject o = QJsonDocument::fromJson(Out().toUtf8()).object();
    EXPECT_EQ(o["new"].toString(), same);
    EXPECT_EQ(o["rows"].toArray().size(), 2) << Out().toStdString();
}

// A file that does not fit is refused before anything is backed up or written, as soon as what
// does not fit can be known: without its marker before the link is opened, the rest once the
// regulator has said its model. --force writes what fits, as the window's loader loads it.
TEST_P(CliDiff, WriteRefusesAFileThatDoesNotFit)
{
    struct Row {
        const char* name;
        QByteArray file;
        bool force;
        int status;
        QString says; // on stderr
        regsim::Bytes options;
        bool opensLink = true;
    };
    const regsim::Bytes demo = {2, 1, 3, 1, 4, 2};
    const QByteArray values = "1\r\n2\r\n3\r\nData\r\n";
    const Row rows[] = {
        {"a group too many", values + "1\r\n2\r\n2\r\n0\r\n3\r\n0\r\n1\r\n", false, kExitDoesNotFit,
         messages.LookupMessage("str216").arg(7).arg(6), demo},
        {"an item out of range", values + "1\r\n9\r\n2\r\n0\r\n3\r\n0\r\n", false, kExitDoesNotFit,
         messages.LookupMessage("str217").arg(2).arg("Brake").arg(10), demo},
        {"no marker", "1\r\n2\r\n", false, kExitDoesNotFit,
         messages.LookupMessage("str218").arg("Data"), demo, false},
        {"forced: the lines beyond are ignored",
         values + "1\r\n2\r\n2\r\n0\r\n3\r\n0\r\n1\r\n",
         true,
         kExitOk,
         "",
         {2, 3, 3, 1, 4, 1}},
        {"forced: out of range keeps the regulator's item",
         values + "1\r\n9\r\n1\r\n0\r\n3\r\n1\r\n",
         true,
         kExitOk,
         "",
         {2, 3, 2, 1, 4, 2}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        now = now.addSecs(60);
        const QString zeq = Zeq("unfit.zeq", row.file, "");
        const int wakeUps = WakeUps();
        const qsizetype backups = Backups().size();
        QStringList args = {"write", zeq, "--lang", "EN"};
        if (row.force)
            args << "--force";
        EXPECT_EQ(RunCli(args), row.status) << Err().toStdString();
        EXPECT_TRUE(Err().contains(row.says)) << Err().toStdString();
        EXPECT_EQ(Err().contains(messages.LookupMessage("str246").arg(zeq)), !row.force);
        EXPECT_EQ(sim.Block().options, row.options);
        EXPECT_EQ(Backups().size() - backups, row.force ? 1 : 0);
        EXPECT_EQ(WakeUps() > wakeUps, row.opensLink);
    }
}

// Every reader of the tool holds its file to a limit, written here in bytes so that a limit that
// moves is seen: 4 MiB for a parameter file, 1 MiB for a backup record. A file at its limit is
// read (a NUL ends its text), one byte more is refused before the link is opened.
TEST_P(CliDiff, FilesAtAndOverTheirLimits)
{
    constexpr qint64 kMiB = 1024 * 1024;
    ASSERT_EQ(RunCli({"default"}), kExitOk); // the demo block in a backup record, the factory one
                                             // in the regulator
    const QByteArray record = ReadBytes(BackupDir() + "/" + Backups()[0]);
    const QByteArray zeq = "11.8\r\n21\r\n20 \xB0"
                           "C\r\nData\r\n" +
                           kDemoGroups;
    const struct {
        const char* name;
        QStringList args; // FILE: the file grown to its size
        const QByteArray& head;
        qint64 size;
        int status;
    } rows[] = {
        {"diff, 4 MiB", {"diff", "FILE.zeq"}, zeq, 4 * kMiB, kExitDifferent},
        {"diff, 4 MiB + 1", {"diff", "FILE.zeq"}, zeq, 4 * kMiB + 1, kExitDiffTrouble},
        {"diff a record, 1 MiB", {"diff", "FILE.txt"}, record, 1 * kMiB, kExitDifferent},
        {"diff a record, 1 MiB + 1", {"diff", "FILE.txt"}, record, 1 * kMiB + 1, kExitDiffTrouble},
        {"write, 4 MiB + 1", {"write", "FILE.zeq"}, zeq, 4 * kMiB + 1, kExitFailure},
        {"restore, 1 MiB + 1", {"restore", "FILE.txt"}, record, 1 * kMiB + 1, kExitFailure},
        {"write, 4 MiB", {"write", "FILE.zeq"}, zeq, 4 * kMiB, kExitOk},
        {"restore, 1 MiB", {"restore", "FILE.txt"}, record, 1 * kMiB, kExitOk},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        now = now.addSecs(60);
        QStringList args = row.args;
        const QString file = dir.File(args[1]);
        args[1] = file;
        WriteSparse(file, row.head, row.size);
        const int writes = sim.Count(Message::Write);
        EXPECT_EQ(RunCli(args), row.status) << Err().toStdString();
        if (row.status != kExitOk && row.status != kExitDifferent) {
            EXPECT_TRUE(Err().contains(file)) << Err().toStdString();
            EXPECT_EQ(sim.Count(Message::Write), writes);
        }
        QFile::remove(file);
    }
    EXPECT_EQ(sim.Block().options, regsim::Bytes({2, 1, 3, 1, 4, 2})) << "the demo block again";
}

// The settings sheet of the regulator, with a file or a backup loaded over it as the window loads
// one: each setting with its value, the ones the regulator does not hold marked.
TEST_P(CliDiff, SheetOfTheRegulatorWithAFileOverIt)
{
    const QString changed = Zeq("changed.zeq", "1\r\n3\r\n2\r\n0\r\n3\r\n0\r\n");
    const QString unfit = Zeq("unfit.zeq", "1\r\n3\r\n");
    // The backup that the factory reset before the third row makes.
    const QString record = BackupDir() + "/2025-03-14_09-26-53.txt";
    const QString mark = "[" + messages.LookupMessage("str331") + "]";
    struct Row {
        const char* name;
        bool resetFirst;
        QStringList args;
        int status;
        QStringList lines; // each the end of a line of the sheet, blanks aside
    };
    const Row rows[] = {
        {"the regulator",
         false,
         {},
         kExitOk,
         {QString::fromUtf8("Název regulátoru KVX-40 OPTO"), "Plyn max. [ms] 2.00",
          "Voltage [V] 11.8", "Brake Off", "Motor direction Reversed"}},
        {"a file over it",
         false,
         {changed},
         kExitOk,
         {"Ze souboru " + changed, "Brake Hard " + mark, "Cell count 3S",
          "Motor direction Normal " + mark, messages.LookupMessage("str260").arg(2)}},
        {"a backup over the factory settings: its limits too",
         true,
         {record},
         kExitOk,
         {"Plyn min. [ms] 1.10 " + mark, "Plyn max. [ms] 2.00 " + mark,
          QString::fromUtf8("Poslední záloha 2025-03-14_09-26-53"),
          "Settings range Extended " + mark, "Brake Off"}},
        {"a file that does not fit", false, {unfit}, kExitDoesNotFit, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.resetFirst) {
            ASSERT_EQ(RunCli({"default"}), kExitOk);
        }
        const int writes = sim.Count(Message::Write);
        EXPECT_EQ(RunCli(QStringList{"sheet", "--lang", "EN", "-o", "-"} + row.args), row.status)
            << Err().toStdString();
        QStringList lines;
        for (const QString& line : QString::fromUtf8(outBytes).split('\n'))
            lines << line.simplified();
        for (const QString& line : row.lines)
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                    [&](const QString& l) { return l.endsWith(line); }))
                << line.toStdString() << " in\n"
                << lines.join('\n').toStdString();
        EXPECT_EQ(sim.Count(Message::Write), writes) << "a sheet writes nothing";
    }
    ASSERT_EQ(RunCli({"sheet", "--lang", "EN", "-o", dir.File("sheet.html")}), kExitOk);
    const QString html = QString::fromUtf8(ReadBytes(dir.File("sheet.html")));
    EXPECT_TRUE(html.contains("<td width=\"40%\">Brake</td><td width=\"60%\"><b>Off</b>"))
        << html.toStdString();
}

// Two files on the panel of a model: no link, the model from --model or a backup's record.
TEST(CliDiffFiles, TwoFilesOnAModelsPanel)
{
    TCliFixture f;
    const QString a = f.dir.File("a.zeq"), b = f.dir.File("b.zeq"), c = f.dir.File("c.zeq");
    WriteBytes(a, "1\r\n2\r\n3\r\nData\r\n" + kDemoGroups);
    WriteBytes(b, "4\r\n5\r\n6\r\nData\r\n" + kDemoGroups);
    WriteBytes(c, "1\r\n2\r\n3\r\nData\r\n1\r\n3\r\n2\r\n0\r\n3\r\n0\r\n");
    const QString broken = f.dir.File("broken.zeq");
    WriteBytes(broken, "1\r\n2\r\n3\r\nData\r\n1\r\nx\r\n2\r\n0\r\n3\r\n0\r\n");
    ASSERT_EQ(f.RunCli({"default"}), kExitOk);
    const QString record = f.BackupDir() + "/" + f.Backups()[0];
    const int wakeUps = f.sim.Count(Message::WakeUp);
    struct Row {
        const char* name;
        QStringList args;
        int status;
        QString out;
        QString err = {};
    };
    const QString model = TCliFixture::kModel;
    const Row rows[] = {
        {"the same groups", {a, b, "--model", model}, kExitOk, ""},
        {"groups differ", {a, c, "--model", model}, kExitDifferent, kChangedRows},
        {"the other way round",
         {c, a, "--model", model},
         kExitDifferent,
         "[Brake] Hard -> Off\n[Motor direction] Normal -> Reversed"},
        {"a record names its model",
         {c, record},
         kExitDifferent,
         "[Brake] Hard -> Off\n[Motor direction] Normal -> Reversed"},
        {"a record on both sides compares the limits", {record, record}, kExitOk, ""},
        {"no model", {a, b}, kExitUsage, "", "--model NAME"},
        {"a model without a definition",
         {a, b, "--model", "KVX-99"},
         kExitModelMissing,
         "",
         "Regulators/EN/KVX-99.ini"},
        {"a record of another model",
         {a, record, "--model", "KVX-99"},
         kExitDiffTrouble,
         "",
         f.messages.LookupMessage("str248").arg(record, model, "KVX-99")},
        {"a file that is not there",
         {a, f.dir.File("none.zeq"), "--model", model},
         kExitDiffTrouble,
         "",
         "none.zeq"},
        {"a file the window would refuse is trouble, not a difference",
         {a, broken, "--model", model},
         kExitDiffTrouble,
         "",
         f.messages.LookupMessage("str236").arg(
             broken, f.messages.LookupMessage("str112").arg("x").arg(6))},
        {"the same first", {broken, a, "--model", model}, kExitDiffTrouble, "", "broken.zeq"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TParsedCommandLine parsed =
            ParseCliCommandLine(QStringList{"diff", "--lang", "EN"} + row.args);
        ASSERT_TRUE(parsed.error.Empty());
        QStringList out, err;
        EXPECT_EQ(DiffFilesCommand(
                      parsed.options, f.dir.Path(), f.messages, [&](const QString& t) { out << t; },
                      [&](const QString& t) { err << t; }),
                  row.status)
            << err.join('\n').toStdString();
        EXPECT_EQ(out.join('\n'), row.out);
        EXPECT_TRUE(err.join('\n').contains(row.err)) << err.join('\n').toStdString();
    }
    EXPECT_EQ(f.sim.Count(Message::WakeUp), wakeUps);
}

// What a command line of diff, write (--only, --each) and sheet may hold.
TEST(CliDiffFiles, CommandLines)
{
    const struct {
        QStringList args;
        bool ok;
    } rows[] = {
        {{"diff"}, false},
        {{"diff", "a.zeq"}, true},
        {{"diff", "a.zeq", "b.zeq", "c.zeq"}, false},
        {{"diff", "a.zeq", "b.zeq", "--port", "COM1"}, false},
        {{"diff", "a.zeq", "b.zeq", "--usb"}, false},
        {{"diff", "a.zeq", "--model", "M"}, false},
        {{"diff", "a.zeq", "b.zeq", "--model", "M", "--json"}, true},
        {{"read", "--dry-run"}, false},
        {{"diff", "a.zeq", "--force"}, false},
        {{"write", "a.zeq", "--dry-run", "--if-different", "--force"}, true},
        {{"write", "a.zeq", "--model", "M"}, false},
        {{"write", "a.zeq", "--only", "Brake,2"}, true},
        {{"write", "a.zeq", "--only", ", "}, false},
        {{"diff", "a.zeq", "--only", "Brake"}, false},
        {{"sheet"}, false},
        {{"sheet", "-o", "-"}, true},
        {{"sheet", "a.zeq", "-o", "a.pdf", "--model", "M"}, true},
        {{"sheet", "a.zeq", "--port", "COM1", "-o", "-", "--model", "M"}, false},
        {{"sheet", "-o", "-", "--model", "M"}, false},
        {{"sheet", "a.zeq", "b.zeq", "-o", "-"}, false},
        {{"write", "a.zeq", "--each", "--record", "line.csv"}, true},
        {{"write", "a.zeq", "--record", "line.csv"}, false},
        {{"write", "a.zeq", "--each", "--port", "A", "--port", "B"}, false},
        {{"read", "--each"}, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ParseCliCommandLine(row.args).error.Empty(), row.ok)
            << row.args.join(' ').toStdString();
}

// A workshop's batch: write where it changes something, then diff says the regulator matches.
TEST(CliDiffProgram, BatchOverThePseudoTerminal)
{
    TProgramDir dir;
    dir.WriteDemoFiles();
    QDir().mkpath(dir.File("Data"));
    TChildProcess regsim;
    const QString link = dir.File("ttyREG");
    ASSERT_TRUE(regsim.Launch(KX_REGSIM_PROGRAM, {"--link", link}));
    ASSERT_FALSE(regsim.FirstLine().isEmpty());
    const auto cli = [&](QStringList args) {
        return RunProgram(KX_CLI_PROGRAM, args << "--port" << link << "--data" << dir.Path());
    };
    const QString zeq = dir.File("master.zeq");
    WriteBytes(zeq,
               "- - - - -\r\n- - - - -\r\n- - - - -\r\nData\r\n1\r\n3\r\n2\r\n0\r\n3\r\n0\r\n");
    EXPECT_EQ(cli({"diff", zeq}).status, kExitDifferent);
    TRunResult r = cli({"write", zeq, "--if-different"});
    ASSERT_EQ(r.status, kExitOk) << r.err.toStdString();
    r = cli({"write", zeq, "--if-different"});
    EXPECT_EQ(r.status, kExitOk) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), "unchanged");
    r = cli({"diff", zeq});
    EXPECT_EQ(r.status, kExitOk) << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(QDir(dir.File("Data/KVX-40 OPTO/Backup")).entryList({"*.txt"}).size(), 1);
    // A file of another model is refused with its own status.
    WriteBytes(zeq, "- - - - -\r\nData\r\n1\r\n");
    EXPECT_EQ(cli({"write", zeq}).status, kExitDoesNotFit);
}

} // namespace
