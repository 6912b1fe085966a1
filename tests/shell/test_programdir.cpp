// Where the program keeps its files: the folder of a portable copy or the per-user folder of an
// installed one, filled from the shipped data without touching the user's files; and an end
// requested by a signal, which closes the window the normal way.

#include "tests/support/pump.h"
#include "tests/support/shellfixture.h"

#include "common/profile.h"
#include "common/programdir.h"
#include "shell/termination.h"
#include "tests/support/readonly.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct ChoiceCase {
    const char* name;
    const char* exeDir;
    bool writable;
    const char* xdgDataHome;
    const char* folder;      // expected
    bool perUser;            // expected
    const char* shippedData; // expected; "" when the folder is not filled
    TFolderUse use = TFolderUse::Normal;
};

void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }

class FolderChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(FolderChoice, PicksTheExpectedFolder)
{
    const ChoiceCase& c = GetParam();
    QStringList probed;
    const TProgramFolder f = ChooseProgramFolder(
        c.exeDir, c.xdgDataHome, "/home/pilot",
        [&](const QString& dir) {
            probed << dir;
            return c.writable;
        },
        c.use);
    EXPECT_EQ(probed, QStringList{c.exeDir}) << "only the executable's folder is probed";
    EXPECT_EQ(f.path, c.folder);
    EXPECT_EQ(f.perUser, c.perUser);
    EXPECT_EQ(f.shippedData, c.shippedData);
    // A portable copy's folder holds the user's files beside the shipped ones: its demo takes only
    // the shipped ones. The package's data folder holds nothing else.
    EXPECT_EQ(f.shippedEntries.contains("Regulators"), c.use == TFolderUse::Demo && !c.perUser);
    EXPECT_EQ(f.setupDefaults,
              c.use == TFolderUse::Demo ? QByteArray("[SETUP]\r\nDEVICE=USB\r\n") : QByteArray());
}

constexpr TFolderUse kDemo = TFolderUse::Demo;
const ChoiceCase kChoices[] = {
    {"PortableWritable", "/opt/kx", true, "/x/data", "/opt/kx/", false, ""},
    {"PortableWritableWithSlash", "/media/stick/kx/", true, "", "/media/stick/kx/", false, ""},
    {"NotWritableXdgSet", "/opt/kx/usr/bin", false, "/x/data", "/x/data/korvalinex/", true,
     "/opt/kx/usr/share/korvalinex/"},
    {"NotWritableXdgSetWithSlash", "/opt/kx/bin", false, "/x/data/", "/x/data/korvalinex/", true,
     "/opt/kx/share/korvalinex/"},
    {"NotWritableXdgUnset", "/opt/kx/bin", false, "", "/home/pilot/.local/share/korvalinex/", true,
     "/opt/kx/share/korvalinex/"},
    {"NotWritableXdgRelativeIsIgnored", "/opt/kx/bin", false, "data",
     "/home/pilot/.local/share/korvalinex/", true, "/opt/kx/share/korvalinex/"},
    // root can write /usr/bin, but an installed copy never fills it with its files.
    {"SystemFolderWritableByRoot", "/usr/bin", true, "/x/data", "/x/data/korvalinex/", true,
     "/usr/share/korvalinex/"},
    // The demo: a folder of its own inside the program folder, filled like the program folder.
    {"DemoPortable", "/media/stick/kx", true, "", "/media/stick/kx/Demo/", false,
     "/media/stick/kx/", kDemo},
    {"DemoInstalled", "/usr/bin", false, "", "/home/pilot/.local/share/korvalinex/Demo/", true,
     "/usr/share/korvalinex/", kDemo},
    {"DemoInstalledXdgSet", "/usr/bin", false, "/x/data", "/x/data/korvalinex/Demo/", true,
     "/usr/share/korvalinex/", kDemo},
};

INSTANTIATE_TEST_SUITE_P(, FolderChoice, ::testing::ValuesIn(kChoices),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WritableProbe, SeesAReadOnlyFolder)
{
    QTemporaryDir dir;
    EXPECT_TRUE(FolderIsWritable(dir.path()));
    {
        const TReadOnlyFolder readOnly(dir.path());
        ASSERT_TRUE(readOnly.Ok());
        EXPECT_FALSE(FolderIsWritable(dir.path()));
    }
    EXPECT_TRUE(FolderIsWritable(dir.path()));
}

struct SeedFixture : ::testing::Test {
    TProgramDir shipped, user;
    void SetUp() override
    {
        shipped.Write("Regulators/CZ/KVX-40 OPTO.ini", "shipped model");
        shipped.Write("Regulators/EN/KVX-40 OPTO.ini", "shipped EN");
        shipped.Write("Teplota1.txt", "t1");
        shipped.Write("Languages/EN.ini", "en");
    }
};

TEST_F(SeedFixture, FirstStartCopiesEverything)
{
    EXPECT_TRUE(SeedProgramFolder(shipped.Path(), user.Path()).isEmpty());
    EXPECT_EQ(user.Read("Regulators/CZ/KVX-40 OPTO.ini"), "shipped model");
    EXPECT_EQ(user.Read("Regulators/EN/KVX-40 OPTO.ini"), "shipped EN");
    EXPECT_EQ(user.Read("Teplota1.txt"), "t1");
    EXPECT_EQ(user.Read("Languages/EN.ini"), "en");
}

TEST_F(SeedFixture, ChangedFilesAreKeptAndMissingOnesCopiedOnLaterStarts)
{
    user.Write("Regulators/CZ/KVX-40 OPTO.ini", "my own model");
    user.Write("Teplota1.txt", "");
    user.Write("Data/KVX-40 OPTO/mine.zeq", "params");
    shipped.Write("Help/HelpEN.html", "help added by an update");
    EXPECT_TRUE(SeedProgramFolder(shipped.Path(), user.Path()).isEmpty());
    EXPECT_EQ(user.Read("Regulators/CZ/KVX-40 OPTO.ini"), "my own model");
    EXPECT_EQ(user.Read("Teplota1.txt"), "") << "even an emptied file is the user's";
    EXPECT_EQ(user.Read("Data/KVX-40 OPTO/mine.zeq"), "params");
    EXPECT_EQ(user.Read("Regulators/EN/KVX-40 OPTO.ini"), "shipped EN");
    EXPECT_EQ(user.Read("Help/HelpEN.html"), "help added by an update");
}

// After an upgrade the shipped files are current, except those the user changed.
TEST_F(SeedFixture, AnUpgradeReplacesUntouchedCopiesAndKeepsChangedOnes)
{
    using Files = std::initializer_list<std::pair<const char*, const char*>>;
    // Ships the files, starts the program and finds the user's folder holding what is wanted.
    auto upgrade = [&](Files ships, Files wanted) {
        for (const auto& [file, content] : ships)
            shipped.Write(file, content);
        EXPECT_TRUE(SeedProgramFolder(shipped.Path(), user.Path()).isEmpty());
        for (const auto& [file, content] : wanted)
            EXPECT_EQ(user.Read(file), content) << file;
    };
    user.Write("Languages/CZ.ini", "a copy from before copies were recorded");
    // Copies from before copies were recorded: one that an earlier version shipped is untouched,
    // and is brought up to date; the list of earlier versions is never copied itself.
    user.Write("Languages/GE.ini", "ge 0");
    user.Write("Help/HelpGE.html", "ge help 0, changed");
    shipped.Write(kEarlierShipped.toUtf8(),
                  QCryptographicHash::hash("ge 0", QCryptographicHash::Sha256).toHex() +
                      "  Languages/GE.ini\n" +
                      QCryptographicHash::hash("ge help 0", QCryptographicHash::Sha256).toHex() +
                      "  Help/HelpGE.html\n");
    upgrade({{"Languages/CZ.ini", "cz 1"},
             {"Languages/GE.ini", "ge 1"},
             {"Help/HelpGE.html", "ge help 1"}},
            {{"Languages/EN.ini", "en"},
             {"Languages/GE.ini", "ge 1"},
             {"Help/HelpGE.html", "ge help 0, changed"}});
    EXPECT_FALSE(QFileInfo::exists(user.Path() + kEarlierShipped));
    user.Write("Regulators/EN/KVX-40 OPTO.ini", "my own model");
    upgrade({{"Languages/EN.ini", "en 2"},
             {"Regulators/EN/KVX-40 OPTO.ini", "shipped EN 2"},
             {"Languages/CZ.ini", "cz 2"},
             {"Help/HelpEN.html", "help added by the upgrade"}},
            {{"Languages/EN.ini", "en 2"},
             {"Regulators/EN/KVX-40 OPTO.ini", "my own model"},
             {"Languages/CZ.ini", "a copy from before copies were recorded"},
             {"Help/HelpEN.html", "help added by the upgrade"},
             {"Regulators/CZ/KVX-40 OPTO.ini", "shipped model"}});
    // And so at every upgrade.
    upgrade({{"Regulators/EN/KVX-40 OPTO.ini", "shipped EN 3"}, {"Languages/EN.ini", "en 3"}},
            {{"Regulators/EN/KVX-40 OPTO.ini", "my own model"}, {"Languages/EN.ini", "en 3"}});
}

TEST_F(SeedFixture, OnlyTheNamedEntriesWhenNamed)
{
    shipped.Write("setup.ini", "[SETUP]\r\nDEVICE=COM\r\n");
    shipped.Write("Data/KVX-40 OPTO/mine.zeq", "params");
    shipped.Write("Regulators.bak", "not a shipped entry");
    EXPECT_TRUE(
        SeedProgramFolder(shipped.Path(), user.Path(), {"Regulators", "Teplota1.txt"}).isEmpty());
    EXPECT_EQ(user.Read("Regulators/CZ/KVX-40 OPTO.ini"), "shipped model");
    EXPECT_EQ(user.Read("Teplota1.txt"), "t1");
    for (const char* notCopied : {"setup.ini", "Data", "Regulators.bak", "Languages"})
        EXPECT_FALSE(QFileInfo::exists(user.Path() + notCopied)) << notCopied;
}

TEST_F(SeedFixture, NoShippedDataIsNoError)
{
    EXPECT_TRUE(SeedProgramFolder(user.Path() + "nothing/", user.Path()).isEmpty());
}

TEST_F(SeedFixture, AFileThatCannotBeWrittenIsReportedAndTheRestCopied)
{
    user.Write("Regulators", "a file where a folder belongs");
    const QStringList failures = SeedProgramFolder(shipped.Path(), user.Path());
    EXPECT_EQ(failures.size(), 2) << failures.join('\n').toStdString();
    EXPECT_EQ(user.Read("Regulators"), "a file where a folder belongs");
    EXPECT_EQ(user.Read("Teplota1.txt"), "t1");
}

// The serial demo runs in a portable copy as scripts/make-dist.sh lays it out; the USB demo
// (korvalinex --demo) in the copy's Demo/ folder. Both must hold the same program data, or the USB
// demo could not switch languages or open help. The udev rule is for the system, not the program.
TEST(DemoFolder, HoldsTheDataThePortableCopyShips)
{
    const QString script = QString::fromUtf8(SourceFile("scripts/make-dist.sh"));
    QStringList entries;
    for (const auto& m : QRegularExpression(R"re(\$root/data/([^/"]+)")re").globalMatch(script))
        if (!m.captured(1).endsWith(".rules"))
            entries << m.captured(1);
    ASSERT_TRUE(entries.contains("Languages") && entries.contains("Help"))
        << entries.join(' ').toStdString();

    TProgramDir portable;
    QStringList shipped;
    for (const QString& entry : entries) {
        const QString from = QStringLiteral(KX_SOURCE_DIR "/data/") + entry;
        QStringList files = {from};
        if (QFileInfo(from).isDir()) {
            files.clear();
            for (QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
                files << it.next();
        }
        for (const QString& file : files) {
            shipped << entry + file.mid(from.size());
            portable.Write(shipped.last(), ReadBytes(file));
        }
    }
    portable.Write("setup.ini", "[SETUP]\r\nDEVICE=COM\r\n");
    portable.Write("Data/KVX-40 OPTO/mine.zeq", "the user's own");

    const TProgramFolder demo = ChooseProgramFolder(
        portable.Path(), "", "/home/pilot", [](const QString&) { return true; }, TFolderUse::Demo);
    EXPECT_TRUE(SeedProgramFolder(demo.shippedData, demo.path, demo.shippedEntries).isEmpty());
    QStringList inDemo;
    for (QDirIterator it(demo.path, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        inDemo << it.next().mid(demo.path.size());
    // Beside the data, the record of what was copied, for the next upgrade.
    EXPECT_TRUE(inDemo.removeOne(kShippedManifest));
    shipped.sort();
    inDemo.sort();
    EXPECT_EQ(inDemo, shipped);
}

// Signals are turned into events; the window then closes as "Konec" closes it.
TEST(Termination, SigtermClosesTheWindowAndWritesTheSettings)
{
    TShellFixture fx;
    fx.WriteSetup("[SETUP]\r\nDEVICE=none\r\nPOCETP=14\r\n");
    TMainForm& f = fx.Start();
    f.show();
    int requests = 0;
    TTerminationRequests termination([&] {
        ++requests;
        f.close();
    });
    for (int sig : {SIGTERM, SIGINT}) {
        ::raise(sig); // without the handler this would end the test program
        const int before = requests;
        PumpUntil([&] { return requests > before; });
    }
    EXPECT_EQ(requests, 2);
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(GetPrivateProfileString("SETUP", "POCETP", "<missing>", fx.dir.File("setup.ini")),
              "14");
    EXPECT_EQ(GetPrivateProfileString("SETUP", "LANGUAGE", "<missing>", fx.dir.File("setup.ini")),
              "CZ");
}

} // namespace
