#include "tools/cli/options.h"

#include "common/numbers.h"
#include "common/profile.h"
#include "i18n/languages.h"
#include "i18n/msglangres.h"

#include <QFileInfo>
#include <exception>
#include <utility>

namespace {

const QStringList kLanguageCodes = {QStringLiteral("CZ"), QStringLiteral("EN"),
                                    QStringLiteral("GE"), QStringLiteral("Other")};
constexpr int kMaxTimeoutSeconds = 3600;
constexpr int kMaxJobs = 64;

std::optional<double> Number(const QString& text)
{
    try {
        return TextToFloat(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

TCliError Fail(const char* key, const QStringList& args = {})
{
    return {QString::fromLatin1(key), args};
}

// The commands that talk to a regulator, and so take a link.
const char kLinkCommands[] = "identify read write default log restore diff doctor sheet";

enum class TValue { None, Required, Optional };

// One option: its names, whether it takes a value, the commands that take it and what it sets.
// A new option is one row here (and a line in the usage texts and the manual page).
struct TOptionRow {
    const char* name;
    const char* alias; // a short name, or nullptr
    TValue value;
    const char* commands; // blank-separated
    TCliError (*take)(const QString& option, const QString& value, TCliOptions& o);
};

TCliError TakeInt(const QString& option, const QString& v, int low, int high, int& into)
{
    bool ok = false;
    const int n = v.toInt(&ok);
    if (!ok || n < low || n > high)
        return Fail("str159", {option, v});
    into = n;
    return {};
}

TCliError TakeMs(const QString& option, const QString& v, std::optional<double>& into)
{
    into = Number(v);
    return into ? TCliError{} : Fail("str159", {option, v});
}

const TOptionRow kOptions[] = {
    {"--port", nullptr, TValue::Required, kLinkCommands,
     [](const QString&, const QString& v, TCliOptions& o) {
         o.links.append({false, v});
         return TCliError{};
     }},
    {"--usb", nullptr, TValue::Optional, kLinkCommands,
     [](const QString&, const QString& v, TCliOptions& o) {
         o.links.append({true, v});
         return TCliError{};
     }},
    {"--lang", nullptr, TValue::Required,
     "ports identify read write default log restore diff doctor sheet",
     [](const QString& a, const QString& v, TCliOptions& o) {
         if (!kLanguageCodes.contains(v))
             return Fail("str159", {a, v});
         o.language = v;
         return TCliError{};
     }},
    {"--data", nullptr, TValue::Required, kLinkCommands,
     [](const QString&, const QString& v, TCliOptions& o) {
         o.dataDir = v;
         return TCliError{};
     }},
    {"--timeout", nullptr, TValue::Required, kLinkCommands,
     [](const QString& a, const QString& v, TCliOptions& o) {
         return TakeInt(a, v, 1, kMaxTimeoutSeconds, o.timeoutSeconds);
     }},
    {"--jobs", "-j", TValue::Required, "identify read write default log restore diff",
     [](const QString& a, const QString& v, TCliOptions& o) {
         return TakeInt(a, v, 1, kMaxJobs, o.jobs);
     }},
    {"--json", nullptr, TValue::None, "ports identify read write default restore diff doctor",
     [](const QString&, const QString&, TCliOptions& o) {
         o.json = true;
         return TCliError{};
     }},
    {"--poles", nullptr, TValue::Required, "identify read write default restore sheet",
     [](const QString& a, const QString& v, TCliOptions& o) {
         int poles = 0;
         const TCliError e = TakeInt(a, v, 1, INT_MAX, poles);
         if (e.Empty())
             o.poles = v;
         return e;
     }},
    {"--ratio", nullptr, TValue::Required, "identify read write default restore sheet",
     [](const QString& a, const QString& v, TCliOptions& o) {
         const std::optional<double> x = Number(v);
         if (!x || *x <= 0)
             return Fail("str159", {a, v});
         o.ratio = v;
         return TCliError{};
     }},
    {"--output", "-o", TValue::Required, "read log sheet",
     [](const QString&, const QString& v, TCliOptions& o) {
         o.output = v;
         return TCliError{};
     }},
    {"--throttle-min", nullptr, TValue::Required, "write",
     [](const QString& a, const QString& v, TCliOptions& o) {
         return TakeMs(a, v, o.throttleMin);
     }},
    {"--throttle-max", nullptr, TValue::Required, "write",
     [](const QString& a, const QString& v, TCliOptions& o) {
         return TakeMs(a, v, o.throttleMax);
     }},
    {"--dry-run", nullptr, TValue::None, "write",
     [](const QString&, const QString&, TCliOptions& o) {
         o.dryRun = true;
         return TCliError{};
     }},
    {"--if-different", nullptr, TValue::None, "write",
     [](const QString&, const QString&, TCliOptions& o) {
         o.ifDifferent = true;
         return TCliError{};
     }},
    {"--only", nullptr, TValue::Required, "write",
     [](const QString& a, const QString& v, TCliOptions& o) {
         for (const QString& name : v.split(QLatin1Char(','), Qt::SkipEmptyParts))
             if (!name.trimmed().isEmpty())
                 o.only.append(name.trimmed());
         return o.only.isEmpty() ? Fail("str159", {a, v}) : TCliError{};
     }},
    {"--each", nullptr, TValue::None, "write",
     [](const QString&, const QString&, TCliOptions& o) {
         o.each = true;
         return TCliError{};
     }},
    {"--record", nullptr, TValue::Required, "write",
     [](const QString&, const QString& v, TCliOptions& o) {
         o.record = v;
         return TCliError{};
     }},
    {"--force", nullptr, TValue::None, "write",
     [](const QString&, const QString&, TCliOptions& o) {
         o.force = true;
         return TCliError{};
     }},
    {"--model", nullptr, TValue::Required, "diff sheet",
     [](const QString&, const QString& v, TCliOptions& o) {
         o.model = v;
         return TCliError{};
     }},
    {"--quiet", "-q", TValue::None, nullptr,
     [](const QString&, const QString&, TCliOptions& o) {
         o.verbosity = kQuiet;
         return TCliError{};
     }},
    {"--verbose", "-v", TValue::None, nullptr,
     [](const QString&, const QString&, TCliOptions& o) {
         o.verbosity = std::max(o.verbosity, int(kNormal)) + 1;
         return TCliError{};
     }},
    {"-vv", nullptr, TValue::None, nullptr,
     [](const QString&, const QString&, TCliOptions& o) {
         o.verbosity = kTrace;
         return TCliError{};
     }},
};

const TOptionRow* FindOption(const QString& name)
{
    for (const TOptionRow& row : kOptions)
        if (name == QLatin1String(row.name) || (row.alias && name == QLatin1String(row.alias)))
            return &row;
    return nullptr;
}

// nullptr commands: every command, ports included.
bool Takes(const QString& command, const TOptionRow& row)
{
    return !row.commands ||
           QString::fromLatin1(row.commands).split(QLatin1Char(' ')).contains(command);
}

// A word that begins like an option is no value: "--port --data D" lacks the port. A negative
// number is a value.
bool LooksLikeOption(const QString& word)
{
    return word.size() > 1 && word.startsWith(QLatin1Char('-')) && !Number(word);
}

bool NeedsFile(const QString& command)
{
    return command == QLatin1String("write") || command == QLatin1String("restore") ||
           command == QLatin1String("diff");
}

bool TakesFile(const QString& command)
{
    return NeedsFile(command) || command == QLatin1String("sheet");
}

// A word that is no option: the command, then the file of write and restore, the files of diff.
TCliError TakeWord(const QString& word, TCliOptions& o)
{
    if (o.command.isEmpty()) {
        if (!kCliCommands.contains(word))
            return Fail("str146", {word});
        o.command = word;
    } else if (o.argument.isEmpty() && TakesFile(o.command)) {
        o.argument = word;
    } else if (o.argument2.isEmpty() && o.command == QLatin1String("diff")) {
        o.argument2 = word;
    } else {
        return Fail("str147", {word});
    }
    return {};
}

// What a complete command line must have once every word is read.
TCliError CheckComplete(TCliOptions& o)
{
    // "write --usb FILE" names the file, as it did before --usb took a serial number.
    if (NeedsFile(o.command) && o.argument.isEmpty() && !o.links.isEmpty() && o.links.last().usb &&
        !o.links.last().name.isEmpty())
        std::swap(o.argument, o.links.last().name);
    if (o.command.isEmpty())
        return Fail("str160");
    if (NeedsFile(o.command) && o.argument.isEmpty())
        return Fail("str161",
                    {o.command, o.command == QLatin1String("write") ? QStringLiteral("FILE.zeq")
                                                                    : QStringLiteral("BACKUP")});
    if ((o.command == QLatin1String("log") || o.command == QLatin1String("sheet")) &&
        o.output.isEmpty())
        return Fail("str161", {o.command, QStringLiteral("-o FILE")});
    // Several links with one output file would write it over and over.
    if (o.links.size() > 1 && !o.output.isEmpty() && o.output != QLatin1String("-"))
        return Fail("str230", {QStringLiteral("-o")});
    // The line serves one link; its record is a line's.
    if (o.each && o.links.size() > 1)
        return Fail("str230", {QStringLiteral("--each")});
    if (!o.record.isEmpty() && !o.each)
        return Fail("str161", {QStringLiteral("--record"), QStringLiteral("--each")});
    if (o.links.size() == 1) {
        o.usb = o.links[0].usb;
        (o.usb ? o.usbSerial : o.port) = o.links[0].name;
    }
    // Two files are compared with each other: no regulator, so no link; one file is compared with
    // the regulator, whose own model decides.
    const QString twoFiles = QStringLiteral("diff FILE FILE2");
    if (!o.argument2.isEmpty() && !o.links.isEmpty())
        return Fail("str148", {twoFiles, o.links[0].usb ? QStringLiteral("--usb")
                                                        : QStringLiteral("--port")});
    // The model of a file alone: a regulator names its own.
    if (o.command == QLatin1String("diff") && o.argument2.isEmpty() && !o.model.isEmpty())
        return Fail("str148", {QStringLiteral("diff FILE"), QStringLiteral("--model")});
    if (o.command == QLatin1String("sheet") && !o.model.isEmpty() &&
        (o.argument.isEmpty() || !o.links.isEmpty()))
        return Fail("str148", {QStringLiteral("sheet LINK"), QStringLiteral("--model")});
    return {};
}

} // namespace

const char* ExitStatusWord(int status)
{
    switch (status) {
    case kExitOk:
        return "ok";
    case kExitUsage:
        return "usage";
    case kExitNoRegulator:
        return "noRegulator";
    case kExitLinkError:
        return "linkError";
    case kExitModelMissing:
        return "modelMissing";
    case kExitCheckFailed:
        return "checkFailed";
    case kExitBackupFailed:
        return "backupFailed";
    case kExitInDoubt:
        return "inDoubt";
    case kExitInterrupted:
        return "interrupted";
    case kExitSomeFailed:
        return "someFailed";
    case kExitProblemFound:
        return "problemFound";
    default:
        return "failure";
    }
}

TCliOptions TCliOptions::ForLink(const TLinkArg& link) const
{
    TCliOptions o = *this;
    o.links = {link};
    o.usb = link.usb;
    o.port = link.usb ? QString() : link.name;
    o.usbSerial = link.usb ? link.name : QString();
    return o;
}

TParsedCommandLine ParseCliCommandLine(const QStringList& args)
{
    // On a failure the options read so far stay: the complaint comes in the language they ask for,
    // with the usage of the command they name. --help wins over any complaint.
    TParsedCommandLine r;
    TCliOptions& o = r.options;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
            continue;
        }
        if (a == QLatin1String("--version")) {
            o.version = true;
            continue;
        }
        if (!r.error.Empty())
            continue;
        if (!a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            r.error = TakeWord(a, o);
            continue;
        }
        // --name=value
        const qsizetype eq = a.startsWith(QLatin1String("--")) ? a.indexOf(QLatin1Char('=')) : -1;
        const QString name = eq < 0 ? a : a.left(eq);
        const std::optional<QString> inlineValue =
            eq < 0 ? std::nullopt : std::optional<QString>(a.mid(eq + 1));
        const TOptionRow* row = FindOption(name);
        if (o.command.isEmpty() && !(row && !row->commands)) {
            r.error = Fail("str160");
            continue;
        }
        if (!row || !Takes(o.command, *row)) {
            r.error = Fail("str148", {o.command, name});
            continue;
        }
        QString value;
        switch (row->value) {
        case TValue::None:
            if (inlineValue) {
                r.error = Fail("str159", {name, *inlineValue});
                continue;
            }
            break;
        case TValue::Optional:
            // --usb, and the word after it as the adapter's serial number unless that word is an
            // option.
            if (inlineValue)
                value = *inlineValue;
            else if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1Char('-')))
                value = args[++i];
            break;
        case TValue::Required:
            if (inlineValue)
                value = *inlineValue;
            else if (i + 1 < args.size() && !LooksLikeOption(args[i + 1]))
                value = args[++i];
            else {
                r.error = Fail("str149", {name});
                continue;
            }
            if (value.isEmpty()) {
                r.error = Fail("str149", {name});
                continue;
            }
            break;
        }
        r.error = row->take(name, value, o);
    }
    if (r.error.Empty() && !o.help && !o.version)
        r.error = CheckComplete(o);
    return r;
}

QString CliOptionValue(const QStringList& args, const QString& option)
{
    // The last of "--option value" and "--option=value".
    for (qsizetype i = args.size() - 1; i >= 0; --i) {
        if (args[i].startsWith(option + QLatin1Char('=')))
            return args[i].mid(option.size() + 1);
        if (args[i] == option)
            return i + 1 < args.size() ? args[i + 1] : QString();
    }
    return {};
}

QString CliErrorText(const TCliError& error, const TsmlMsgLangRes& messages)
{
    QString text = messages.LookupMessage(error.key);
    for (const QString& a : error.args)
        text = text.arg(a);
    return text;
}

TCliMessages::TCliMessages(const QStringList& folders, const QString& languageCode)
{
    // The window's messages are read from its own section.
    owner_.setObjectName(QStringLiteral("MainForm"));
    QString file, folder;
    for (const TLanguage& language : kLanguages)
        if (languageCode == QLatin1String(language.code))
            file = QString::fromLatin1(language.languageFile);
    for (const QString& f : folders)
        if (folder.isEmpty() && !file.isEmpty() && QFileInfo::exists(f + file))
            folder = f;
    if (folder.isEmpty()) {
        messages_ = std::make_unique<TsmlMsgLangRes>();
        return;
    }
    file_ = folder + file;
    messages_ = std::make_unique<TsmlMsgLangRes>(&owner_, folder);
    // Read only: a text the file lacks is never written into it.
    messages_->SetAutoCreateMode(false);
    messages_->SetIgnoreEmptyString(true);
    messages_->SetLangFileName(file);
    messages_->SetActive(true);
}

TCliMessages::~TCliMessages() { messages_.reset(); }

bool TCliMessages::HasAll(const QStringList& keys) const
{
    if (file_.isEmpty())
        return true;
    for (const QString& key : keys)
        if (GetPrivateProfileString(owner_.objectName(), key, QString(), file_).isEmpty())
            return false;
    return true;
}

QString CliUsage(const QString& command, const TCliMessages& language)
{
    // Str150 is the tool's overview; Str151 to Str157 follow the order of kCliCommands, diff's
    // and doctor's and sheet's came later.
    static const int kUsageKeys[] = {151, 152, 153, 154, 155, 156, 157, 245, 521, 333};
    const qsizetype i = kCliCommands.indexOf(command);
    const QStringList keys = {QStringLiteral("str%1").arg(i < 0 ? 150 : kUsageKeys[i]),
                              QStringLiteral("str158")};
    const TsmlMsgLangRes builtIn;
    const TsmlMsgLangRes& messages = language.HasAll(keys) ? language.Messages() : builtIn;
    QString text =
        messages.LookupMessage(keys[0]) + QLatin1Char('\n') + messages.LookupMessage(keys[1]);
    return text.replace(QLatin1String("\\n"), QLatin1String("\n"));
}
