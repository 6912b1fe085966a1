#pragma once
// What `ports` finds: the serial ports that can be opened now and the FTDI adapters attached, the
// adapters through whichever FT_* driver is installed.

#include "link/portlist.h"
#include "tools/cli/report.h"

TPortReport ListPorts(const TPortListDirs& dirs = {});
