#pragma once
// The connection check's readings of the machine: whether the configured link (or one given) is
// there, whether this user may open it, who else holds it, what else on the machine takes such
// devices, and for an FTDI adapter its listing and the udev rule. Widget-free; the window and the
// command-line tool both run it and show what it returns.

#include "diagnose/findings.h"
#include "diagnose/machine.h"

#include <QString>

class TsmlMsgLangRes;
struct TUserSettings;

// The link to check: a serial port by the name the settings hold (a device path, a stable name,
// "COMn"), or an FTDI adapter (serial number empty: the first one listed).
struct TCheckedLink {
    bool usb = false;
    QString port;
    QString usbSerial;
    bool fromSetup = false; // setup.ini chose it, rather than the user asking for this one
};

// The link that setup.ini chooses, as the window uses it.
TCheckedLink LinkOfSettings(const TUserSettings& settings);

// Everything that can be told without opening the link. The FTDI adapters are listed through the
// FT_* driver installed; the rest is read through the machine.
// programDir (with "/"): where a portable copy keeps the udev rule to be copied; the rule of the
// source tree is named otherwise.
QList<TFinding> CheckMachine(const TMachine& machine, const TCheckedLink& link,
                             const TsmlMsgLangRes& messages, const QString& programDir = {});

// Once the regulator has said its name: the model definition file the program looks for in the
// language chosen, and which other languages have one.
TFinding CheckModelFile(const QString& programDir, const QString& language, const QString& model,
                        const TsmlMsgLangRes& messages);

// Why a serial port does not open, in words a user can act on, from the system's error code: no
// such device, no permission, in use by another program, not a serial port, or the system's own.
QString PortOpenFailureText(int code, const TsmlMsgLangRes& messages);

// A message with its %1, %2, ... filled in one pass, so that a value holding "%2" stays as it is.
QString FillMessage(const TsmlMsgLangRes& messages, const QString& key, const QStringList& args);
