// A disk that is full or read-only when setup.ini, a parameter file or EEPROM.txt is written: the
// user gets a box, the window goes on with its cycle, and the file that was there before is still
// whole; no temporary file is left beside it. A full disk is a file size limit (RLIMIT_FSIZE, with
// SIGXFSZ ignored so that the write fails with EFBIG instead of ending the process); a read-only
// disk is the program folder without write permission, entered as an ordinary user when the test
// runs as root.

#include "tests/support/cyclefixture.h"
#include "tests/support/filesizelimit.h"
#include "tests/support/readonly.h"

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <gtest/gtest.h>

namespace {

enum class Disk { Full, ReadOnly };
enum class Target { SetupIni, ParamFile, EepromTxt };

struct TDiskCase {
    Target target;
    Disk disk;
};
std::string CaseName(const TDiskCase& c)
{
    static const char* const targets[] = {"SetupIni", "ParamFile", "EepromTxt"};
    return std::string(targets[int(c.target)]) + (c.disk == Disk::Full ? "_Full" : "_ReadOnly");
}
void PrintTo(const TDiskCase& c, std::ostream* os) { *os << CaseName(c); }

QStringList FilesIn(const QString& dir)
{
    QStringList names;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        names.append(it.next());
    names.sort();
    return names;
}

class DiskFault : public testing::TestWithParam<TDiskCase> {};

TEST_P(DiskFault, TheUserIsToldAndThePreviousFileStaysWhole)
{
    const TDiskCase& c = GetParam();
    TCycleFixture fx;
    // What stood there before: a setup.ini with more than the program writes back, an earlier
    // parameter file, an earlier log.
    const QByteArray setup = "[SETUP]\r\nDEVICE=COM\r\nCOM=SIM\r\nLANGUAGE=CZ\r\n[MINE]\r\nX=1\r\n";
    fx.WriteSetup(setup);
    const QString name = c.target == Target::SetupIni    ? QStringLiteral("setup.ini")
                         : c.target == Target::ParamFile ? QStringLiteral("Data/old.zeq")
                                                         : QStringLiteral("EEPROM.txt");
    const QByteArray previous = c.target == Target::SetupIni ? setup
                                : c.target == Target::ParamFile
                                    ? QByteArray("1\r\n2\r\n3\r\nData\r\n0\r\n0\r\n0\r\n")
                                    : QByteArray("\r\n9 9 9 \r\n");
    fx.dir.Write(name, previous);

    TMainForm& f = fx.Connect();
    ASSERT_TRUE(fx.RunUntilIdle());
    const QStringList filesBefore = FilesIn(fx.dir.Path());
    std::unique_ptr<TFileSizeLimit> limit;
    std::unique_ptr<TReadOnlyFolder> readOnly;
    if (c.disk == Disk::Full) {
        limit = std::make_unique<TFileSizeLimit>(12); // room for the log's first record only
    } else {
        readOnly = std::make_unique<TReadOnlyFolder>(fx.dir.Path());
        ASSERT_TRUE(readOnly->Ok());
    }

    switch (c.target) {
    case Target::SetupIni:
        f.close();
        break;
    case Target::ParamFile:
        fx.dialogs.answers = {fx.dir.File(name)};
        f.Saveas->trigger();
        break;
    case Target::EepromTxt:
        f.EEPROM1->trigger();
        fx.clock.AdvanceUntil([&] { return !fx.State().logPending; }, 30000);
        fx.ShowPostedBoxes();
        break;
    }
    limit.reset();

    // The overwrite question aside, one error box.
    int errorBoxes = 0;
    for (const TRecordedBox& b : fx.boxes.boxes)
        errorBoxes += b.kind != TBoxKind::Plain;
    EXPECT_EQ(errorBoxes, 1) << "the user is told, once";
    QStringList files = filesBefore;
    if (c.target == Target::EepromTxt && c.disk == Disk::Full) {
        // Begun anew, the records that fitted are whole lines; the earlier log is kept beside it.
        EXPECT_EQ(fx.dir.Read(name), "\r\n5 1 2 \r\n");
        const QStringList kept = QDir(fx.dir.Path()).entryList({"EEPROM_*.txt"});
        ASSERT_EQ(kept.size(), 1);
        EXPECT_EQ(fx.dir.Read(kept[0]), previous);
        files.append(fx.dir.File(kept[0]));
        files.sort();
    } else {
        EXPECT_EQ(fx.dir.Read(name), previous) << "the previous file is whole";
    }
    EXPECT_EQ(FilesIn(fx.dir.Path()), files) << "no file left half-written beside it";
    if (c.target != Target::SetupIni) {
        EXPECT_TRUE(fx.RunUntilIdle(30000)) << "back in the cycle";
    }
}

INSTANTIATE_TEST_SUITE_P(Disk, DiskFault,
                         testing::Values(TDiskCase{Target::SetupIni, Disk::Full},
                                         TDiskCase{Target::SetupIni, Disk::ReadOnly},
                                         TDiskCase{Target::ParamFile, Disk::Full},
                                         TDiskCase{Target::ParamFile, Disk::ReadOnly},
                                         TDiskCase{Target::EepromTxt, Disk::Full},
                                         TDiskCase{Target::EepromTxt, Disk::ReadOnly}),
                         [](const auto& info) { return CaseName(info.param); });

} // namespace
