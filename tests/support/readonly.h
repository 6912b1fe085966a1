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
#include <optional>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

// While it lives, a process running as root acts as an ordinary user (for every thread of the
// process), since root passes permission bits; the saved user id stays root, so the rights come
// back when the object goes. For any other user it changes nothing.
class TOrdinaryUser {
public:
    static constexpr uid_t kOrdinaryUser = 65534; // no account needed: only the number counts

    TOrdinaryUser()
    {
        if (::geteuid() != 0)
            return;
        ok_ = ::setresgid(kOrdinaryUser, kOrdinaryUser, 0) == 0 &&
              ::setresuid(kOrdinaryUser, kOrdinaryUser, 0) == 0;
        dropped_ = true;
    }
    ~TOrdinaryUser()
    {
        if (dropped_) {
            EXPECT_EQ(::setresuid(0, 0, 0), 0);
            EXPECT_EQ(::setresgid(0, 0, 0), 0);
            ::prctl(PR_SET_DUMPABLE, 1); // lost with the identity change
        }
    }
    TOrdinaryUser(const TOrdinaryUser&) = delete;
    TOrdinaryUser& operator=(const TOrdinaryUser&) = delete;
    bool Ok() const { return ok_; }

private:
    bool ok_ = true;
    bool dropped_ = false;
};

class TReadOnlyFolder {
public:
    static constexpr uid_t kOrdinaryUser = TOrdinaryUser::kOrdinaryUser;

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
        user_.emplace();
    }
    ~TReadOnlyFolder()
    {
        user_.reset();
        for (auto it = modes_.rbegin(); it != modes_.rend(); ++it)
            ::chmod(it->first.constData(), it->second & 07777);
    }
    // The folder refuses writes to this process.
    bool Ok() const { return user_ && user_->Ok(); }

private:
    void Remember(const QString& path)
    {
        struct stat st;
        const QByteArray name = QFile::encodeName(path);
        if (::lstat(name.constData(), &st) == 0 && !S_ISLNK(st.st_mode))
            modes_.emplace_back(name, st.st_mode);
    }

    std::vector<std::pair<QByteArray, mode_t>> modes_;
    std::optional<TOrdinaryUser> user_;
};
