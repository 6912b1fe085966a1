#pragma once
// The command line of korvalinex-cli: one command, its argument and the options.

#include <QString>
#include <QStringList>
#include <optional>

// Exit statuses, one per kind of failure, so that a script can tell them apart.
enum TExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,      // a file could not be read or written, or any other failure
    kExitUsage = 2,        // the command line is wrong
    kExitNoRegulator = 3,  // nothing answered, or the regulator stopped answering
    kExitLinkError = 4,    // the port or adapter cannot be opened or used
    kExitModelMissing = 5, // no model definition file for the regulator and language
    kExitCheckFailed = 6,  // after a write the regulator does not hold what was written
    kExitBackupFailed = 7, // the backup before a write or reset could not be made: nothing written
};

inline constexpr int kDefaultTimeoutSeconds = 10;

struct TCliOptions {
    QString command;  // ports, identify, read, write, default, log, restore
    QString argument; // the file of write and restore
    bool help = false;
    QString port;     // --port
    bool usb = false; // --usb
    QString language; // --lang; empty: setup.ini's, else CZ
    QString dataDir;  // --data; empty: the program folder
    QString poles, ratio;
    int timeoutSeconds = kDefaultTimeoutSeconds;
    bool json = false;
    QString output;                                 // -o
    std::optional<double> throttleMin, throttleMax; // ms
};

struct TParsedCommandLine {
    TCliOptions options;
    QString error; // not empty: unusable, with the reason
};

inline const QStringList kCliCommands = {QStringLiteral("ports"),   QStringLiteral("identify"),
                                         QStringLiteral("read"),    QStringLiteral("write"),
                                         QStringLiteral("default"), QStringLiteral("log"),
                                         QStringLiteral("restore")};

TParsedCommandLine ParseCliCommandLine(const QStringList& args);

class TsmlMsgLangRes;

// The usage text: of one command, or of the tool when command is empty. The texts are messages, so
// a language file can translate them.
QString CliUsage(const QString& command, const TsmlMsgLangRes& messages);
