#include "tools/cli/runner.h"

#include "diagnose/linkwatch.h"
#include "i18n/msglangres.h"
#include "link/commconnect.h"
#include "link/comport.h"
#include "link/ftd2xx.h"
#include "link/portname.h"
#include "link/usblink.h"
#include "tools/cli/report.h"
#include "tools/cli/session.h"
#include "tools/cli/trace.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <deque>
#include <exception>
#include <memory>
#include <unistd.h>

namespace {

// The adapter library's failures, in plain words on stderr.
class TFtErrorsToLines final : public IFtErrorBox {
public:
    explicit TFtErrorsToLines(TLineFn err) : err_(std::move(err)) {}
    void ShowFtError(const QString& text) override { err_(text); }

private:
    TLineFn err_;
};

// One link's run: its port or adapter, the session on it, and what it printed.
class TLinkRun {
public:
    // watch: the connection check's look at the line, or none.
    TLinkRun(const TCliOptions& options, const QString& dataDir, const TsmlMsgLangRes& messages,
             TCliOutputs outputs, TLinkWatch* watch = nullptr)
        : options_(options), outputs_(std::move(outputs)), ftErrors_(outputs_.err),
          usb_(&ftErrors_, TUsbLinkOptions{true, nullptr, {}, options.usbSerial})
    {
        comm_.SetBaudrate(br600);
        com_ = MakeCommPort(comm_);
        elapsed_.start();
        ISerialPort* com = com_.get();
        IUsbLink* usb = &usb_;
        if (watch) {
            watchedCom_ = std::make_unique<TTappedSerialPort>(*com, watch->Observer());
            watchedUsb_ = std::make_unique<TTappedUsbLink>(*usb, watch->Observer());
            com = watchedCom_.get();
            usb = watchedUsb_.get();
        }
        if (options.verbosity >= kTrace) {
            const TNowMs now = [this] { return elapsed_.elapsed(); };
            tracedCom_ = std::make_unique<TTracedSerialPort>(*com_, now, outputs_.err);
            tracedUsb_ = std::make_unique<TTracedUsbLink>(usb_, now, outputs_.err);
            com = tracedCom_.get();
            usb = tracedUsb_.get();
        }
        TCliEnv env{&clock_,
                    com,
                    usb,
                    dataDir,
                    [] { return QDateTime::currentDateTime(); },
                    outputs_.out,
                    outputs_.err,
                    [this] { return usb_.OpenSerialNo(); },
                    outputs_.outBytes};
        session_ = std::make_unique<TCliSession>(env, options, messages);
        usb_.onOpenProblem = [this](const TUsbOpenProblem& p) { session_->UsbOpenProblem(p); };
        if (watch)
            session_->Cycle().AddListener(watch);
    }
    ~TLinkRun() { Close(); }

    void Start(std::function<void()> finished)
    {
        started_ = true;
        session_->Start([this, finished = std::move(finished)](int) {
            // Ended from inside the cycle's handlers: the links close once those have returned.
            QMetaObject::invokeMethod(
                qApp,
                [this, finished] {
                    Close();
                    finished();
                },
                Qt::QueuedConnection);
        });
    }
    bool Started() const { return started_; }
    bool Finished() const { return session_->Finished(); }
    void Interrupt() { session_->Interrupt(); }
    int Status() const { return session_->Status(); }
    const QStringList& Errors() const { return session_->Errors(); }
    QString Name() const { return session_->LinkName(); }
    const TUsbOpenProblem& UsbProblem() const { return usb_.OpenProblem(); }

private:
    void Close()
    {
        if (closed_)
            return;
        closed_ = true;
        comm_.OnRxChar = nullptr;
        // Only an adapter the run opened: a run refused before the link (a file that cannot be
        // used) must not open it just to close it.
        if (options_.usb && usb_.UsbOpen())
            usb_.UsbClose();
        try {
            comm_.Close();
        } catch (const std::exception&) {
            // The result is known; a port that went away cannot change it.
        }
    }

    TCliOptions options_;
    TCliOutputs outputs_;
    QtClock clock_;
    QElapsedTimer elapsed_;
    TComm comm_;
    std::unique_ptr<ISerialPort> com_;
    TFtErrorsToLines ftErrors_;
    TUsbLink usb_;
    std::unique_ptr<TTappedSerialPort> watchedCom_;
    std::unique_ptr<TTappedUsbLink> watchedUsb_;
    std::unique_ptr<TTracedSerialPort> tracedCom_;
    std::unique_ptr<TTracedUsbLink> tracedUsb_;
    std::unique_ptr<TCliSession> session_;
    bool started_ = false, closed_ = false;
};

// With several links every line says whose it is.
TCliOutputs Prefixed(const TCliOutputs& outputs, const QString& name, QStringList* results)
{
    const QString prefix = name + QStringLiteral(": ");
    return {[results](const QString& text) { results->append(text); },
            [err = outputs.err, prefix](const QString& text) {
                for (const QString& line : text.split(QLatin1Char('\n')))
                    err(prefix + line);
            },
            outputs.outBytes};
}

QString LinkLabel(const TLinkArg& link)
{
    return link.usb ? UsbBackupLink(link.name).trimmed() : link.name;
}

} // namespace

QString CliPortPath(const QString& name)
{
    if (name.startsWith(QLatin1Char('/')))
        return name;
    const QString device = DevicePathForPortName(name);
    if (!device.isEmpty())
        return device;
    if (name.contains(QLatin1Char('/')) || QFileInfo::exists(name))
        return QDir::current().absoluteFilePath(name);
    return QStringLiteral("/dev/") + name;
}

QList<TFinding> CheckLiveLink(const TCliOptions& options, const TCheckedLink& link,
                              const QString& dataDir, const TsmlMsgLangRes& messages)
{
    // The regulator is looked for as identify does, and nothing more is asked of it.
    TCliOptions o = options.ForLink({link.usb, link.usb ? link.usbSerial : CliPortPath(link.port)});
    o.command = QStringLiteral("identify");
    o.json = false;
    TLinkWatch watch;
    const TLineFn quiet = [](const QString&) {};
    TLinkRun run(o, dataDir, messages, {quiet, quiet, [](const QByteArray&) {}}, &watch);
    QEventLoop loop;
    run.Start([&loop] { loop.quit(); });
    if (!run.Finished() || run.Status() < 0)
        loop.exec();
    return LinkFindings(watch, {link, dataDir, o.language, run.UsbProblem()}, messages);
}

int RunLinks(QCoreApplication& app, int signalFd, const TCliOptions& options,
             const QString& dataDir, const TsmlMsgLangRes& messages, const TCliOutputs& outputs)
{
    const bool several = options.links.size() > 1;
    const int n = int(options.links.size());
    std::vector<QStringList> results(n);
    std::vector<std::unique_ptr<TLinkRun>> runs;
    for (int i = 0; i < n; ++i) {
        const TLinkArg& link = options.links[i];
        runs.push_back(std::make_unique<TLinkRun>(
            options.ForLink(link), dataDir, messages,
            several ? Prefixed(outputs, LinkLabel(link), &results[i]) : outputs));
    }

    int next = 0, running = 0;
    bool interrupted = false;
    std::function<void()> startMore = [&] {
        while (!interrupted && running < options.jobs && next < n) {
            TLinkRun& run = *runs[next++];
            ++running;
            run.Start([&] {
                --running;
                startMore();
            });
        }
        if (running == 0)
            QMetaObject::invokeMethod(
                &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    };
    std::unique_ptr<QSocketNotifier> interrupts;
    if (signalFd >= 0) {
        interrupts = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
        QObject::connect(interrupts.get(), &QSocketNotifier::activated, [&] {
            char bytes[16];
            [[maybe_unused]] const ssize_t got = ::read(signalFd, bytes, sizeof bytes);
            // The links not yet begun are not begun; those running end now.
            interrupted = true;
            for (const auto& run : runs)
                if (run->Started() && !run->Finished())
                    run->Interrupt();
        });
    }
    startMore();
    if (running > 0)
        app.exec();

    // A diff that finds differences has its answer, not a failure.
    const bool diff = options.command == QLatin1String("diff");
    auto differs = [diff](int status) { return diff && status == kExitDifferent; };
    if (!several) {
        const int status = runs[0]->Status();
        if (options.json && status != kExitOk && !differs(status))
            outputs.out(ErrorJson(status, runs[0]->Errors()));
        return status;
    }

    // One result per link, then how many failed.
    int failed = 0, different = 0;
    QJsonArray links;
    for (int i = 0; i < n; ++i) {
        const TLinkRun& run = *runs[i];
        const int status = run.Started() ? run.Status() : kExitInterrupted;
        const QString label = LinkLabel(options.links[i]);
        failed += status != kExitOk && !differs(status) ? 1 : 0;
        different += differs(status) ? 1 : 0;
        const QLatin1String word(differs(status) ? "different" : ExitStatusWord(status));
        if (options.json) {
            QJsonObject o{{QStringLiteral("link"), label},
                          {QStringLiteral("code"), status},
                          {QStringLiteral("status"), word}};
            const QJsonDocument result = QJsonDocument::fromJson(results[i].join('\n').toUtf8());
            if (result.isObject()) {
                QJsonObject r = result.object();
                r.remove(QStringLiteral("schemaVersion"));
                o[QStringLiteral("result")] = r;
            }
            if (status != kExitOk && !differs(status))
                o[QStringLiteral("message")] = run.Errors().join(QLatin1Char('\n'));
            links.append(o);
            continue;
        }
        for (const QString& line : results[i])
            for (const QString& part : line.split(QLatin1Char('\n')))
                outputs.out(label + QStringLiteral(": ") + part);
        outputs.out(label + QStringLiteral(": ") +
                    (status == kExitOk ? QStringLiteral("ok")
                                       : QStringLiteral("%1 (%2)").arg(word).arg(status)));
    }
    if (options.json) {
        QJsonObject o{{QStringLiteral("schemaVersion"), kCliSchemaVersion},
                      {QStringLiteral("links"), links},
                      {QStringLiteral("failed"), failed}};
        if (diff)
            o[QStringLiteral("different")] = different;
        outputs.out(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)).trimmed());
    } else {
        outputs.out(messages.LookupMessage(QStringLiteral("str234")).arg(failed).arg(n));
    }
    return failed > 0 ? kExitSomeFailed : different > 0 ? kExitDifferent : kExitOk;
}
