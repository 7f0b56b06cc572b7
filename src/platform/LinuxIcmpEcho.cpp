#include "platform/LinuxIcmpEcho.h"

#include "platform/IcmpPacket.h"

#include <QObject>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sondrel::platform {

namespace {

// Room for any datagram that can be about our echo: an ICMP error quotes at most 576 bytes.
constexpr int kReceiveBufferSize = 4096;
// Bounds the work done per wake-up when the host is flooded with other ICMP traffic.
constexpr int kMaxReadsPerWakeup = 64;

struct IcmpSocket {
    int fd = -1;
    bool ping = false;
};

// A ping socket where the user's group may have one; a raw socket where the kernel refuses it.
IcmpSocket openIcmpSocket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0)
        return {fd, true};
    if (errno != EACCES && errno != EPROTONOSUPPORT && errno != EAFNOSUPPORT)
        return {};
    return {::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP), false};
}

// Prepares a socket for one request: a ping socket queues the ICMP errors about it, a raw socket
// lets through only the message types that can answer an echo.
bool configure(const IcmpSocket& socket)
{
    if (socket.ping) {
        const int on = 1;
        return ::setsockopt(socket.fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) == 0;
    }
    icmp_filter filter{};
    filter.data = ~((1U << icmp::kEchoReply) | (1U << icmp::kDestUnreachable) | (1U << icmp::kSourceQuench) |
                    (1U << icmp::kTimeExceeded) | (1U << icmp::kParamProblem));
    return ::setsockopt(socket.fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) == 0;
}

// Drawn at random once per process, so that a sender who cannot see our requests cannot guess it
// (a process id is easy to guess), and unlikely to collide with other processes' raw-socket identifiers.
quint16 rawIdentifier()
{
    static const auto id = static_cast<quint16>(QRandomGenerator::system()->generate());
    return id;
}

// Counts up, wrapping in 16 bits, from a start drawn at random once per process for the same reason.
quint16 nextSequence()
{
    static std::atomic<quint16> sequence{static_cast<quint16>(QRandomGenerator::system()->generate())};
    return ++sequence;
}

EchoReply statusOnly(qint32 status)
{
    EchoReply reply;
    reply.status = status;
    return reply;
}

class EchoRequest final : public QObject, public PendingOperation {
public:
    explicit EchoRequest(IcmpEcho::Done done)
        : m_done(std::move(done))
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer); // the wait for an answer is a bound, not a hint
        connect(&m_timer, &QTimer::timeout, this, &EchoRequest::finish);
    }
    ~EchoRequest() override { closeSocket(); }

    void start(quint32 address, const QByteArray& payload, int timeoutMs)
    {
        if (payload.size() > kEchoDataAreaSize)
            return endSoon(statusOnly(IpStatus::BufTooSmall));
        const IcmpSocket socket = openIcmpSocket();
        m_fd = socket.fd;
        m_ping = socket.ping;
        if (m_fd < 0 || !configure(socket))
            return endSoon(statusOnly(IpStatus::GeneralFailure));

        m_identity = {m_ping ? quint16(0) : rawIdentifier(), nextSequence(), address, m_ping, payload};
        const QByteArray request = icmp::buildEchoRequest(m_identity.id, m_identity.sequence, payload);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = address;
        m_sentAt = std::chrono::steady_clock::now();
        ssize_t sent;
        do {
            sent = ::sendto(m_fd, request.constData(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                            sizeof to);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0)
            return endSoon(statusOnly(icmp::statusForSendError(errno)));

        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &EchoRequest::readAvailable);
        m_outcome = statusOnly(IpStatus::ReqTimedOut);
        m_timer.start(std::max(0, timeoutMs));
    }

private:
    // The outcome is delivered from the timer, never from inside the socket notifier, so the caller
    // may destroy this request in its callback.
    void endSoon(const EchoReply& outcome)
    {
        closeSocket();
        m_outcome = outcome;
        m_timer.start(0);
    }

    void finish()
    {
        closeSocket();
        const EchoReply outcome = m_outcome;
        if (auto done = std::exchange(m_done, nullptr))
            done(outcome);
    }

    void closeSocket()
    {
        if (m_notifier)
            m_notifier->setEnabled(false);
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    void readAvailable()
    {
        if (m_ping && readErrorQueue())
            return;
        readDatagrams();
    }

    bool readErrorQueue()
    {
        for (int i = 0; i < kMaxReadsPerWakeup; ++i) {
            char data[kReceiveBufferSize];
            sockaddr_in original{};
            alignas(cmsghdr) char control[256];
            iovec part{data, sizeof data};
            msghdr message{};
            message.msg_name = &original;
            message.msg_namelen = sizeof original;
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t size = ::recvmsg(m_fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
            if (size < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR ||
                    c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in)))
                    continue;
                sock_extended_err error;
                sockaddr_in offender;
                std::memcpy(&error, CMSG_DATA(c), sizeof error);
                std::memcpy(&offender, CMSG_DATA(c) + sizeof error, sizeof offender);
                if (error.ee_origin != SO_EE_ORIGIN_ICMP)
                    continue;
                const auto answer = icmp::interpretQueuedError(
                    error.ee_type, error.ee_code, offender.sin_addr.s_addr,
                    QByteArrayView(data, std::min<ssize_t>(size, sizeof data)), original.sin_addr.s_addr, m_identity);
                if (answer) {
                    answered(*answer);
                    return true;
                }
            }
        }
        return false;
    }

    void readDatagrams()
    {
        for (int i = 0; i < kMaxReadsPerWakeup; ++i) {
            char data[kReceiveBufferSize];
            sockaddr_in from{};
            socklen_t fromSize = sizeof from;
            const ssize_t size = ::recvfrom(m_fd, data, sizeof data, MSG_DONTWAIT | MSG_TRUNC,
                                            reinterpret_cast<sockaddr*>(&from), &fromSize);
            if (size < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    return;
                continue; // an ICMP error reported on the socket itself; its details are in the error queue
            }
            if (size > ssize_t(sizeof data))
                continue; // cut short, so not a message about our small request
            const QByteArrayView datagram(data, size);
            const auto answer = m_ping ? icmp::interpretPingReply(datagram, from.sin_addr.s_addr, m_identity)
                                       : icmp::interpretRawDatagram(datagram, m_identity);
            if (answer) {
                answered(*answer);
                return;
            }
        }
    }

    void answered(const icmp::Answer& answer)
    {
        using namespace std::chrono;
        EchoReply reply;
        reply.address = answer.from;
        reply.status = answer.status;
        reply.tripTime = qint32(duration_cast<milliseconds>(steady_clock::now() - m_sentAt).count());
        const auto size = std::min<qsizetype>(answer.data.size(), kEchoDataAreaSize);
        reply.dataSize = qint32(size);
        std::copy_n(answer.data.constData(), size, reply.data.begin());
        endSoon(reply);
    }

    IcmpEcho::Done m_done;
    QTimer m_timer;
    EchoReply m_outcome;
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_fd = -1;
    bool m_ping = false;
    icmp::EchoIdentity m_identity;
    std::chrono::steady_clock::time_point m_sentAt;
};

} // namespace

LinuxIcmpEcho::SocketKind LinuxIcmpEcho::socketKind()
{
    const IcmpSocket socket = openIcmpSocket();
    if (socket.fd < 0)
        return SocketKind::None;
    ::close(socket.fd);
    return socket.ping ? SocketKind::Ping : SocketKind::Raw;
}

bool LinuxIcmpEcho::available()
{
    return socketKind() != SocketKind::None;
}

std::unique_ptr<PendingOperation> LinuxIcmpEcho::send(quint32 address, const QByteArray& payload, int timeoutMs,
                                                      Done done)
{
    auto request = std::make_unique<EchoRequest>(std::move(done));
    request->start(address, payload, timeoutMs);
    return request;
}

} // namespace sondrel::platform
