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
    kExitInDoubt = 8,      // a write or reset may have reached the regulator but was not confirmed
    kExitInterrupted = 9,  // stopped by a signal before anything was sent to the regulator
    kExitSomeFailed = 10,  // several links: at least one of them failed
    kExitDoesNotFit = 11, // the file of a write does not fit the regulator's model: nothing written
    kExitProblemFound = 12, // doctor: the connection check found a problem
    // diff, as diff(1) has it: 0 the same, 1 different, 2 trouble with a file; the link's statuses
    // (3, 4, 5) as for every command.
    kExitDifferent = 1,
    kExitDiffTrouble = 2,
};

// The word for a status in JSON, which stays the same in every language.
const char* ExitStatusWord(int status);

// The whole run of one link, from opening it to the last answer, is bounded by this unless
// --timeout says otherwise: ample for a write at the line's speed (about 2 s). A log download
// takes a second per few records, and a full log minutes.
inline constexpr int kDefaultTimeoutSeconds = 10;
inline constexpr int kDefaultLogTimeoutSeconds = 600;

// How much goes to stderr besides the errors: -q drops progress, -v says what is being done, -vv
// adds every byte on the line.
enum TVerbosity : int { kQuiet = 0, kNormal = 1, kVerbose = 2, kTrace = 3 };

// One link of the command line, in the order given: a serial port, or an FTDI adapter (serial
// number empty: the first one listed).
struct TLinkArg {
    bool usb = false;
    QString name;
    bool operator==(const TLinkArg&) const = default;
};

struct TCliOptions {
    QString command;   // ports, identify, read, write, default, log, restore, diff, doctor, sheet
    QString argument;  // the file of write, restore and diff; sheet's, if any
    QString argument2; // diff's second file: the two files are compared, no link is opened
    QString model;    // --model: the regulator definition of a diff of two files, of a sheet's file
    QStringList only; // write --only: the option groups taken from the file, captions or numbers
    // write --each: a production line on one link, regulator after regulator until Ctrl-C, each
    // with a row appended to the --record file.
    bool each = false;
    QString record;
    bool dryRun = false, ifDifferent = false,
         force = false; // write's --dry-run, --if-different, --force
    bool help = false;
    bool version = false;
    QList<TLinkArg> links; // every --port and --usb, in order
    // The link of one run, taken from links (or setup.ini when there are none).
    QString port;      // --port
    bool usb = false;  // --usb
    QString usbSerial; // --usb SERIAL: the adapter with that serial number; empty: the first
    QString language;  // --lang; empty: setup.ini's, else CZ
    QString dataDir;   // --data; empty: the program folder
    QString poles, ratio;
    int timeoutSeconds = 0; // 0: the command's default
    int TimeoutSeconds() const
    {
        return timeoutSeconds > 0                ? timeoutSeconds
               : command == QLatin1String("log") ? kDefaultLogTimeoutSeconds
                                                 : kDefaultTimeoutSeconds;
    }
    bool json = false;
    QString output;                                 // -o; "-" is stdout
    std::optional<double> throttleMin, throttleMax; // ms
    int verbosity = kNormal;
    int jobs = 1; // links run at the same time

    // This run's options for one of the links.
    TCliOptions ForLink(const TLinkArg& link) const;
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
                                         QStringLiteral("restore"), QStringLiteral("diff"),
                                         QStringLiteral("doctor"),  QStringLiteral("sheet")};

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
    // Whether the language file gives every one of these keys (the built-in texts always do).
    bool HasAll(const QStringList& keys) const;

private:
    QObject owner_; // names the section; the component is its child and goes first
    QString file_;  // the language file read; empty: the built-in texts
    std::unique_ptr<TsmlMsgLangRes> messages_;
};

// The usage text: of one command, or of the tool when command is empty. The texts are messages, so
// a language file can translate them.
// A language file that lacks one of them gives them all in the built-in language, so that a usage
// is never half in one language and half in another.
QString CliUsage(const QString& command, const TCliMessages& messages);
