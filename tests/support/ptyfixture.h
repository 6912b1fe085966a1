#pragma once
// Real pseudo-terminals for the serial component: the slave is opened by path through TComm, the
// master is the far end of the line.

#include "tests/support/pump.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <time.h>
#include <unistd.h>

namespace linktest {

class PtyPair {
public:
    PtyPair()
    {
        char name[256] = {};
        int slave = -1;
        if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed: " << strerror(errno);
            return;
        }
        // The component opens the slave by its path; this descriptor is not needed.
        ::close(slave);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        path_ = QString::fromLocal8Bit(name);
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const QString& Path() const { return path_; }
    int Master() const { return master_; }

    void CloseMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    void Send(const QByteArray& bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.constData() + done, bytes.size() - done);
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                ADD_FAILURE() << "write to master failed: " << strerror(errno);
                return;
            } else {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }

    // Whatever the far end has received, waiting up to timeoutMs for at least `want` bytes.
    QByteArray Receive(qsizetype want, int timeoutMs = 5000)
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < want && t.elapsed() < timeoutMs) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
                char buf[4096];
                const ssize_t n = ::read(master_, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, n);
            }
        }
        return got;
    }

    // Everything waiting at the far end right now.
    QByteArray Drain()
    {
        QByteArray got;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(master_, buf, sizeof buf)) > 0)
            got.append(buf, n);
        return got;
    }

private:
    int master_ = -1;
    QString path_;
};

// CPU time a thread has used so far, in milliseconds.
inline double ThreadCpuMs(pthread_t thread)
{
    clockid_t clock;
    if (pthread_getcpuclockid(thread, &clock) != 0)
        return -1;
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

inline bool OnGuiThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Open descriptors of this process, to see that a failed open leaves none behind.
inline int OpenDescriptorCount()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                .size());
}

} // namespace linktest
