#pragma once
// A main window in a temporary program folder, on virtual time, with recorded message boxes and no
// USB adapter.

#include "common/clock.h"
#include "common/filewriter.h"
#include "link/commconnect.h"
#include "shell/mainform.h"
#include "shell/numedit.h"
#include "tests/support/files.h"
#include "tests/support/programdir.h"
#include "tests/support/recorders.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <memory>

struct TShellFixture {
    TProgramDir dir;
    VirtualClock clock;
    TRecordingBoxes boxes;
    TCountingNoUsb usb;
    TScriptedDialogs dialogs;
    // The disk out of the protocol's virtual time: every file is written when it is handed over.
    TImmediateFileWriter files;
    IFileWriter* writer = nullptr; // another writer instead, set before Start
    std::unique_ptr<TMainForm> form;

    void WriteSetup(const QByteArray& content) const
    {
        dir.Write(QStringLiteral("setup.ini"), content);
    }
    TMainForm& Start(ISerialPort* com = nullptr, IUsbLink* usbLink = nullptr)
    {
        TMainFormEnv env;
        env.programDir = dir.Path();
        env.clock = &clock;
        env.boxes = &boxes;
        env.usb = usbLink ? usbLink : &usb;
        env.com = com;
        env.dialogs = &dialogs;
        env.files = writer ? writer : &files;
        form = std::make_unique<TMainForm>(env);
        return *form;
    }
};
