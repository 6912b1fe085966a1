#pragma once
// The main window connected to the in-process regulator simulator through the COM link, on virtual
// time, with the demo model's definition and lookup files in its program folder. The window goes
// before the port and the regulator it was given.

#include "models/parampanel.h"
#include "tests/support/shellfixture.h"
#include "tests/support/simport.h"
#include "tools/regsim/regfile.h"

#include <QGroupBox>
#include <QRadioButton>

struct TCycleFixture : TShellFixture {
    regsim::Regulator sim;
    TSimPort port{clock, sim};

    // The demo regulator, or another regulator with the demo model's files.
    explicit TCycleFixture(bool withModel = true,
                           regsim::RegulatorData regulator =
                               regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo"))
        : sim(std::move(regulator))
    {
        WriteSetup("[SETUP]\r\nDEVICE=COM\r\nCOM=SIM\r\nLANGUAGE=CZ\r\n");
        dir.WriteDemoFiles(withModel);
    }
    ~TCycleFixture() { form.reset(); }
    TMainForm& Connect()
    {
        TMainForm& f = Start(&port);
        return f;
    }
    bool Idle()
    {
        return Connected() && !State().busy && form->Button1->isEnabled() &&
               Cycle().PresenceTimer().Enabled() && !form->WriteUnchecked();
    }
    // Runs virtual time until the window is connected and idle.
    bool RunUntilIdle(int64_t limitMs = 10000)
    {
        return clock.AdvanceUntil([this] { return Idle(); }, limitMs);
    }
    int Count(regsim::Message m) const { return sim.Count(m); }
    TParameterPanel& Panel() { return form->ParamPanel(); }
};
