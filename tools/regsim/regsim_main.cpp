// regsim: the simulated regulator on a pseudo-terminal, for tests and for trying the program
// without hardware. See UsageText() for the options.

#include "tools/regsim/server.h"

#include <cstdio>

int main(int argc, char** argv)
{
    const regsim::CommandLine cl = regsim::ParseCommandLine(argc, argv);
    if (cl.help) {
        std::fputs(regsim::UsageText(), stdout);
        return 0;
    }
    if (!cl.error.empty()) {
        std::fprintf(stderr, "regsim: %s\n%s", cl.error.c_str(), regsim::UsageText());
        return 2;
    }
    try {
        const regsim::RegulatorData data =
            cl.options.file.empty()
                ? regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "built-in demo")
                : regsim::LoadRegulatorFile(cl.options.file);
        return regsim::RunServer(cl.options, data);
    } catch (const regsim::FileError& e) {
        std::fprintf(stderr, "regsim: %s\n", e.what());
        return 1;
    }
}
