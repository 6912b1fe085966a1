#pragma once
// The main window connected to the in-process regulator simulator through the COM link, on virtual
// time, with the demo model's definition and lookup files in its program folder.

#include "models/parampanel.h"
#include "shellfixture.h"
#include "tests/support/simport.h"
#include "tools/regsim/regfile.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

inline QByteArray SourceFile(const QString& rel)
{
    QFile f(QStringLiteral(KX_SOURCE_DIR "/") + rel);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

struct TCycleFixture : TShellFixture {
    regsim::Regulator sim{regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo")};
    TSimPort port{clock, sim};

    explicit TCycleFixture(bool withModel = true)
    {
        WriteSetup("[SETUP]\r\nDEVICE=COM\r\nCOM=SIM\r\nLANGUAGE=CZ\r\n");
        if (withModel)
            dir.Write("Regulators/CZ/KVX-40 OPTO.ini",
                      SourceFile("data/Regulators/CZ/KVX-40 OPTO.ini"));
        dir.Write("Teplota1.txt", SourceFile("data/Teplota1.txt"));
        dir.Write("Teplota2.txt", SourceFile("data/Teplota2.txt"));
    }
    TMainForm& Connect()
    {
        TMainForm& f = Start(&port);
        port.deliver = [&f](const QByteArray& b) { f.Cycle().Comm1RxChar(b); };
        return f;
    }
    TConnectionCycle& Cycle() { return form->Cycle(); }
    ProtocolState& State() { return form->Cycle().State(); }
    bool Connected() const
    {
        return form->StatusPanel1->text() == QString::fromUtf8(" Regulátor PRIPOJEN ");
    }
    bool Idle()
    {
        return Connected() && !State().busy && form->Button1->isEnabled() &&
               Cycle().Timer2().Enabled();
    }
    // Runs virtual time until the window is connected and idle.
    bool RunUntilIdle(int64_t limitMs = 10000)
    {
        return clock.AdvanceUntil([this] { return Idle(); }, limitMs);
    }
    int Count(regsim::Message m) const { return sim.Count(m); }
    TParameterPanel& Panel() { return form->ParamPanel(); }
};
