#pragma once
// What the fuzz targets share: one offscreen application for the targets that build widgets, a
// scratch program folder, and a check that stops the run when an invariant breaks.

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

inline QApplication& FuzzApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

// A program folder that lives for the whole run; its files are rewritten by each input.
inline const QString& FuzzProgramDir()
{
    static QTemporaryDir* dir = new QTemporaryDir;
    static const QString path = dir->path() + QLatin1Char('/');
    return path;
}

// For LLVMFuzzerInitialize: what lives for the whole run is made before the first input, so that
// the leak check after each input does not count the application's one-time allocations.
inline int FuzzInitialize()
{
    FuzzApplication();
    (void)FuzzProgramDir();
    // Qt's one-time allocations are not freed at exit; a run that ends cleanly must not be
    // reported as a leak because of them (leaks of each input are still found while it runs).
    std::atexit([] { std::_Exit(0); });
    return 0;
}

inline void FuzzWrite(const QString& relPath, const QByteArray& bytes)
{
    const QString path = FuzzProgramDir() + relPath;
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

inline QByteArray Bytes(const std::string& s) { return QByteArray(s.data(), qsizetype(s.size())); }
