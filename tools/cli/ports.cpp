#include "tools/cli/ports.h"

#include "link/ftd2xx.h"

#include <cstdint>

namespace {

constexpr DWORD kFtTextBuffer = 64;

// One of the adapter's USB strings; nothing when the adapter cannot say (gone since it was
// counted).
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
        if (serial && description)
            report.adapters.append({*serial, *description});
    }
    return report;
}
