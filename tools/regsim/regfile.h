#pragma once
// The simulated regulator's description: identity, parameter block, factory block and log, read
// from a small text file of "key = value" lines (see data/regsim/demo.regsim for every key).

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace regsim {

using Bytes = std::vector<uint8_t>;

// Field widths of the identification payload as the regulator sends them.
constexpr size_t kNameWidth = 16;
constexpr size_t kVersionWidth = 5;
constexpr size_t kDateWidth = 9;

// What a write replaces and what the default request restores.
struct ParameterBlock {
    uint16_t throttleMax = 0; // microseconds
    uint16_t throttleMin = 0;
    Bytes options; // one byte per option position: chosen item counted from 1, 0 for none

    bool operator==(const ParameterBlock&) const = default;
};

struct RegulatorData {
    std::string name;    // at most kNameWidth bytes; sent blank padded
    std::string version; // at most kVersionWidth bytes
    std::string date;    // at most kDateWidth bytes
    uint8_t flags = 0;   // bit 7: keeps a log, bit 4: alternate scale
    uint16_t speed = 0;  // the value T; on the wire only when the version number is 3 or more
    Bytes display;       // raw display bytes
    ParameterBlock block;
    ParameterBlock factory;
    std::vector<Bytes> log; // records in order; the end record is added when they run out
};

// The version number the program derives from the version text: its 3rd and 4th characters as a
// decimal number, or -1 when they are not two digits (such a regulator sends no T).
int VersionNumber(const std::string& version);

// A file that cannot be used. line is 1-based; 0 when the fault concerns the file as a whole.
class FileError : public std::runtime_error {
public:
    FileError(const std::string& source, int line, const std::string& reason);
    int Line() const { return line_; }
    const std::string& Reason() const { return reason_; }

private:
    int line_;
    std::string reason_;
};

// source names the text in error messages ("source:line: reason").
RegulatorData ParseRegulatorText(const std::string& text, const std::string& source);
RegulatorData LoadRegulatorFile(const std::string& path);

// The demo regulator of data/regsim/demo.regsim, built into the library so that the program works
// without the data folder.
const std::string& DemoRegulatorText();

} // namespace regsim
