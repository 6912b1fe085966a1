#include "tools/cli/options.h"

#include "i18n/msglangres.h"
#include "protocol/frames.h"

#include <exception>

namespace {

const QStringList kLanguages = {QStringLiteral("CZ"), QStringLiteral("EN"), QStringLiteral("GE"),
                                QStringLiteral("Other")};
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
    auto fail = [&](const QString& why) {
        r.error = why;
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
                    return fail(QStringLiteral("unknown command \"%1\"").arg(a));
                o.command = a;
            } else if (o.argument.isEmpty() && (o.command == QLatin1String("write") ||
                                                o.command == QLatin1String("restore"))) {
                o.argument = a;
            } else {
                return fail(QStringLiteral("unexpected \"%1\"").arg(a));
            }
            continue;
        }
        if (o.command.isEmpty() && !o.help)
            return fail(QStringLiteral("the command comes first"));
        if (!o.command.isEmpty() && !Takes(o.command, a))
            return fail(QStringLiteral("%1 does not take %2").arg(o.command, a));
        if (a == QLatin1String("--usb")) {
            o.usb = true;
            continue;
        }
        if (a == QLatin1String("--json")) {
            o.json = true;
            continue;
        }
        if (i + 1 >= args.size())
            return fail(QStringLiteral("%1 needs a value").arg(a));
        const QString v = args[++i];
        if (a == QLatin1String("--port")) {
            o.port = v;
        } else if (a == QLatin1String("--lang")) {
            if (!kLanguages.contains(v))
                return fail(QStringLiteral("--lang takes CZ, EN, GE or Other"));
            o.language = v;
        } else if (a == QLatin1String("--data")) {
            o.dataDir = v;
        } else if (a == QLatin1String("--poles")) {
            bool ok = false;
            if (v.toInt(&ok) <= 0 || !ok)
                return fail(QStringLiteral("--poles takes a whole number above 0"));
            o.poles = v;
        } else if (a == QLatin1String("--ratio")) {
            const std::optional<double> x = Milliseconds(v);
            if (!x || *x <= 0)
                return fail(QStringLiteral("--ratio takes a number above 0"));
            o.ratio = v;
        } else if (a == QLatin1String("--timeout")) {
            bool ok = false;
            o.timeoutSeconds = v.toInt(&ok);
            if (!ok || o.timeoutSeconds <= 0 || o.timeoutSeconds > kMaxTimeoutSeconds)
                return fail(QStringLiteral("--timeout takes seconds from 1 to 3600"));
        } else if (a == QLatin1String("-o")) {
            o.output = v;
        } else if (a == QLatin1String("--throttle-min") || a == QLatin1String("--throttle-max")) {
            const std::optional<double> ms = Milliseconds(v);
            if (!ms)
                return fail(QStringLiteral("%1 takes milliseconds, e.g. 1.10").arg(a));
            (a == QLatin1String("--throttle-min") ? o.throttleMin : o.throttleMax) = ms;
        }
    }
    if (o.help)
        return r;
    if (o.command.isEmpty())
        return fail(QStringLiteral("no command"));
    if ((o.command == QLatin1String("write") || o.command == QLatin1String("restore")) &&
        o.argument.isEmpty())
        return fail(QStringLiteral("%1 needs a file").arg(o.command));
    if (o.command == QLatin1String("log") && o.output.isEmpty())
        return fail(QStringLiteral("log needs -o FILE"));
    if (o.command != QLatin1String("ports")) {
        if (o.usb && !o.port.isEmpty())
            return fail(QStringLiteral("--port and --usb exclude each other"));
    }
    return r;
}

QString CliUsage(const QString& command, const TsmlMsgLangRes& messages)
{
    // Str150 is the tool's overview; Str151 to Str157 follow the order of kCliCommands.
    const qsizetype i = kCliCommands.indexOf(command);
    const QString key = QStringLiteral("str%1").arg(i < 0 ? 150 : 151 + i);
    QString text = messages.LookupMessage(key) + QLatin1Char('\n') +
                   messages.LookupMessage(QStringLiteral("str158"));
    return text.replace(QLatin1String("\\n"), QLatin1String("\n"));
}
