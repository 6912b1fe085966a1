// The demo module's entry points over the simulator. It reports on stderr what the regulator was
// asked, one line per identification, block read and write, so that a run without a display can
// be followed and checked.

#include "link/ftdemomodule.h"

#include "tools/regsim/ftsimadapter.h"
#include "tools/regsim/regfile.h"
#include "tools/regsim/regulator.h"

#include <cstdio>
#include <exception>
#include <memory>

#define KX_DEMO_EXPORT __attribute__((visibility("default")))

struct KxDemo {
    std::unique_ptr<regsim::Regulator> regulator;
    regsim::FtSimAdapters adapters;
    int adapter = -1;
    bool plugged = true;
};

namespace {

void Report(const regsim::Event& e)
{
    switch (e.message) {
    case regsim::Message::WakeUp:
        std::fputs("simulated regulator: identification\n", stderr);
        break;
    case regsim::Message::Read:
        std::fputs("simulated regulator: read\n", stderr);
        break;
    case regsim::Message::Write:
        if (e.write)
            std::fprintf(stderr, "simulated regulator: write %s\n",
                         e.write->stored ? "stored" : "refused");
        break;
    default: // presence queries come every few seconds and would drown the rest
        break;
    }
}

} // namespace

extern "C" {

KX_DEMO_EXPORT KxDemo* kx_demo_create(const char* regulatorFile, int paced, char* error,
                                      size_t errorSize)
{
    try {
        auto demo = std::make_unique<KxDemo>();
        demo->regulator = std::make_unique<regsim::Regulator>(
            regulatorFile ? regsim::LoadRegulatorFile(regulatorFile)
                          : regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo"));
        demo->regulator->SetObserver(Report);
        demo->adapters.SetPaced(paced != 0);
        demo->adapter = demo->adapters.AddAdapter("KX000001", "Simulated FT232R USB UART",
                                                  demo->regulator.get());
        return demo.release();
    } catch (const std::exception& e) {
        if (error && errorSize > 0)
            std::snprintf(error, errorSize, "%s", e.what());
        return nullptr;
    }
}

KX_DEMO_EXPORT IFtDriver* kx_demo_driver(KxDemo* demo) { return &demo->adapters; }

KX_DEMO_EXPORT int kx_demo_toggle_plug(KxDemo* demo)
{
    demo->plugged = !demo->plugged;
    if (demo->plugged)
        demo->adapters.Plug(demo->adapter);
    else
        demo->adapters.Unplug(demo->adapter);
    return demo->plugged ? 1 : 0;
}

KX_DEMO_EXPORT void kx_demo_destroy(KxDemo* demo) { delete demo; }
}
