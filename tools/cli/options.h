#pragma once
// The command line of korvalinex-cli: one command, its argument and the options.

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
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
    QString port;      // --port
    bool usb = false;  // --usb
    QString usbSerial; // --usb SERIAL: the adapter with that serial number; empty: the first
    QString language;  // --lang; empty: setup.ini's, else CZ
    QString dataDir;   // --data; empty: the program folder
    QString poles, ratio;
    int timeoutSeconds = kDefaultTimeoutSeconds;
    bool json = false;
    QString output;                                 // -o
    std::optional<double> throttleMin, throttleMax; // ms
};

// What is wrong with a command line: a message key and its arguments, put into words once the
// language is known.
struct TCliError {
    QString key;
    QStringList args;
    bool Empty() const { return key.isEmpty(); }
};

struct TParsedCommandLine {
    TCliOptions options;
    TCliError error; // not empty: unusable, with the reason
};

inline const QStringList kCliCommands = {QStringLiteral("ports"),   QStringLiteral("identify"),
                                         QStringLiteral("read"),    QStringLiteral("write"),
                                         QStringLiteral("default"), QStringLiteral("log"),
                                         QStringLiteral("restore")};

TParsedCommandLine ParseCliCommandLine(const QStringList& args);

// The value given to an option anywhere on the command line, even one that does not parse, so that
// its complaint can come in the language asked for; empty if none.
QString CliOptionValue(const QStringList& args, const QString& option);

class TsmlMsgLangRes;

QString CliErrorText(const TCliError& error, const TsmlMsgLangRes& messages);

// The tool's messages in one language: the texts of the window's own section of that language's
// file, from the first of the folders that holds it; the built-in Czech texts where none does.
class TCliMessages {
public:
    TCliMessages(const QStringList& folders, const QString& languageCode);
    ~TCliMessages();
    const TsmlMsgLangRes& Messages() const { return *messages_; }

private:
    QObject owner_; // names the section; the component is its child and goes first
    std::unique_ptr<TsmlMsgLangRes> messages_;
};

// The usage text: of one command, or of the tool when command is empty. The texts are messages, so
// a language file can translate them.
QString CliUsage(const QString& command, const TsmlMsgLangRes& messages);
