#include "link/threadwake.h"

#include "link/commconnect.h"

#include <QSocketNotifier>
#include <cerrno>
#include <sys/eventfd.h>
#include <unistd.h>

TThreadWake::TThreadWake(std::function<void()> handler) : handler_(std::move(handler))
{
    fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0) {
        const int err = errno;
        throw EComError(err, QStringLiteral("CreateEvent"));
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Rung(); });
}

TThreadWake::~TThreadWake()
{
    notifier_.reset();
    ::close(fd_);
}

void TThreadWake::Ring()
{
    const uint64_t one = 1;
    (void)!::write(fd_, &one, sizeof one);
}

void TThreadWake::Rung()
{
    uint64_t count = 0;
    (void)!::read(fd_, &count, sizeof count);
    handler_();
}
