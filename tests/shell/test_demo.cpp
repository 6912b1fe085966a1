// The start options, and the demo module loaded as the program loads it: the simulated adapter is
// reached only through the FTDI driver it hands out.

#include "link/ftd2xx.h"
#include "shell/demo.h"
#include "tests/support/programdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

struct OptionsCase {
    const char* name;
    QStringList args;
    bool ok;
    bool demo;
    bool paced;
    const char* regulatorFile;
    bool help;
};

void PrintTo(const OptionsCase& c, std::ostream* os) { *os << c.name; }

class StartOptions : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(StartOptions, AreParsed)
{
    const OptionsCase& c = GetParam();
    TStartOptions o;
    QString error;
    ASSERT_EQ(ParseStartOptions(c.args, &o, &error), c.ok) << error.toStdString();
    EXPECT_EQ(error.isEmpty(), c.ok);
    if (!c.ok)
        return;
    EXPECT_EQ(o.demo, c.demo);
    EXPECT_EQ(o.paced, c.paced);
    EXPECT_EQ(o.regulatorFile, c.regulatorFile);
    EXPECT_EQ(o.help, c.help);
}

const OptionsCase kOptions[] = {
    {"None", {}, true, false, true, "", false},
    {"Demo", {"--demo"}, true, true, true, "", false},
    {"DemoWithFile", {"--demo", "my.regsim"}, true, true, true, "my.regsim", false},
    {"Unpaced", {"--demo-unpaced"}, true, true, false, "", false},
    {"UnpacedWithFile", {"--demo-unpaced", "a.regsim"}, true, true, false, "a.regsim", false},
    {"DemoThenUnpaced",
     {"--demo", "a.regsim", "--demo-unpaced"},
     true,
     true,
     false,
     "a.regsim",
     false},
    {"Help", {"--help"}, true, false, true, "", true},
    {"ShortHelp", {"-h"}, true, false, true, "", true},
    {"FileWithoutDemo", {"my.regsim"}, false, false, false, "", false},
    {"TwoFiles", {"--demo", "a.regsim", "b.regsim"}, false, false, false, "", false},
    {"UnknownOption", {"--demo", "--fast"}, false, false, false, "", false},
};

INSTANTIATE_TEST_SUITE_P(, StartOptions, ::testing::ValuesIn(kOptions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StartHelp, NamesEveryOption)
{
    for (const char* option : {"--demo [REGULATOR-FILE]", "--demo-unpaced", "--help"})
        EXPECT_TRUE(StartOptionsHelp().contains(option)) << option;
}

TEST(DemoModule, IsLookedForBesideTheExecutableThenInTheInstalledLibraryFolder)
{
    // The installed folder is the package's (lib/<architecture>/korvalinex on Debian).
    EXPECT_EQ(
        DemoModuleCandidates("/usr/bin"),
        (QStringList{"/usr/bin/korvalinex-demo.so", "/usr/" KX_MODULE_DIR "/korvalinex-demo.so"}));
    EXPECT_EQ(DemoModuleCandidates("/media/stick/dist/"),
              (QStringList{"/media/stick/dist/korvalinex-demo.so",
                           "/media/stick/" KX_MODULE_DIR "/korvalinex-demo.so"}));
}

std::string Description(IFtDriver& driver, int index)
{
    char text[kFtDeviceTextSize] = {};
    if (driver.ListDevices(reinterpret_cast<PVOID>(static_cast<uintptr_t>(index)), text,
                           FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) != FT_OK)
        return "<none>";
    return text;
}

DWORD Count(IFtDriver& driver)
{
    DWORD n = 99;
    EXPECT_EQ(driver.ListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    return n;
}

TEST(DemoModule, OffersTheSimulatedAdapterThatCanBeUnpluggedAndReplugged)
{
    QString error;
    const auto demo =
        TDemoAdapter::Load({"/nonexistent/korvalinex-demo.so", KX_DEMO_MODULE}, {}, false, &error);
    ASSERT_TRUE(demo) << error.toStdString();
    IFtDriver& driver = *demo->Driver();
    ASSERT_EQ(Count(driver), 1u);
    EXPECT_EQ(Description(driver, 0), "Simulated FT232R USB UART");

    // The built-in regulator answers the wake-up pattern with its identification.
    FT_HANDLE h = nullptr;
    ASSERT_EQ(driver.Open(0, &h), FT_OK);
    uint8_t wake[32];
    std::fill(std::begin(wake), std::end(wake), 0x55);
    DWORD written = 0, rx = 0;
    ASSERT_EQ(driver.Write(h, wake, sizeof wake, &written), FT_OK);
    ASSERT_EQ(driver.GetQueueStatus(h, &rx), FT_OK);
    EXPECT_GT(rx, 0u) << "no identification from the built-in regulator";

    EXPECT_FALSE(demo->TogglePlug());
    EXPECT_EQ(Count(driver), 0u);
    EXPECT_NE(driver.GetQueueStatus(h, &rx), FT_OK) << "the unplugged adapter's handle is dead";
    EXPECT_TRUE(demo->TogglePlug());
    EXPECT_EQ(Count(driver), 1u);
    ASSERT_EQ(driver.Open(0, &h), FT_OK);
    EXPECT_EQ(driver.Close(h), FT_OK);
}

TEST(DemoModule, SaysWhyItCannotStart)
{
    TProgramDir dir;
    dir.Write("broken.regsim", "this is no regulator\n");
    QString error;
    EXPECT_FALSE(TDemoAdapter::Load({KX_DEMO_MODULE}, dir.File("broken.regsim"), true, &error));
    EXPECT_TRUE(error.contains("broken.regsim")) << error.toStdString();

    EXPECT_FALSE(TDemoAdapter::Load({dir.File("none.so")}, {}, true, &error));
    EXPECT_TRUE(error.contains(dir.File("none.so"))) << error.toStdString();

    dir.Write("korvalinex-demo.so", "not a shared object");
    EXPECT_FALSE(TDemoAdapter::Load({dir.File("korvalinex-demo.so")}, {}, true, &error));
    EXPECT_TRUE(error.contains("unable to load")) << error.toStdString();
}

} // namespace
