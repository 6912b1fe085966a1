#include "tools/cli/ports.h"

#include "link/usbdevices.h"

TPortReport ListPorts(const TPortListDirs& dirs)
{
    TPortReport report;
    report.serial = SurveySerialPorts(dirs);
    for (const TListedAdapter& a : ListAdapters())
        report.adapters.append({a.serialNo, a.description, a.problem});
    return report;
}
