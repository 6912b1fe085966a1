#pragma once
// A main window in a temporary program folder, on virtual time, with recorded message boxes and
// file dialogs and no USB adapter.

#include "link/commconnect.h"
#include "shell/numedit.h"
#include "tests/support/files.h"
#include "tests/support/windowrig.h"

#include <QAction>
#include <QFrame>
#include <QProgressBar>
#include <QStatusBar>

struct TShellFixture : TWindowRig {
    TScriptedDialogs dialogs;
    IFileWriter* writer = nullptr; // another writer instead, set before Start

    ~TShellFixture() { form.reset(); }
    TMainForm& Start(ISerialPort* com = nullptr, IUsbLink* usbLink = nullptr)
    {
        TMainFormEnv env = Env();
        env.com = com;
        if (usbLink)
            env.usb = usbLink;
        env.dialogs = &dialogs;
        if (writer)
            env.files = writer;
        return StartWith(env);
    }
};
