#include "shell/demo.h"

#include "link/ftdemomodule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <utility>

namespace {

const QString kModuleName = QStringLiteral("korvalinex-demo.so");

std::atomic<bool> g_togglePlug{false};

} // namespace

bool ParseStartOptions(const QStringList& args, TStartOptions* options, QString* error)
{
    TStartOptions o;
    bool fileAllowed = false; // right after --demo
    for (const QString& arg : args) {
        const bool takesFile = std::exchange(fileAllowed, false);
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            o.help = true;
        } else if (arg == QLatin1String("--demo")) {
            o.demo = true;
            fileAllowed = true;
        } else if (arg == QLatin1String("--demo-unpaced")) {
            o.demo = true;
            o.paced = false;
            fileAllowed = true;
        } else if (arg.startsWith(QLatin1Char('-')) && arg != QLatin1String("-")) {
            *error = QStringLiteral("unknown option %1").arg(arg);
            return false;
        } else if (takesFile && o.regulatorFile.isEmpty()) {
            o.regulatorFile = arg;
        } else {
            *error = QStringLiteral("unexpected argument %1").arg(arg);
            return false;
        }
    }
    *options = o;
    return true;
}

QString StartOptionsHelp()
{
    return QStringLiteral(
        "Usage: korvalinex [--demo [REGULATOR-FILE]] [--demo-unpaced]\n"
        "Configures the speed regulators of brushless RC motors over a serial port or an FTDI\n"
        "USB adapter.\n"
        "\n"
        "  --demo [REGULATOR-FILE]  try the program without hardware: a simulated FTDI adapter\n"
        "                           with the built-in demo regulator behind it, or with the\n"
        "                           regulator of a simulator regulator file; the demo keeps its\n"
        "                           settings and files in the folder Demo/ of the program folder\n"
        "  --demo-unpaced           the demo without the pace of a real line (for tests)\n"
        "  -h, --help               show this help and end\n"
        "\n"
        "During the demo, SIGUSR1 unplugs the simulated adapter or plugs it in again.\n");
}

QStringList DemoModuleCandidates(const QString& exeDir)
{
    const QDir dir(exeDir);
    return {QDir::cleanPath(dir.filePath(kModuleName)),
            QDir::cleanPath(dir.filePath(QStringLiteral("../" KX_MODULE_DIR "/") + kModuleName))};
}

struct TDemoAdapter::TModule {
    void* library = nullptr;
    KxDemo* demo = nullptr;
    KxDemoDriver driver = nullptr;
    KxDemoTogglePlug togglePlug = nullptr;
    KxDemoDestroy destroy = nullptr;

    ~TModule()
    {
        if (demo)
            destroy(demo);
        if (library)
            ::dlclose(library);
    }
};

namespace {

template <typename F> bool Resolve(void* library, const char* name, F* f, QString* error)
{
    *f = reinterpret_cast<F>(::dlsym(library, name));
    if (!*f)
        *error = QStringLiteral("the demo module lacks %1").arg(QLatin1String(name));
    return *f != nullptr;
}

} // namespace

std::unique_ptr<TDemoAdapter> TDemoAdapter::Load(const QStringList& candidates,
                                                 const QString& regulatorFile, bool paced,
                                                 QString* error)
{
    const auto found = std::find_if(candidates.begin(), candidates.end(),
                                    [](const QString& c) { return QFileInfo::exists(c); });
    if (found == candidates.end()) {
        *error = QStringLiteral("the demo module was not found; looked for %1")
                     .arg(candidates.join(QStringLiteral(", ")));
        return nullptr;
    }
    auto m = std::make_unique<TModule>();
    m->library = ::dlopen(QFile::encodeName(*found).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!m->library) {
        *error = QStringLiteral("unable to load the demo module: %1")
                     .arg(QString::fromLocal8Bit(::dlerror()));
        return nullptr;
    }
    KxDemoCreate create = nullptr;
    if (!Resolve(m->library, KX_DEMO_CREATE, &create, error) ||
        !Resolve(m->library, KX_DEMO_DRIVER, &m->driver, error) ||
        !Resolve(m->library, KX_DEMO_TOGGLE_PLUG, &m->togglePlug, error) ||
        !Resolve(m->library, KX_DEMO_DESTROY, &m->destroy, error))
        return nullptr;
    char reason[512] = "";
    const QByteArray file = QFile::encodeName(regulatorFile);
    m->demo = create(regulatorFile.isEmpty() ? nullptr : file.constData(), paced ? 1 : 0, reason,
                     sizeof reason);
    if (!m->demo) {
        *error = QString::fromLocal8Bit(reason);
        return nullptr;
    }
    return std::unique_ptr<TDemoAdapter>(new TDemoAdapter(std::move(m)));
}

TDemoAdapter::TDemoAdapter(std::unique_ptr<TModule> module) : module_(std::move(module)) {}

TDemoAdapter::~TDemoAdapter() = default;

IFtDriver* TDemoAdapter::Driver() const { return module_->driver(module_->demo); }

bool TDemoAdapter::TogglePlug() { return module_->togglePlug(module_->demo) != 0; }

void TDemoAdapter::TogglePlugOnSigusr1(QObject* parent)
{
    std::signal(SIGUSR1, [](int) { g_togglePlug = true; });
    auto* poll = new QTimer(parent);
    QObject::connect(poll, &QTimer::timeout, [this] {
        if (!g_togglePlug.exchange(false))
            return;
        std::fprintf(stderr, "simulated adapter %s\n", TogglePlug() ? "plugged in" : "unplugged");
    });
    poll->start(200);
}
