#include "tools/regsim/regfile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace regsim {

namespace {

// A data frame's length byte limits every payload the regulator sends.
constexpr size_t kMaxPayload = 255;
constexpr uint8_t kLogEndMarker = 0x08;
// Reading a runaway file (a device, a wrong path) must not eat the memory.
constexpr std::streamoff kMaxFileSize = 1 << 20;

std::string Trim(const std::string& s)
{
    const char* blanks = " \t\r\n";
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The comment starts at the first '#' outside double quotes.
std::string StripComment(const std::string& line)
{
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == '#' && !quoted)
            return line.substr(0, i);
    }
    return line;
}

struct Fail {
    std::string reason;
};

std::string ParseText(const std::string& value, const std::string& key, size_t width)
{
    std::string text = value;
    if (!text.empty() && text.front() == '"') {
        if (text.size() < 2 || text.back() != '"')
            throw Fail{"unterminated quote in " + key};
        text = text.substr(1, text.size() - 2);
        if (text.find('"') != std::string::npos)
            throw Fail{"a quote inside the text of " + key};
    }
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            throw Fail{"control character in " + key};
    }
    if (text.size() > width)
        throw Fail{key + " is longer than " + std::to_string(width) + " characters"};
    return text;
}

unsigned long ParseNumber(const std::string& value, const std::string& key, unsigned long max)
{
    std::string digits = value;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        base = 16;
    }
    const bool ok = !digits.empty() && std::all_of(digits.begin(), digits.end(), [&](char c) {
        return base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                          : std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    if (!ok)
        throw Fail{"not a number for " + key + ": \"" + value + "\""};
    // Long digit strings would overflow the conversion before the range check sees them.
    const std::string significant =
        digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
    unsigned long n =
        significant.size() > 8 ? max + 1 : std::stoul("0" + significant, nullptr, base);
    if (n > max)
        throw Fail{key + " is out of range 0.." + std::to_string(max) + ": \"" + value + "\""};
    return n;
}

Bytes ParseBytes(const std::string& value, const std::string& key)
{
    Bytes out;
    std::istringstream in(value);
    std::string token;
    while (in >> token) {
        const bool ok = token.size() <= 2 && std::all_of(token.begin(), token.end(), [](char c) {
                            return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                        });
        if (!ok)
            throw Fail{"not a hex byte in " + key + ": \"" + token + "\""};
        out.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    }
    return out;
}

enum class Kind { Text, Number, ByteList };

struct KeyInfo {
    Kind kind;
    size_t limit; // text width or largest number
    bool repeatable;
};

const std::map<std::string, KeyInfo>& Keys()
{
    static const std::map<std::string, KeyInfo> keys = {
        {"name", {Kind::Text, kNameWidth, false}},
        {"version", {Kind::Text, kVersionWidth, false}},
        {"date", {Kind::Text, kDateWidth, false}},
        {"flags", {Kind::Number, 0xFF, false}},
        {"speed", {Kind::Number, 0xFFFF, false}},
        {"throttle-max", {Kind::Number, 0xFFFF, false}},
        {"throttle-min", {Kind::Number, 0xFFFF, false}},
        {"display", {Kind::ByteList, 0, false}},
        {"options", {Kind::ByteList, 0, false}},
        {"factory-throttle-max", {Kind::Number, 0xFFFF, false}},
        {"factory-throttle-min", {Kind::Number, 0xFFFF, false}},
        {"factory-options", {Kind::ByteList, 0, false}},
        {"log", {Kind::ByteList, 0, true}},
    };
    return keys;
}

} // namespace

int VersionNumber(const std::string& version)
{
    if (version.size() < 4)
        return -1;
    const unsigned char a = version[2], b = version[3];
    if (!std::isdigit(a) || !std::isdigit(b))
        return -1;
    return (a - '0') * 10 + (b - '0');
}

FileError::FileError(const std::string& source, int line, const std::string& reason)
    : std::runtime_error(source + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
                         reason),
      line_(line), reason_(reason)
{
}

namespace {

// What the lines of a file have given so far.
struct Reading {
    RegulatorData data;
    std::map<std::string, int> seen; // key -> first line
    std::optional<uint16_t> factoryMax, factoryMin;
    std::optional<Bytes> factoryOptions;
    int factoryOptionsLine = 0;
};

void SetNumber(Reading& r, const std::string& key, unsigned long n)
{
    if (key == "flags")
        r.data.flags = static_cast<uint8_t>(n);
    else if (key == "speed")
        r.data.speed = static_cast<uint16_t>(n);
    else if (key == "throttle-max")
        r.data.block.throttleMax = static_cast<uint16_t>(n);
    else if (key == "throttle-min")
        r.data.block.throttleMin = static_cast<uint16_t>(n);
    else if (key == "factory-throttle-max")
        r.factoryMax = static_cast<uint16_t>(n);
    else
        r.factoryMin = static_cast<uint16_t>(n);
}

void SetBytes(Reading& r, const std::string& key, Bytes bytes, int lineNo)
{
    if (bytes.empty())
        throw Fail{"no value for " + key};
    if (key == "display") {
        r.data.display = std::move(bytes);
    } else if (key == "options") {
        r.data.block.options = std::move(bytes);
    } else if (key == "factory-options") {
        r.factoryOptions = std::move(bytes);
        r.factoryOptionsLine = lineNo;
    } else {
        if (bytes.size() > kMaxPayload)
            throw Fail{"log record longer than 255 bytes"};
        if (bytes.front() == kLogEndMarker)
            throw Fail{"log record begins with 08, which marks the end of the log"};
        r.data.log.push_back(std::move(bytes));
    }
}

// One non-empty line without its comment.
void ReadLine(Reading& r, const std::string& line, int lineNo)
{
    const auto eq = line.find('=');
    if (eq == std::string::npos)
        throw Fail{"expected \"key = value\""};
    const std::string key = Lower(Trim(line.substr(0, eq)));
    const std::string value = Trim(line.substr(eq + 1));
    const auto info = Keys().find(key);
    if (key.empty())
        throw Fail{"missing key before \"=\""};
    if (info == Keys().end())
        throw Fail{"unknown key \"" + key + "\""};
    if (!info->second.repeatable && r.seen.count(key))
        throw Fail{key + " given twice (first on line " + std::to_string(r.seen[key]) + ")"};
    r.seen.emplace(key, lineNo);
    if (value.empty())
        throw Fail{"no value for " + key};

    const KeyInfo& k = info->second;
    if (k.kind == Kind::Text) {
        const std::string s = ParseText(value, key, k.limit);
        (key == "name" ? r.data.name : key == "version" ? r.data.version : r.data.date) = s;
    } else if (k.kind == Kind::Number) {
        SetNumber(r, key, ParseNumber(value, key, k.limit));
    } else {
        SetBytes(r, key, ParseBytes(value, key), lineNo);
    }
}

// The rules that hold between keys, once every line is read; the factory values default to the
// current ones.
RegulatorData Complete(Reading& r, const std::string& source)
{
    RegulatorData& data = r.data;
    for (const char* required : {"name", "version", "throttle-max", "throttle-min"}) {
        if (!r.seen.count(required))
            throw FileError(source, 0, std::string("missing key ") + required);
    }
    if (VersionNumber(data.version) >= 3 && !r.seen.count("speed"))
        throw FileError(source, r.seen["version"],
                        "version number 3 or more needs a speed value (key speed)");
    const size_t readPayload = 4 + (VersionNumber(data.version) >= 3 ? 2 : 0) +
                               data.display.size() + data.block.options.size();
    if (readPayload > kMaxPayload)
        throw FileError(source, 0,
                        "display and option bytes make a read reply longer than 255 bytes");

    data.factory.throttleMax = r.factoryMax.value_or(data.block.throttleMax);
    data.factory.throttleMin = r.factoryMin.value_or(data.block.throttleMin);
    data.factory.options = r.factoryOptions.value_or(data.block.options);
    if (data.factory.options.size() != data.block.options.size())
        throw FileError(source, r.factoryOptionsLine,
                        "factory-options has " + std::to_string(data.factory.options.size()) +
                            " bytes, options has " + std::to_string(data.block.options.size()));
    return std::move(data);
}

} // namespace

RegulatorData ParseRegulatorText(const std::string& text, const std::string& source)
{
    Reading reading;
    std::istringstream in(text);
    std::string raw;
    int lineNo = 0;
    while (std::getline(in, raw)) {
        ++lineNo;
        const std::string line = Trim(StripComment(raw));
        if (line.empty())
            continue;
        try {
            ReadLine(reading, line, lineNo);
        } catch (const Fail& f) {
            throw FileError(source, lineNo, f.reason);
        }
    }
    return Complete(reading, source);
}

RegulatorData LoadRegulatorFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw FileError(path, 0, std::string("cannot open: ") + std::strerror(errno));
    std::string text;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (static_cast<std::streamoff>(text.size()) > kMaxFileSize)
            throw FileError(path, 0, "file is larger than 1 MiB");
    }
    if (in.bad())
        throw FileError(path, 0, "read error");
    return ParseRegulatorText(text, path);
}

const std::string& DemoRegulatorText()
{
    static const std::string text =
#include "regsim_demo.inc"
        ;
    return text;
}

} // namespace regsim
