#include "shell/termination.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The handler may only do async-signal-safe things: it writes one byte into a socket that the
// event loop watches.
int gWriteEnd = -1;

void OnSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gWriteEnd, &byte, 1);
    errno = saved;
}

int gReadEnd = -1;

} // namespace

TTerminationRequests::TTerminationRequests(std::function<void()> onRequest, QObject* parent)
    : QObject(parent), onRequest_(std::move(onRequest))
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0)
        return; // no pipe: the signals keep their default action, as before
    gReadEnd = fds[0];
    gWriteEnd = fds[1];
    notifier_ = new QSocketNotifier(gReadEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TTerminationRequests::Drain);

    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
}

TTerminationRequests::~TTerminationRequests()
{
    if (!notifier_)
        return;
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    delete notifier_;
    ::close(gReadEnd);
    ::close(gWriteEnd);
    gReadEnd = gWriteEnd = -1;
}

void TTerminationRequests::Drain()
{
    char buffer[64];
    bool requested = false;
    while (::read(gReadEnd, buffer, sizeof buffer) > 0)
        requested = true;
    if (requested && onRequest_)
        onRequest_();
}
