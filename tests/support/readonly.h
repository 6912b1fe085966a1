#pragma once
// A folder that refuses writes, for root as well, without mounting anything (a plain container
// allows no mount): every folder and file in it loses its write bits, and a process running as root
// takes an ordinary user's identity while the object lives, since root passes permission bits. The
// saved user id stays root, so the rights come back when the object goes. The identity changes for
// every thread of the process, the program's writer threads included.

#include <QDirIterator>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

class TReadOnlyFolder {
public:
    static constexpr uid_t kOrdinaryUser = 65534; // no account needed: only the number counts

    explicit TReadOnlyFolder(const QString& dir)
    {
        Remember(dir);
        QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            Remember(it.next());
        for (const auto& [path, mode] : modes_) {
            // Readable and enterable for the ordinary user, writable for nobody.
            const mode_t readOnly = S_ISDIR(mode) ? 0555 : 0444;
            ::chmod(path.constData(), readOnly);
        }
        if (::geteuid() == 0) {
            ok_ = ::setresgid(kOrdinaryUser, kOrdinaryUser, 0) == 0 &&
                  ::setresuid(kOrdinaryUser, kOrdinaryUser, 0) == 0;
            dropped_ = true;
        } else {
            ok_ = true;
        }
    }
    ~TReadOnlyFolder()
    {
        if (dropped_) {
            EXPECT_EQ(::setresuid(0, 0, 0), 0);
            EXPECT_EQ(::setresgid(0, 0, 0), 0);
            ::prctl(PR_SET_DUMPABLE, 1); // lost with the identity change
        }
        for (auto it = modes_.rbegin(); it != modes_.rend(); ++it)
            ::chmod(it->first.constData(), it->second & 07777);
    }
    // The folder refuses writes to this process.
    bool Ok() const { return ok_; }

private:
    void Remember(const QString& path)
    {
        struct stat st;
        const QByteArray name = QFile::encodeName(path);
        if (::lstat(name.constData(), &st) == 0 && !S_ISLNK(st.st_mode))
            modes_.emplace_back(name, st.st_mode);
    }

    std::vector<std::pair<QByteArray, mode_t>> modes_;
    bool ok_ = false;
    bool dropped_ = false;
};
