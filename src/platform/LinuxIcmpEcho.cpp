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
#include <netinet/icmp6.h>
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

// A ping socket where the user's group may have one (net.ipv4.ping_group_range governs ICMPv6 ping sockets
// too); a raw socket where the kernel refuses it. family is AF_INET for ICMP, AF_INET6 for ICMPv6.
IcmpSocket openIcmpSocket(int family)
{
    const int protocol = family == AF_INET6 ? IPPROTO_ICMPV6 : IPPROTO_ICMP;
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd >= 0)
        return {fd, true};
    if (errno != EACCES && errno != EPROTONOSUPPORT && errno != EAFNOSUPPORT)
        return {};
    return {::socket(family, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol), false};
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

// As configure, for ICMPv6. A raw ICMPv6 socket needs no checksum work from us: the kernel always fills in
// the checksum of what it sends and drops what arrives with a wrong one (IPV6_CHECKSUM at offset 2 is fixed
// for IPPROTO_ICMPV6).
bool configure6(const IcmpSocket& socket)
{
    if (socket.ping) {
        const int on = 1;
        return ::setsockopt(socket.fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on) == 0;
    }
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    for (const quint8 type :
         {icmp::kEchoReply6, icmp::kDestUnreachable6, icmp::kPacketTooBig6, icmp::kTimeExceeded6, icmp::kParamProblem6})
        ICMP6_FILTER_SETPASS(type, &filter);
    return ::setsockopt(socket.fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) == 0;
}

Q_IPV6ADDR toQt(const in6_addr& address)
{
    Q_IPV6ADDR bytes;
    std::memcpy(bytes.c, address.s6_addr, sizeof bytes.c);
    return bytes;
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
        if (!open(AF_INET, payload))
            return;
        m_identity = {m_ping ? quint16(0) : rawIdentifier(), nextSequence(), address, m_ping, payload};
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = address;
        transmit(icmp::buildEchoRequest(m_identity.id, m_identity.sequence, payload),
                 reinterpret_cast<const sockaddr*>(&to), sizeof to, timeoutMs);
    }

    void start6(const Q_IPV6ADDR& address, const QByteArray& payload, int timeoutMs)
    {
        if (!open(AF_INET6, payload))
            return;
        m_identity6 = {m_ping ? quint16(0) : rawIdentifier(), nextSequence(), address, m_ping, payload};
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        std::memcpy(to.sin6_addr.s6_addr, address.c, sizeof to.sin6_addr.s6_addr);
        transmit(icmp::buildEchoRequest6(m_identity6.id, m_identity6.sequence, payload),
                 reinterpret_cast<const sockaddr*>(&to), sizeof to, timeoutMs);
    }

private:
    // Opens and prepares this request's socket; false when the request has ended instead.
    bool open(int family, const QByteArray& payload)
    {
        m_family = family;
        if (payload.size() > kEchoDataAreaSize) {
            endSoon(statusOnly(IpStatus::BufTooSmall));
            return false;
        }
        const IcmpSocket socket = openIcmpSocket(family);
        m_fd = socket.fd;
        m_ping = socket.ping;
        if (m_fd < 0 || !(family == AF_INET6 ? configure6(socket) : configure(socket))) {
            endSoon(statusOnly(IpStatus::GeneralFailure));
            return false;
        }
        return true;
    }

    void transmit(const QByteArray& request, const sockaddr* to, socklen_t toSize, int timeoutMs)
    {
        m_sentAt = std::chrono::steady_clock::now();
        ssize_t sent;
        do {
            sent = ::sendto(m_fd, request.constData(), request.size(), 0, to, toSize);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0)
            return endSoon(statusOnly(icmp::statusForSendError(errno)));

        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &EchoRequest::readAvailable);
        m_outcome = statusOnly(IpStatus::ReqTimedOut);
        m_timer.start(std::max(0, timeoutMs));
    }

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
            sockaddr_storage original{};
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
            const QByteArrayView sentMessage(data, std::min<ssize_t>(size, sizeof data));
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                const auto answer = m_family == AF_INET6 ? queuedError6(*c, sentMessage, original)
                                                         : queuedError(*c, sentMessage, original);
                if (answer) {
                    answered(*answer);
                    return true;
                }
            }
        }
        return false;
    }

    // An IP_RECVERR control message from the error queue, about sentMessage sent to destination.
    std::optional<icmp::Answer> queuedError(const cmsghdr& c, QByteArrayView sentMessage,
                                            const sockaddr_storage& destination) const
    {
        if (c.cmsg_level != IPPROTO_IP || c.cmsg_type != IP_RECVERR ||
            c.cmsg_len < CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in)))
            return std::nullopt;
        sock_extended_err error;
        sockaddr_in offender;
        sockaddr_in original;
        std::memcpy(&error, CMSG_DATA(&c), sizeof error);
        std::memcpy(&offender, CMSG_DATA(&c) + sizeof error, sizeof offender);
        std::memcpy(&original, &destination, sizeof original);
        if (error.ee_origin != SO_EE_ORIGIN_ICMP)
            return std::nullopt;
        return icmp::interpretQueuedError(error.ee_type, error.ee_code, offender.sin_addr.s_addr, sentMessage,
                                          original.sin_addr.s_addr, m_identity);
    }

    // As queuedError, for an IPV6_RECVERR control message.
    std::optional<icmp::Answer> queuedError6(const cmsghdr& c, QByteArrayView sentMessage,
                                             const sockaddr_storage& destination) const
    {
        if (c.cmsg_level != IPPROTO_IPV6 || c.cmsg_type != IPV6_RECVERR ||
            c.cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
            return std::nullopt;
        sock_extended_err error;
        sockaddr_in6 original;
        std::memcpy(&error, CMSG_DATA(&c), sizeof error);
        std::memcpy(&original, &destination, sizeof original);
        if (error.ee_origin != SO_EE_ORIGIN_ICMP6)
            return std::nullopt;
        return icmp::interpretQueuedError6(error.ee_type, error.ee_code, sentMessage, toQt(original.sin6_addr),
                                           m_identity6);
    }

    void readDatagrams()
    {
        for (int i = 0; i < kMaxReadsPerWakeup; ++i) {
            char data[kReceiveBufferSize];
            sockaddr_storage from{};
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
            const auto answer = interpret(QByteArrayView(data, size), from);
            if (answer) {
                answered(*answer);
                return;
            }
        }
    }

    // A message from the normal receive queue and its sender: a raw IPv4 socket's includes the IP header,
    // an ICMPv6 socket's never does.
    std::optional<icmp::Answer> interpret(QByteArrayView datagram, const sockaddr_storage& from) const
    {
        if (m_family == AF_INET6) {
            sockaddr_in6 source;
            std::memcpy(&source, &from, sizeof source);
            return icmp::interpretMessage6(datagram, toQt(source.sin6_addr), m_identity6);
        }
        if (!m_ping)
            return icmp::interpretRawDatagram(datagram, m_identity);
        sockaddr_in source;
        std::memcpy(&source, &from, sizeof source);
        return icmp::interpretPingReply(datagram, source.sin_addr.s_addr, m_identity);
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
    int m_family = AF_INET;
    bool m_ping = false;
    icmp::EchoIdentity m_identity;
    icmp::EchoIdentity6 m_identity6;
    std::chrono::steady_clock::time_point m_sentAt;
};

LinuxIcmpEcho::SocketKind socketKindFor(int family)
{
    const IcmpSocket socket = openIcmpSocket(family);
    if (socket.fd < 0)
        return LinuxIcmpEcho::SocketKind::None;
    ::close(socket.fd);
    return socket.ping ? LinuxIcmpEcho::SocketKind::Ping : LinuxIcmpEcho::SocketKind::Raw;
}

} // namespace

LinuxIcmpEcho::SocketKind LinuxIcmpEcho::socketKind()
{
    return socketKindFor(AF_INET);
}

LinuxIcmpEcho::SocketKind LinuxIcmpEcho::socketKind6()
{
    return socketKindFor(AF_INET6);
}

bool LinuxIcmpEcho::available()
{
    return socketKind() != SocketKind::None;
}

bool LinuxIcmpEcho::available6()
{
    return socketKind6() != SocketKind::None;
}

std::unique_ptr<PendingOperation> LinuxIcmpEcho::send(quint32 address, const QByteArray& payload, int timeoutMs,
                                                      Done done)
{
    auto request = std::make_unique<EchoRequest>(std::move(done));
    request->start(address, payload, timeoutMs);
    return request;
}

std::unique_ptr<PendingOperation> LinuxIcmpEcho::send6(const Q_IPV6ADDR& address, const QByteArray& payload,
                                                       int timeoutMs, Done done)
{
    auto request = std::make_unique<EchoRequest>(std::move(done));
    request->start6(address, payload, timeoutMs);
    return request;
}

} // namespace sondrel::platform
