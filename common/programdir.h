#pragma once
// Where the program keeps its files. A portable copy keeps everything beside its executable; an
// installed copy, whose folder the user cannot write, keeps them in a folder of its own under the
// user's data directory and fills it from the data the package ships beside the executable.

#include <QString>
#include <QStringList>

#include <functional>

// The shipped files are model definitions, language files, lookup files and help pages, the
// largest well under a MiB.
constexpr qint64 kShippedFileMaxBytes = 64 * 1024 * 1024;

struct TProgramFolder {
    QString path; // with a trailing "/"
    bool perUser = false;
    // Where the folder is filled from, with a trailing "/": the package's data folder, or for the
    // demo of a portable copy the copy's own folder; empty when it is not filled.
    QString shippedData;
    // The entries of shippedData that are copied; empty: all of them.
    QStringList shippedEntries;
    // setup.ini as it is written when the folder has none yet; empty: none is written.
    QByteArray setupDefaults;
};

// The demo (korvalinex --demo) keeps its settings, parameter files and backups in a folder of its
// own, so the user's setup is never touched; it talks to its simulated USB adapter from the start.
enum class TFolderUse { Normal, Demo };

// Whether the current user may create files in a folder.
using TWritableProbe = std::function<bool(const QString& folder)>;
bool FolderIsWritable(const QString& folder);

// $XDG_DATA_HOME/korvalinex/, or ~/.local/share/korvalinex/ when the variable is unset, empty or
// not an absolute path.
QString PerUserProgramFolder(const QString& xdgDataHome, const QString& home);

// The choice itself, free of the process's environment. exeDir is the executable's folder.
TProgramFolder ChooseProgramFolder(const QString& exeDir, const QString& xdgDataHome,
                                   const QString& home, const TWritableProbe& writable,
                                   TFolderUse use = TFolderUse::Normal);

// The record, in the program folder, of what each shipped file was when it was last copied there.
inline const QString kShippedManifest = QStringLiteral("shipped.sha256");
// Beside the shipped data, the same form: every version of a shipped file that earlier releases
// had, so that a copy made before copies were recorded is known as untouched. Made from the
// project's history by scripts/list-earlier-shipped.sh; never copied itself.
inline const QString kEarlierShipped = QStringLiteral("earlier-shipped.sha256");

// Copies every file of `from` (recursively; only of the top-level files and folders named in
// `only`, when it is not empty) that `to` does not have yet, and brings the copies up to date after
// an upgrade: a copy that is still exactly what was copied last time (kShippedManifest says so) is
// replaced by the newer shipped file. A copy the user has changed is never touched, whatever its
// content. Returns the files that could not be copied, each with the reason. A file over
// kShippedFileMaxBytes is one of the failures.
QStringList SeedProgramFolder(const QString& from, const QString& to, const QStringList& only = {});

// The choice for this process, made once at start-up: a folder with shipped data is created and
// filled from it, and gets its default setup.ini. Failures here are left for the start-up sequence
// to report when it creates the working directories.
TProgramFolder PrepareProgramFolder(TFolderUse use = TFolderUse::Normal);
