#include "platform/ClosedOutputWatch.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include <utility>

namespace sondrel::platform {

namespace {

// Only the write-only end of a pipe can be watched for reading: it never has data to read, so the notifier
// wakes for nothing but the error that comes when the last reader closes. A pipe opened for reading and
// writing (a named pipe opened both ways) would wake for its own data.
bool isWriteOnlyPipe(int fd)
{
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode))
        return false;
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) == O_WRONLY;
}

bool readerHasGone(int fd)
{
    pollfd watched{fd, 0, 0};
    return ::poll(&watched, 1, 0) == 1 && (watched.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

} // namespace

ClosedOutputWatch::ClosedOutputWatch(int fd, QObject* parent)
    : QObject(parent)
    , m_fd(fd)
{
    ::signal(SIGPIPE, SIG_IGN);
    if (!isWriteOnlyPipe(fd))
        return;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        if (readerHasGone(m_fd))
            tell();
    });
    // A reader that left before the program started is told from the event loop, like one that leaves later.
    if (readerHasGone(fd))
        QMetaObject::invokeMethod(this, &ClosedOutputWatch::tell, Qt::QueuedConnection);
}

ClosedOutputWatch::~ClosedOutputWatch() = default;

void ClosedOutputWatch::wroteTo(bool succeeded, int errorNumber)
{
    if (!succeeded && errorNumber == EPIPE)
        tell();
}

void ClosedOutputWatch::tell()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (std::exchange(m_told, true))
        return;
    emit closed();
}

} // namespace sondrel::platform
