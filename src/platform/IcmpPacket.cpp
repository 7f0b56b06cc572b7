#include "platform/IcmpPacket.h"

#include "platform/IcmpEcho.h"

#include <QtEndian>

#include <cerrno>
#include <cstring>

namespace sondrel::platform::icmp {

namespace {

constexpr quint8 kProtocolIcmp = 1;
constexpr quint8 kProtocolIcmp6 = 58;
constexpr int kMinIpHeaderSize = 20;
constexpr int kIp6HeaderSize = 40;

quint8 byteAt(QByteArrayView bytes, qsizetype at)
{
    return static_cast<quint8>(bytes[at]);
}

quint16 wordAt(QByteArrayView bytes, qsizetype at)
{
    return qFromBigEndian<quint16>(bytes.data() + at);
}

quint32 addressAt(QByteArrayView bytes, qsizetype at)
{
    quint32 address = 0;
    std::memcpy(&address, bytes.data() + at, sizeof address);
    return address;
}

bool sameAddress(const Q_IPV6ADDR& a, const Q_IPV6ADDR& b)
{
    return std::memcmp(a.c, b.c, sizeof a.c) == 0;
}

// An ICMP error about one of our echo requests: its quote must name our identifier (unless the kernel
// owns it), our sequence number and our destination.
bool quotesOurs(const QuotedEcho& quoted, const EchoIdentity& ours)
{
    return (ours.kernelOwnsId || quoted.id == ours.id) && quoted.sequence == ours.sequence &&
           quoted.destination == ours.destination;
}

bool quotesOurs(const QuotedEcho6& quoted, const EchoIdentity6& ours)
{
    return (ours.kernelOwnsId || quoted.id == ours.id) && quoted.sequence == ours.sequence &&
           sameAddress(quoted.destination, ours.destination);
}

// An echo reply (a message at least kHeaderSize long) that carries back exactly the data we sent.
bool echoesOurData(QByteArrayView reply, QByteArrayView payload)
{
    return reply.sliced(kHeaderSize) == payload;
}

} // namespace

quint16 checksum(QByteArrayView bytes)
{
    quint32 sum = 0;
    qsizetype i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += quint32(byteAt(bytes, i)) << 8 | byteAt(bytes, i + 1);
    if (i < bytes.size())
        sum += quint32(byteAt(bytes, i)) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<quint16>(~sum);
}

QByteArray buildEchoRequest(quint16 id, quint16 sequence, QByteArrayView payload)
{
    QByteArray message(kHeaderSize, '\0');
    message[0] = static_cast<char>(kEchoRequest);
    qToBigEndian<quint16>(id, message.data() + 4);
    qToBigEndian<quint16>(sequence, message.data() + 6);
    message.append(payload);
    qToBigEndian<quint16>(checksum(message), message.data() + 2);
    return message;
}

std::optional<IpDatagram> parseIpDatagram(QByteArrayView bytes)
{
    if (bytes.size() < kMinIpHeaderSize || byteAt(bytes, 0) >> 4 != 4)
        return std::nullopt;
    const int headerSize = (byteAt(bytes, 0) & 0x0F) * 4;
    const int totalSize = wordAt(bytes, 2);
    if (headerSize < kMinIpHeaderSize || totalSize < headerSize || bytes.size() < headerSize)
        return std::nullopt;
    IpDatagram datagram;
    datagram.protocol = byteAt(bytes, 9);
    datagram.source = addressAt(bytes, 12);
    datagram.destination = addressAt(bytes, 16);
    // A quote inside an ICMP error may be cut short of the stated length; keep what is there.
    datagram.payload = bytes.sliced(headerSize, std::min<qsizetype>(bytes.size(), totalSize) - headerSize);
    return datagram;
}

std::optional<QuotedEcho> parseQuotedEcho(QByteArrayView errorBody)
{
    const auto original = parseIpDatagram(errorBody);
    if (!original || original->protocol != kProtocolIcmp || original->payload.size() < kHeaderSize ||
        byteAt(original->payload, 0) != kEchoRequest || byteAt(original->payload, 1) != 0)
        return std::nullopt;
    return QuotedEcho{original->destination, wordAt(original->payload, 4), wordAt(original->payload, 6)};
}

std::optional<Answer> interpretRawDatagram(QByteArrayView datagram, const EchoIdentity& ours)
{
    const auto ip = parseIpDatagram(datagram);
    if (!ip || ip->protocol != kProtocolIcmp || ip->payload.size() < kHeaderSize || checksum(ip->payload) != 0)
        return std::nullopt;
    const QByteArrayView message = ip->payload;
    const quint8 type = byteAt(message, 0);
    if (type == kEchoReply) {
        if (byteAt(message, 1) != 0 || wordAt(message, 4) != ours.id || wordAt(message, 6) != ours.sequence ||
            ip->source != ours.destination || !echoesOurData(message, ours.payload))
            return std::nullopt;
        return Answer{IpStatus::Success, ip->source, message.sliced(kHeaderSize).toByteArray()};
    }
    const auto status = statusForError(type, byteAt(message, 1));
    if (!status)
        return std::nullopt;
    const auto quoted = parseQuotedEcho(message.sliced(kHeaderSize));
    if (!quoted || !quotesOurs(*quoted, {ours.id, ours.sequence, ours.destination, false, ours.payload}))
        return std::nullopt;
    return Answer{*status, ip->source, {}};
}

std::optional<Answer> interpretPingReply(QByteArrayView message, quint32 source, const EchoIdentity& ours)
{
    if (message.size() < kHeaderSize || byteAt(message, 0) != kEchoReply || byteAt(message, 1) != 0 ||
        wordAt(message, 6) != ours.sequence || source != ours.destination || !echoesOurData(message, ours.payload))
        return std::nullopt;
    if (!ours.kernelOwnsId && wordAt(message, 4) != ours.id)
        return std::nullopt;
    return Answer{IpStatus::Success, source, message.sliced(kHeaderSize).toByteArray()};
}

std::optional<Answer> interpretQueuedError(quint8 type, quint8 code, quint32 offender, QByteArrayView originalMessage,
                                           quint32 originalDestination, const EchoIdentity& ours)
{
    const auto status = statusForError(type, code);
    if (!status || originalMessage.size() < kHeaderSize || byteAt(originalMessage, 0) != kEchoRequest)
        return std::nullopt;
    const QuotedEcho quoted{originalDestination, wordAt(originalMessage, 4), wordAt(originalMessage, 6)};
    if (!quotesOurs(quoted, ours))
        return std::nullopt;
    return Answer{*status, offender, {}};
}

std::optional<qint32> statusForError(quint8 type, quint8 code)
{
    switch (type) {
    case kDestUnreachable:
        switch (code) {
        case 0:
            return IpStatus::DestNetUnreachable;
        case 2:
            return IpStatus::DestProtUnreachable;
        case 3:
            return IpStatus::DestPortUnreachable;
        default:
            return IpStatus::DestHostUnreachable;
        }
    case kTimeExceeded:
        return code == 1 ? IpStatus::TtlExpiredReassem : IpStatus::TtlExpiredTransit;
    case kParamProblem:
        return IpStatus::ParamProblem;
    case kSourceQuench:
        return IpStatus::SourceQuench;
    default:
        return std::nullopt;
    }
}

QByteArray buildEchoRequest6(quint16 id, quint16 sequence, QByteArrayView payload)
{
    QByteArray message(kHeaderSize, '\0');
    message[0] = static_cast<char>(kEchoRequest6);
    qToBigEndian<quint16>(id, message.data() + 4);
    qToBigEndian<quint16>(sequence, message.data() + 6);
    message.append(payload);
    return message;
}

std::optional<QuotedEcho6> parseQuotedEcho6(QByteArrayView errorBody)
{
    // Our requests carry no extension headers, so the echo request follows the IPv6 header directly.
    if (errorBody.size() < kIp6HeaderSize + kHeaderSize || byteAt(errorBody, 0) >> 4 != 6 ||
        byteAt(errorBody, 6) != kProtocolIcmp6)
        return std::nullopt;
    const QByteArrayView message = errorBody.sliced(kIp6HeaderSize);
    if (byteAt(message, 0) != kEchoRequest6 || byteAt(message, 1) != 0)
        return std::nullopt;
    QuotedEcho6 quoted;
    std::memcpy(quoted.destination.c, errorBody.data() + 24, sizeof quoted.destination.c);
    quoted.id = wordAt(message, 4);
    quoted.sequence = wordAt(message, 6);
    return quoted;
}

std::optional<Answer> interpretMessage6(QByteArrayView message, const Q_IPV6ADDR& source, const EchoIdentity6& ours)
{
    if (message.size() < kHeaderSize)
        return std::nullopt;
    const quint8 type = byteAt(message, 0);
    if (type == kEchoReply6) {
        if (byteAt(message, 1) != 0 || (!ours.kernelOwnsId && wordAt(message, 4) != ours.id) ||
            wordAt(message, 6) != ours.sequence || !sameAddress(source, ours.destination) ||
            !echoesOurData(message, ours.payload))
            return std::nullopt;
        return Answer{IpStatus::Success, 0, message.sliced(kHeaderSize).toByteArray()};
    }
    const auto status = statusForError6(type, byteAt(message, 1));
    if (!status)
        return std::nullopt;
    const auto quoted = parseQuotedEcho6(message.sliced(kHeaderSize));
    if (!quoted || !quotesOurs(*quoted, ours))
        return std::nullopt;
    return Answer{*status, 0, {}};
}

std::optional<Answer> interpretQueuedError6(quint8 type, quint8 code, QByteArrayView originalMessage,
                                            const Q_IPV6ADDR& originalDestination, const EchoIdentity6& ours)
{
    const auto status = statusForError6(type, code);
    if (!status || originalMessage.size() < kHeaderSize || byteAt(originalMessage, 0) != kEchoRequest6)
        return std::nullopt;
    const QuotedEcho6 quoted{originalDestination, wordAt(originalMessage, 4), wordAt(originalMessage, 6)};
    if (!quotesOurs(quoted, ours))
        return std::nullopt;
    return Answer{*status, 0, {}};
}

std::optional<qint32> statusForError6(quint8 type, quint8 code)
{
    switch (type) {
    case kDestUnreachable6:
        switch (code) {
        case 0: // no route to destination
            return IpStatus::DestNetUnreachable;
        case 4: // port unreachable
            return IpStatus::DestPortUnreachable;
        default: // administratively prohibited, beyond scope, address unreachable, policy, reject route
            return IpStatus::DestHostUnreachable;
        }
    case kPacketTooBig6:
        return IpStatus::PacketTooBig;
    case kTimeExceeded6:
        return code == 1 ? IpStatus::TtlExpiredReassem : IpStatus::TtlExpiredTransit;
    case kParamProblem6:
        return IpStatus::ParamProblem;
    default:
        return std::nullopt;
    }
}

qint32 statusForSendError(int err)
{
    switch (err) {
    case ENETUNREACH:
        return IpStatus::DestNetUnreachable;
    case EHOSTUNREACH:
        return IpStatus::DestHostUnreachable;
    case EMSGSIZE:
        return IpStatus::PacketTooBig;
    default:
        return IpStatus::GeneralFailure;
    }
}

} // namespace sondrel::platform::icmp
