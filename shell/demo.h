#pragma once
// The program's start options, and the demo without hardware: a simulated FTDI adapter with a
// simulated regulator behind it, from the demo module loaded at run time. The program itself never
// contains the simulator; it only installs the module's FTDI driver.

#include <QString>
#include <QStringList>

#include <memory>

class IFtDriver;
class QObject;

struct TStartOptions {
    bool help = false;
    bool demo = false;
    bool paced = true;     // the simulated line keeps the pace of a real one
    QString regulatorFile; // a simulator regulator file; empty: the built-in demo regulator
};

// The arguments after the program name, Qt's own options already taken out. Returns false with the
// reason in error for an unknown option or a stray argument.
bool ParseStartOptions(const QStringList& args, TStartOptions* options, QString* error);
// What --help prints.
QString StartOptionsHelp();

// Where the demo module may be, in the order it is looked for: beside the executable (a portable
// copy, the build folder), then in ../lib/<architecture>/korvalinex/ (an installed copy).
QStringList DemoModuleCandidates(const QString& exeDir);

class TDemoAdapter {
public:
    // Loads the first candidate that exists and creates the adapter; nullptr with the reason in
    // error when no module can be loaded or the regulator file cannot be read.
    static std::unique_ptr<TDemoAdapter>
    Load(const QStringList& candidates, const QString& regulatorFile, bool paced, QString* error);
    ~TDemoAdapter();
    TDemoAdapter(const TDemoAdapter&) = delete;
    TDemoAdapter& operator=(const TDemoAdapter&) = delete;

    // Lives as long as this object.
    IFtDriver* Driver() const;
    // Unplugs the adapter, or plugs it in again; true when it is now plugged in.
    bool TogglePlug();
    // From now on SIGUSR1 unplugs or replugs the adapter (checked by a timer owned by parent), so
    // that a lost adapter can be tried without hardware.
    void TogglePlugOnSigusr1(QObject* parent);

private:
    struct TModule;
    explicit TDemoAdapter(std::unique_ptr<TModule> module);
    std::unique_ptr<TModule> module_;
};
