// The ICMP reply and error readers over arbitrary messages, and our own echo request answered, which must always
// read as ours.
#include "FuzzInput.h"

#include "platform/IcmpEcho.h"
#include "platform/IcmpPacket.h"

#include <QtEndian>

#include <cstring>

using namespace sondrel::platform;
using namespace sondrel::platform::icmp;

namespace {

// The ICMP checksum of a datagram's payload recomputed, so that the fuzzer gets past that check to the ones behind.
void fixChecksum(QByteArray& datagram)
{
    const auto ip = parseIpDatagram(datagram);
    if (!ip || ip->payload.size() < kHeaderSize)
        return;
    const qsizetype at = ip->payload.data() - datagram.constData();
    datagram[at + 2] = datagram[at + 3] = 0;
    qToBigEndian<quint16>(checksum(datagram.sliced(at, ip->payload.size())), datagram.data() + at + 2);
}

// An IPv4 datagram carrying an ICMP message from source to destination.
QByteArray ipDatagram(quint32 source, quint32 destination, const QByteArray& message)
{
    QByteArray datagram(20, '\0');
    datagram[0] = 0x45;
    qToBigEndian<quint16>(static_cast<quint16>(20 + message.size()), datagram.data() + 2);
    datagram[9] = 1;
    std::memcpy(datagram.data() + 12, &source, 4);
    std::memcpy(datagram.data() + 16, &destination, 4);
    return datagram + message;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sondrel::fuzz::FuzzInput input(data, size);
    const quint8 choice = input.byte();
    EchoIdentity ours;
    ours.kernelOwnsId = choice & 1;
    ours.id = input.word();
    ours.sequence = input.word();
    ours.destination = input.number32();
    ours.payload = input.take(input.byte() % 64).toByteArray();

    // Our request echoed back by its destination is ours, on either kind of socket.
    QByteArray reply = buildEchoRequest(ours.id, ours.sequence, ours.payload);
    SONDREL_FUZZ_CHECK(checksum(reply) == 0);
    reply[0] = static_cast<char>(kEchoReply);
    reply[2] = reply[3] = 0;
    qToBigEndian<quint16>(checksum(reply), reply.data() + 2);
    const auto echoed = interpretPingReply(reply, ours.destination, ours);
    SONDREL_FUZZ_CHECK(echoed && echoed->status == IpStatus::Success && echoed->data == ours.payload);
    const auto rawEchoed = interpretRawDatagram(ipDatagram(ours.destination, 0, reply), ours);
    SONDREL_FUZZ_CHECK(rawEchoed && rawEchoed->status == IpStatus::Success && rawEchoed->data == ours.payload);

    // Whatever else arrives is ours only when it names our echo: a reply from our destination with our data, or an
    // error with the status its type and code give.
    switch ((choice >> 1) % 3) {
    case 0: {
        QByteArray datagram = input.rest().toByteArray();
        if (choice & 0x80)
            fixChecksum(datagram);
        if (const auto answer = interpretRawDatagram(datagram, ours)) {
            const auto ip = parseIpDatagram(datagram);
            SONDREL_FUZZ_CHECK(ip && checksum(ip->payload) == 0 && answer->from == ip->source);
            if (answer->status == IpStatus::Success)
                SONDREL_FUZZ_CHECK(answer->data == ours.payload && answer->from == ours.destination);
            else
                SONDREL_FUZZ_CHECK(answer->status == statusForError(quint8(ip->payload[0]), quint8(ip->payload[1])));
        }
        break;
    }
    case 1: {
        const quint32 source = input.number32();
        if (const auto answer = interpretPingReply(input.rest(), source, ours))
            SONDREL_FUZZ_CHECK(answer->status == IpStatus::Success && answer->data == ours.payload &&
                               answer->from == ours.destination);
        break;
    }
    case 2: {
        const quint8 type = input.byte();
        const quint8 code = input.byte();
        const quint32 offender = input.number32();
        const quint32 originalDestination = input.number32();
        if (const auto answer = interpretQueuedError(type, code, offender, input.rest(), originalDestination, ours))
            SONDREL_FUZZ_CHECK(answer->status == statusForError(type, code) && answer->from == offender &&
                               originalDestination == ours.destination);
        break;
    }
    }
    return 0;
}
