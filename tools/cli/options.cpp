#include "tools/cli/options.h"

#include "common/numbers.h"
#include "i18n/languages.h"
#include "i18n/msglangres.h"

#include <QFileInfo>
#include <exception>

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

} // namespace

TParsedCommandLine ParseCliCommandLine(const QStringList& args)
{
    TParsedCommandLine r;
    TCliOptions& o = r.options;
    auto fail = [&](const char* key, const QStringList& args = {}) {
        r.error = {QString::fromLatin1(key), args};
        return r;
    };
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
            continue;
        }
        if (!a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            if (o.command.isEmpty()) {
                if (!kCliCommands.contains(a))
                    return fail("str146", {a});
                o.command = a;
            } else if (o.argument.isEmpty() && (o.command == QLatin1String("write") ||
                                                o.command == QLatin1String("restore"))) {
                o.argument = a;
            } else {
                return fail("str147", {a});
            }
            continue;
        }
        if (o.command.isEmpty() && !o.help)
            return fail("str160");
        if (!o.command.isEmpty() && !Takes(o.command, a))
            return fail("str148", {o.command, a});
        if (a == QLatin1String("--usb")) {
            o.usb = true;
            continue;
        }
        if (a == QLatin1String("--json")) {
            o.json = true;
            continue;
        }
        if (i + 1 >= args.size())
            return fail("str149", {a});
        const QString v = args[++i];
        if (a == QLatin1String("--port")) {
            o.port = v;
        } else if (a == QLatin1String("--lang")) {
            if (!kLanguageCodes.contains(v))
                return fail("str159", {a, v});
            o.language = v;
        } else if (a == QLatin1String("--data")) {
            o.dataDir = v;
        } else if (a == QLatin1String("--poles")) {
            bool ok = false;
            if (v.toInt(&ok) <= 0 || !ok)
                return fail("str159", {a, v});
            o.poles = v;
        } else if (a == QLatin1String("--ratio")) {
            const std::optional<double> x = Milliseconds(v);
            if (!x || *x <= 0)
                return fail("str159", {a, v});
            o.ratio = v;
        } else if (a == QLatin1String("--timeout")) {
            bool ok = false;
            o.timeoutSeconds = v.toInt(&ok);
            if (!ok || o.timeoutSeconds <= 0 || o.timeoutSeconds > kMaxTimeoutSeconds)
                return fail("str159", {a, v});
        } else if (a == QLatin1String("-o")) {
            o.output = v;
        } else if (a == QLatin1String("--throttle-min") || a == QLatin1String("--throttle-max")) {
            const std::optional<double> ms = Milliseconds(v);
            if (!ms)
                return fail("str159", {a, v});
            (a == QLatin1String("--throttle-min") ? o.throttleMin : o.throttleMax) = ms;
        }
    }
    if (o.help)
        return r;
    if (o.command.isEmpty())
        return fail("str160");
    if ((o.command == QLatin1String("write") || o.command == QLatin1String("restore")) &&
        o.argument.isEmpty())
        return fail("str161",
                    {o.command, o.command == QLatin1String("write") ? QStringLiteral("FILE.zeq")
                                                                    : QStringLiteral("BACKUP")});
    if (o.command == QLatin1String("log") && o.output.isEmpty())
        return fail("str161", {o.command, QStringLiteral("-o FILE")});
    if (o.command != QLatin1String("ports")) {
        if (o.usb && !o.port.isEmpty())
            return fail("str162");
    }
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
