#include "tools/cli/ports.h"

#include "link/ftd2xx.h"

#include <cstdint>

namespace {

constexpr DWORD kFtTextBuffer = 64;

// One of the adapter's USB strings; nothing when the adapter cannot say. Why it could not, or why
// it would not open even though it could, is the driver's last open failure.
std::optional<QString> AdapterText(DWORD index, DWORD what)
{
    char text[kFtTextBuffer] = {};
    if (FT_ListDevices(reinterpret_cast<PVOID>(uintptr_t(index)), text, FT_LIST_BY_INDEX | what) !=
        FT_OK)
        return std::nullopt;
    text[kFtTextBuffer - 1] = 0;
    return QString::fromLatin1(text);
}

} // namespace

TPortReport ListPorts(const TPortListDirs& dirs)
{
    TPortReport report;
    report.serialPorts = ListSerialPorts(dirs);
    DWORD count = 0;
    if (FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK)
        return report;
    for (DWORD i = 0; i < count; ++i) {
        const std::optional<QString> serial = AdapterText(i, FT_OPEN_BY_SERIAL_NUMBER);
        const std::optional<QString> description = AdapterText(i, FT_OPEN_BY_DESCRIPTION);
        const FtOpenFailure problem = FT_LastOpenFailure();
        // An adapter the user may not open is still there; only one unplugged since it was
        // counted is not.
        const bool gone = (!serial || !description) &&
                          (problem == FtOpenFailure::None || problem == FtOpenFailure::Gone);
        if (!gone)
            report.adapters.append(
                {serial.value_or(QString()), description.value_or(QString()), problem});
    }
    return report;
}
