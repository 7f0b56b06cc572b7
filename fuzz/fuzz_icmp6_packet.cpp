// The ICMPv6 reply and error readers over arbitrary messages, and our own echo request answered, which must always
// read as ours.
#include "FuzzInput.h"

#include "platform/IcmpEcho.h"
#include "platform/IcmpPacket.h"

#include <QtEndian>

#include <cstring>

using namespace sondrel::platform;
using namespace sondrel::platform::icmp;

namespace {

Q_IPV6ADDR address(sondrel::fuzz::FuzzInput& input)
{
    Q_IPV6ADDR address{};
    for (quint8& byte : address.c)
        byte = input.byte();
    return address;
}

bool same(const Q_IPV6ADDR& a, const Q_IPV6ADDR& b)
{
    return std::memcmp(a.c, b.c, sizeof a.c) == 0;
}

// The echo an answer claims to be about, as the message quotes it: the identifier, the sequence and the
// destination our request went to.
bool namesOurs(quint16 id, quint16 sequence, const Q_IPV6ADDR& destination, const EchoIdentity6& ours)
{
    return (ours.kernelOwnsId || id == ours.id) && sequence == ours.sequence && same(destination, ours.destination);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sondrel::fuzz::FuzzInput input(data, size);
    const quint8 choice = input.byte();
    EchoIdentity6 ours;
    ours.kernelOwnsId = choice & 1;
    ours.id = input.word();
    ours.sequence = input.word();
    ours.destination = address(input);
    ours.payload = input.take(input.byte() % 64).toByteArray();

    // Our request echoed back by its destination is ours, whichever socket owns the identifier.
    QByteArray reply = buildEchoRequest6(ours.id, ours.sequence, ours.payload);
    reply[0] = static_cast<char>(kEchoReply6);
    const auto echoed = interpretMessage6(reply, ours.destination, ours);
    SONDREL_FUZZ_CHECK(echoed && echoed->status == IpStatus::Success && echoed->data == ours.payload);

    // Whatever else arrives is ours only when it names our echo: a reply from our destination with our data, or an
    // error that quotes our request, with the status its type and code give.
    if (choice & 2) {
        const Q_IPV6ADDR source = address(input);
        const QByteArrayView message = input.rest();
        if (const auto answer = interpretMessage6(message, source, ours)) {
            SONDREL_FUZZ_CHECK(answer->from == 0 && message.size() >= kHeaderSize);
            const auto type = quint8(message[0]);
            if (answer->status == IpStatus::Success) {
                SONDREL_FUZZ_CHECK(type == kEchoReply6 && answer->data == ours.payload &&
                                   same(source, ours.destination));
                SONDREL_FUZZ_CHECK(namesOurs(qFromBigEndian<quint16>(message.data() + 4),
                                             qFromBigEndian<quint16>(message.data() + 6), source, ours));
            } else {
                SONDREL_FUZZ_CHECK(answer->status == statusForError6(type, quint8(message[1])));
                const auto quoted = parseQuotedEcho6(message.sliced(kHeaderSize));
                SONDREL_FUZZ_CHECK(quoted && namesOurs(quoted->id, quoted->sequence, quoted->destination, ours));
            }
        }
    } else {
        const quint8 type = input.byte();
        const quint8 code = input.byte();
        const Q_IPV6ADDR originalDestination = address(input);
        const QByteArrayView original = input.rest();
        if (const auto answer = interpretQueuedError6(type, code, original, originalDestination, ours)) {
            SONDREL_FUZZ_CHECK(answer->status == statusForError6(type, code) && answer->from == 0);
            SONDREL_FUZZ_CHECK(namesOurs(qFromBigEndian<quint16>(original.data() + 4),
                                         qFromBigEndian<quint16>(original.data() + 6), originalDestination, ours));
        }
    }
    return 0;
}
