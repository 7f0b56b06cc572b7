#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QtGlobal>

#include <optional>

// Building and reading ICMP and ICMPv6 echo messages. IPv4 addresses are as they sit in memory in a
// struct in_addr (network byte order), IPv6 addresses as the 16 bytes of a struct in6_addr; identifiers and
// sequence numbers are plain numbers.
namespace sondrel::platform::icmp {

inline constexpr quint8 kEchoReply = 0;
inline constexpr quint8 kDestUnreachable = 3;
inline constexpr quint8 kSourceQuench = 4;
inline constexpr quint8 kEchoRequest = 8;
inline constexpr quint8 kTimeExceeded = 11;
inline constexpr quint8 kParamProblem = 12;

inline constexpr int kHeaderSize = 8;

// The Internet checksum: the one's complement of the one's complement sum of the 16-bit words,
// an odd last byte padded with zero. A message whose checksum field is right sums to 0.
quint16 checksum(QByteArrayView bytes);

// An echo request with its checksum filled in.
QByteArray buildEchoRequest(quint16 id, quint16 sequence, QByteArrayView payload);

// The echo we are waiting for. A ping socket's identifier belongs to the kernel, which delivers only
// replies carrying it, so then the identifier is not compared. A reply must also carry back exactly
// the payload sent: one more thing a forged reply has to get right besides identifier and sequence.
struct EchoIdentity {
    quint16 id = 0;
    quint16 sequence = 0;
    quint32 destination = 0;
    bool kernelOwnsId = false;
    QByteArray payload;
};

// What a received message means for our echo: a reply (status 0) with the echoed data, or an ICMP
// error about it with the status code it maps to. from is who sent an ICMP message; 0 for ICMPv6.
struct Answer {
    qint32 status = 0;
    quint32 from = 0;
    QByteArray data;
};

// The parts of an IPv4 datagram that carry ICMP; nullopt when the bytes are not one.
struct IpDatagram {
    quint32 source = 0;
    quint32 destination = 0;
    quint8 protocol = 0;
    QByteArrayView payload; // into the bytes passed in
};
std::optional<IpDatagram> parseIpDatagram(QByteArrayView bytes);

// The echo request quoted inside an ICMP error (the original IP header and at least the first 8 bytes
// of what it carried); nullopt when the quote is not of an echo request.
struct QuotedEcho {
    quint32 destination = 0;
    quint16 id = 0;
    quint16 sequence = 0;
};
std::optional<QuotedEcho> parseQuotedEcho(QByteArrayView errorBody);

// A datagram read from a raw ICMP socket, IP header included, which sees every ICMP message on the
// host: ours only when the checksum holds and identifier, sequence and address all match, and for a
// reply the echoed data too.
std::optional<Answer> interpretRawDatagram(QByteArrayView datagram, const EchoIdentity& ours);

// A message read from a ping socket (ICMP only, the kernel has checked its checksum) and its sender:
// ours only when sequence, address and echoed data match.
std::optional<Answer> interpretPingReply(QByteArrayView message, quint32 source, const EchoIdentity& ours);

// An ICMP error taken from a ping socket's error queue: its type and code, who sent it, and our
// request as the kernel returns it (the ICMP message it was about, addressed to originalDestination).
std::optional<Answer> interpretQueuedError(quint8 type, quint8 code, quint32 offender, QByteArrayView originalMessage,
                                           quint32 originalDestination, const EchoIdentity& ours);

// The status code for an ICMP error type and code; nullopt for a type that says nothing about an echo.
std::optional<qint32> statusForError(quint8 type, quint8 code);

inline constexpr quint8 kDestUnreachable6 = 1;
inline constexpr quint8 kPacketTooBig6 = 2;
inline constexpr quint8 kTimeExceeded6 = 3;
inline constexpr quint8 kParamProblem6 = 4;
inline constexpr quint8 kEchoRequest6 = 128;
inline constexpr quint8 kEchoReply6 = 129;

// An ICMPv6 echo request with its checksum left 0: the checksum covers the source address the kernel picks,
// so the kernel fills it in, on raw ICMPv6 sockets as on ping sockets.
QByteArray buildEchoRequest6(quint16 id, quint16 sequence, QByteArrayView payload);

// The ICMPv6 echo we are waiting for, as EchoIdentity.
struct EchoIdentity6 {
    quint16 id = 0;
    quint16 sequence = 0;
    Q_IPV6ADDR destination{};
    bool kernelOwnsId = false;
    QByteArray payload;
};

// The echo request quoted inside an ICMPv6 error (the original IPv6 header, then our ICMPv6 message right
// after it); nullopt when the quote is not of an echo request.
struct QuotedEcho6 {
    Q_IPV6ADDR destination{};
    quint16 id = 0;
    quint16 sequence = 0;
};
std::optional<QuotedEcho6> parseQuotedEcho6(QByteArrayView errorBody);

// An ICMPv6 message read from an ICMPv6 socket, which delivers it without the IPv6 header and with its
// checksum already verified by the kernel, and its sender (recvmsg's msg_name). A reply is ours only when
// identifier (unless the kernel owns it), sequence, sender and echoed data match; an error only when it
// quotes our echo request to our destination. The answer's from stays 0.
std::optional<Answer> interpretMessage6(QByteArrayView message, const Q_IPV6ADDR& source, const EchoIdentity6& ours);

// An ICMPv6 error taken from a ping socket's error queue, as interpretQueuedError. The answer's from stays 0.
std::optional<Answer> interpretQueuedError6(quint8 type, quint8 code, QByteArrayView originalMessage,
                                            const Q_IPV6ADDR& originalDestination, const EchoIdentity6& ours);

// The status code for an ICMPv6 error type and code: the one its ICMP counterpart gives, and for Packet Too
// Big the one of a send refused as too big; nullopt for a type that says nothing about an echo.
std::optional<qint32> statusForError6(quint8 type, quint8 code);

// The status code for a send the kernel refused with errno err.
qint32 statusForSendError(int err);

} // namespace sondrel::platform::icmp
