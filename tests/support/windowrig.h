#pragma once
// What every main-window rig has in common, whichever link the regulator is behind: a temporary
// program folder, virtual time, recorded message boxes, no USB adapter unless the rig brings one,
// and the disk out of the protocol's virtual time (every file written when it is handed over).
// Rigs whose members the window uses let the window go first, in their own destructor.

#include "common/clock.h"
#include "common/filewriter.h"
#include "shell/mainform.h"
#include "tests/support/programdir.h"
#include "tests/support/recorders.h"

#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <memory>

struct TWindowRig {
    TProgramDir dir;
    VirtualClock clock;
    TRecordingBoxes boxes;
    TCountingNoUsb usb;
    TImmediateFileWriter files;
    std::unique_ptr<TMainForm> form;
    // What the window handed to the desktop's viewer; the viewer fails while viewerFails is set.
    QList<QUrl> opened;
    bool viewerFails = false;

    void WriteSetup(const QByteArray& content) const
    {
        dir.Write(QStringLiteral("setup.ini"), content);
    }
    // The window's environment with the rig's folder, clock, boxes, adapter link and disk.
    TMainFormEnv Env()
    {
        TMainFormEnv env;
        env.programDir = dir.Path();
        env.clock = &clock;
        env.boxes = &boxes;
        env.usb = &usb;
        env.files = &files;
        env.openUrl = [this](const QUrl& url) {
            opened.append(url);
            return !viewerFails;
        };
        return env;
    }
    TMainForm& StartWith(const TMainFormEnv& env)
    {
        form = std::make_unique<TMainForm>(env);
        return *form;
    }
    TConnectionCycle& Cycle() { return form->Cycle(); }
    // A box the cycle asks for shows once its handling has returned: a tick of time later.
    void ShowPostedBoxes() { clock.Advance(1); }
    ProtocolState& State() { return form->Cycle().State(); }
    bool Connected() const
    {
        return form->StatusPanel1->text() == QString::fromUtf8(" Regulátor PRIPOJEN ");
    }
};
