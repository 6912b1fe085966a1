#include "common/readfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kGrowthStep = 4096; // room added when the file turns out longer than stat said

} // namespace

QString TFileRead::Reason() const
{
    if (error == EFBIG)
        return QStringLiteral("File too large (more than %1 bytes)").arg(limit);
    if (error == EINVAL)
        return QStringLiteral("Not a regular file");
    return QString::fromLocal8Bit(std::strerror(error));
}

TFileRead ReadFileWithLimit(const QString& path, qint64 maxBytes)
{
    TFileRead r;
    r.limit = maxBytes;
    // Non-blocking, so that opening a FIFO put in place of the file does not wait for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        r.error = errno;
        return r;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0)
        r.error = errno;
    else if (S_ISDIR(st.st_mode))
        r.error = EISDIR;
    else if (!S_ISREG(st.st_mode)) // a pipe or a device may never end
        r.error = EINVAL;
    else if (st.st_size > maxBytes)
        r.error = EFBIG;

    // The file may grow while it is read: what is there counts, up to the limit and one byte more
    // to tell that it went past.
    r.bytes.resize(r.error ? 0 : qsizetype(st.st_size));
    qsizetype got = 0;
    while (r.error == 0) {
        if (got == r.bytes.size()) {
            if (got > maxBytes) {
                r.error = EFBIG;
                break;
            }
            r.bytes.resize(std::min<qint64>(got + kGrowthStep, maxBytes + 1));
        }
        const ssize_t n = ::read(fd, r.bytes.data() + got, size_t(r.bytes.size() - got));
        if (n == 0)
            break;
        if (n > 0)
            got += n;
        else if (errno != EINTR)
            r.error = errno;
    }
    ::close(fd);
    if (r.error)
        r.bytes.clear();
    else
        r.bytes.truncate(got);
    return r;
}
