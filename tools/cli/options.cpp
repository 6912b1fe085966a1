#include "tools/cli/options.h"

#include "common/numbers.h"
#include "i18n/languages.h"
#include "i18n/msglangres.h"

#include <QFileInfo>
#include <exception>
#include <utility>

namespace {

const QStringList kLanguageCodes = {QStringLiteral("CZ"), QStringLiteral("EN"),
                                    QStringLiteral("GE"), QStringLiteral("Other")};
constexpr int kMaxTimeoutSeconds = 3600;

// Which command takes which option.
bool Takes(const QString& command, const QString& option)
{
    static const QStringList link = {QStringLiteral("--port"), QStringLiteral("--usb"),
                                     QStringLiteral("--lang"), QStringLiteral("--data"),
                                     QStringLiteral("--timeout")};
    if (command == QLatin1String("ports"))
        return option == QLatin1String("--json");
    if (!link.contains(option)) {
        if (option == QLatin1String("--json") || option == QLatin1String("--poles") ||
            option == QLatin1String("--ratio"))
            return command != QLatin1String("log");
        if (option == QLatin1String("-o"))
            return command == QLatin1String("read") || command == QLatin1String("log");
        if (option == QLatin1String("--throttle-min") || option == QLatin1String("--throttle-max"))
            return command == QLatin1String("write");
        return false;
    }
    return true;
}

std::optional<double> Milliseconds(const QString& text)
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

bool TakesFile(const QString& command)
{
    return command == QLatin1String("write") || command == QLatin1String("restore");
}

// A word that is no option: the command, then the file of write and restore.
TCliError TakeWord(const QString& word, TCliOptions& o)
{
    if (o.command.isEmpty()) {
        if (!kCliCommands.contains(word))
            return Fail("str146", {word});
        o.command = word;
    } else if (o.argument.isEmpty() && TakesFile(o.command)) {
        o.argument = word;
    } else {
        return Fail("str147", {word});
    }
    return {};
}

// An option with its value, the command already known to take it.
TCliError TakeValue(const QString& a, const QString& v, TCliOptions& o)
{
    if (a == QLatin1String("--port")) {
        o.port = v;
    } else if (a == QLatin1String("--lang")) {
        if (!kLanguageCodes.contains(v))
            return Fail("str159", {a, v});
        o.language = v;
    } else if (a == QLatin1String("--data")) {
        o.dataDir = v;
    } else if (a == QLatin1String("--poles")) {
        bool ok = false;
        if (v.toInt(&ok) <= 0 || !ok)
            return Fail("str159", {a, v});
        o.poles = v;
    } else if (a == QLatin1String("--ratio")) {
        const std::optional<double> x = Milliseconds(v);
        if (!x || *x <= 0)
            return Fail("str159", {a, v});
        o.ratio = v;
    } else if (a == QLatin1String("--timeout")) {
        bool ok = false;
        o.timeoutSeconds = v.toInt(&ok);
        if (!ok || o.timeoutSeconds <= 0 || o.timeoutSeconds > kMaxTimeoutSeconds)
            return Fail("str159", {a, v});
    } else if (a == QLatin1String("-o")) {
        o.output = v;
    } else if (a == QLatin1String("--throttle-min") || a == QLatin1String("--throttle-max")) {
        const std::optional<double> ms = Milliseconds(v);
        if (!ms)
            return Fail("str159", {a, v});
        (a == QLatin1String("--throttle-min") ? o.throttleMin : o.throttleMax) = ms;
    }
    return {};
}

// --usb, and the word after it as the adapter's serial number unless that word is an option.
void TakeUsb(const QStringList& args, int& i, TCliOptions& o)
{
    o.usb = true;
    if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1Char('-')))
        o.usbSerial = args[++i];
}

// What a complete command line must have once every word is read.
TCliError CheckComplete(TCliOptions& o)
{
    // "write --usb FILE" names the file, as it did before --usb took a serial number.
    if (TakesFile(o.command) && o.argument.isEmpty() && !o.usbSerial.isEmpty())
        std::swap(o.argument, o.usbSerial);
    if (o.command.isEmpty())
        return Fail("str160");
    if (TakesFile(o.command) && o.argument.isEmpty())
        return Fail("str161",
                    {o.command, o.command == QLatin1String("write") ? QStringLiteral("FILE.zeq")
                                                                    : QStringLiteral("BACKUP")});
    if (o.command == QLatin1String("log") && o.output.isEmpty())
        return Fail("str161", {o.command, QStringLiteral("-o FILE")});
    if (o.command != QLatin1String("ports")) {
        if (o.usb && !o.port.isEmpty())
            return Fail("str162");
    }
    return {};
}

} // namespace

TParsedCommandLine ParseCliCommandLine(const QStringList& args)
{
    // On a failure the options read so far stay: the complaint comes in the language they ask for,
    // with the usage of the command they name.
    TParsedCommandLine r;
    TCliOptions& o = r.options;
    for (int i = 0; i < args.size() && r.error.Empty(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            o.help = true;
        else if (!a.startsWith(QLatin1Char('-')) || a == QLatin1String("-"))
            r.error = TakeWord(a, o);
        else if (o.command.isEmpty() && !o.help)
            r.error = Fail("str160");
        else if (!o.command.isEmpty() && !Takes(o.command, a))
            r.error = Fail("str148", {o.command, a});
        else if (a == QLatin1String("--usb"))
            TakeUsb(args, i, o);
        else if (a == QLatin1String("--json"))
            o.json = true;
        else if (i + 1 >= args.size())
            r.error = Fail("str149", {a});
        else
            r.error = TakeValue(a, args[++i], o);
    }
    if (r.error.Empty() && !o.help)
        r.error = CheckComplete(o);
    return r;
}

QString CliOptionValue(const QStringList& args, const QString& option)
{
    const qsizetype i = args.lastIndexOf(option);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : QString();
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
    messages_ = std::make_unique<TsmlMsgLangRes>(&owner_, folder);
    // Read only: a text the file lacks is never written into it.
    messages_->SetAutoCreateMode(false);
    messages_->SetIgnoreEmptyString(true);
    messages_->SetLangFileName(file);
    messages_->SetActive(true);
}

TCliMessages::~TCliMessages() { messages_.reset(); }

QString CliUsage(const QString& command, const TsmlMsgLangRes& messages)
{
    // Str150 is the tool's overview; Str151 to Str157 follow the order of kCliCommands.
    const qsizetype i = kCliCommands.indexOf(command);
    const QString key = QStringLiteral("str%1").arg(i < 0 ? 150 : 151 + i);
    QString text = messages.LookupMessage(key) + QLatin1Char('\n') +
                   messages.LookupMessage(QStringLiteral("str158"));
    return text.replace(QLatin1String("\\n"), QLatin1String("\n"));
}
