// The simulator's description files: the demo regulator's layout (the lead's model definition file
// is written against it), the accepted syntax, and a clear line-numbered error for each bad line.

#include "tools/regsim/regfile.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

using regsim::Bytes;
using regsim::FileError;
using regsim::ParseRegulatorText;
using regsim::RegulatorData;

namespace {

std::string WriteFile(const QTemporaryDir& dir, const char* name, const std::string& content)
{
    const std::string path = dir.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string Repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

// Parses and returns the error, or fails the test when the text is accepted.
FileError ErrorOf(const std::string& text)
{
    try {
        ParseRegulatorText(text, "t.regsim");
    } catch (const FileError& e) {
        return e;
    }
    ADD_FAILURE() << "accepted:\n" << text;
    return FileError("", -1, "");
}

} // namespace

TEST(RegulatorFile, DemoRegulatorLayout)
{
    const RegulatorData d = ParseRegulatorText(regsim::DemoRegulatorText(), "demo");
    EXPECT_EQ(d.name, "KVX-40 OPTO");
    EXPECT_EQ(d.version, "V.03a");
    EXPECT_EQ(regsim::VersionNumber(d.version), 3);
    EXPECT_EQ(d.date, "12.10.26");
    EXPECT_EQ(d.flags, 0x80);
    EXPECT_EQ(d.block.throttleMax, 2000);
    EXPECT_EQ(d.block.throttleMin, 1100);
    EXPECT_EQ(d.speed, 0x0F00);
    EXPECT_EQ(d.display, (Bytes{118, 42, 3}));
    EXPECT_EQ(d.block.options, (Bytes{2, 1, 3, 1, 4, 2}));
    EXPECT_EQ(d.factory.throttleMax, 1900);
    EXPECT_EQ(d.factory.throttleMin, 1000);
    EXPECT_EQ(d.factory.options, (Bytes{1, 1, 1, 2, 1, 1}));
    EXPECT_NE(d.factory, d.block);
    ASSERT_EQ(d.log.size(), 3u);
    EXPECT_EQ(d.log[0], (Bytes{0x05, 0x01, 0x02}));
}

TEST(RegulatorFile, DemoFileOnDiskIsTheBuiltInOne)
{
    const RegulatorData fromDisk = regsim::LoadRegulatorFile(KX_REGSIM_DEMO_FILE);
    const RegulatorData builtIn = ParseRegulatorText(regsim::DemoRegulatorText(), "demo");
    EXPECT_EQ(fromDisk.name, builtIn.name);
    EXPECT_EQ(fromDisk.block, builtIn.block);
    EXPECT_EQ(fromDisk.factory, builtIn.factory);
    EXPECT_EQ(fromDisk.log, builtIn.log);
}

TEST(RegulatorFile, SyntaxVariantsAndDefaults)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = WriteFile(dir, "r.regsim",
                                       "# comment line\r\n"
                                       "\r\n"
                                       "NAME = \"A # B\"   # a hash inside quotes is text\r\n"
                                       "Version=V.02\r\n"
                                       "date =   1.1.1  \r\n"
                                       "throttle-max = 0x7D0\r\n"
                                       "throttle-min = 0\r\n"
                                       "flags = 0X90\r\n"
                                       "options = 1 a 0F\r\n"
                                       "log = 1\r\n"
                                       "log = 2 3\r\n");
    const RegulatorData d = regsim::LoadRegulatorFile(path);
    EXPECT_EQ(d.name, "A # B");
    EXPECT_EQ(d.version, "V.02");
    EXPECT_EQ(d.date, "1.1.1");
    EXPECT_EQ(d.block.throttleMax, 2000);
    EXPECT_EQ(d.flags, 0x90);
    EXPECT_EQ(d.block.options, (Bytes{0x01, 0x0A, 0x0F}));
    EXPECT_EQ(d.factory, d.block); // no factory keys: the block itself
    EXPECT_EQ(d.log, (std::vector<Bytes>{{0x01}, {0x02, 0x03}}));
    EXPECT_TRUE(d.display.empty());
}

TEST(RegulatorFile, BadLinesAreNamedWithTheirReason)
{
    // Five good lines; the bad line becomes line 6.
    const std::string base = "name = AB\n"
                             "version = V.02b\n"
                             "throttle-max = 2000\n"
                             "throttle-min = 1100\n"
                             "options = 01 02 03\n";
    const struct {
        const char* line;
        const char* reason;
    } cases[] = {
        {"just words", "expected \"key = value\""},
        {"= 5", "missing key"},
        {"colour = red", "unknown key \"colour\""},
        {"name = CD", "name given twice (first on line 1)"},
        {"date =", "no value for date"},
        {"date = # only a comment", "no value for date"},
        {"date = \"12.10", "unterminated quote"},
        {"date = \"a\"b\"", "quote inside"},
        {"date = 1234567890", "date is longer than 9 characters"},
        {"date = \"a\tb\"", "control character"},
        {"flags = 0x100", "flags is out of range 0..255"},
        {"flags = -1", "not a number"},
        {"speed = 12a", "not a number"},
        {"speed = 99999999999999999999", "out of range"},
        {"speed = 0x", "not a number"},
        {"display = 1G", "not a hex byte in display: \"1G\""},
        {"display = 123", "not a hex byte"},
        {"log = 08 01", "begins with 08"},
        {"factory-options = 01 02", "factory-options has 2 bytes, options has 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const FileError e = ErrorOf(base + c.line + "\nflags = 1\n");
        EXPECT_EQ(e.Line(), 6);
        EXPECT_NE(e.Reason().find(c.reason), std::string::npos) << e.Reason();
        EXPECT_EQ(std::string(e.what()).rfind("t.regsim:6: ", 0), 0u) << e.what();
    }
}

TEST(RegulatorFile, WholeFileFaults)
{
    const struct {
        const char* what;
        std::string text;
        int line;
        const char* reason;
    } cases[] = {
        {"missing limit", "name = A\nversion = V.02\nthrottle-max = 1\n", 0,
         "missing key throttle-min"},
        {"version 3 without speed",
         "name = A\nversion = V.03\nthrottle-max = 1\nthrottle-min = 1\n", 2,
         "needs a speed value"},
        {"read reply over 255 bytes",
         "name = A\nversion = V.02\nthrottle-max = 1\nthrottle-min = 1\noptions =" +
             Repeat(" 01", 252),
         0, "longer than 255 bytes"},
        {"binary junk", std::string("\x01\x02\xff=\x00", 5), 1, "unknown key"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FileError e = ErrorOf(c.text);
        EXPECT_EQ(e.Line(), c.line);
        EXPECT_NE(e.Reason().find(c.reason), std::string::npos) << e.Reason();
    }
}

TEST(RegulatorFile, UnreadableFilesGiveAnErrorNotACrash)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string missing = dir.filePath("none.regsim").toStdString();
    try {
        regsim::LoadRegulatorFile(missing);
        FAIL() << "missing file accepted";
    } catch (const FileError& e) {
        EXPECT_EQ(e.Line(), 0);
        EXPECT_NE(std::string(e.what()).find(missing + ": cannot open"), std::string::npos);
    }
    EXPECT_THROW(regsim::LoadRegulatorFile(dir.path().toStdString()), FileError);
}
