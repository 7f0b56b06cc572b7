#pragma once

#include "platform/HostResolver.h"
#include "platform/IcmpEcho.h"
#include "platform/PendingOperation.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <functional>
#include <memory>

// The network steps of one check: resolving the site's host name and sending it one ICMP echo.
namespace sondrel::probe {

inline constexpr int kEchoTimeoutMs = 500;

// The status of a probe whose address text could not be read; nothing was sent.
inline constexpr qint32 kBadAddressStatus = -1;

// True when an ICMP socket can be opened now.
bool startsockets(platform::IcmpEcho& echo);

// There is no socket library to release on this platform.
void cleanupsockets();

// "b1.b2.b3.b4", each byte in decimal.
QString formatip(const std::array<quint8, 4>& bytes);

// The code, three blanks and its text in brackets: "11010   [ ip req timed out ]".
QString pingstatustext(qint32 code);

// Resolves hostName exactly as typed; done gets its first IPv4 address in dotted form, or empty text,
// from the event loop.
std::unique_ptr<platform::PendingOperation> gethostip(platform::HostResolver& resolver, const QString& hostName,
                                                      std::function<void(const QString&)> done);

// Sends one echo carrying packetText in the 8-bit code page to the address read from addressText (dotted
// IPv4 as inet_addr reads it, or an IPv6 address) and
// waits at most kEchoTimeoutMs. done(status, reply) is always called from the event loop and never after
// the returned operation is destroyed. An unreadable address (-1), a packet text longer than the reply's
// data area (11001) and no ICMP socket (11050) send nothing and come with an all-zero reply.
std::unique_ptr<platform::PendingOperation>
pingaddress(platform::IcmpEcho& echo, const QString& addressText, const QString& packetText,
            std::function<void(qint32 status, const platform::EchoReply& reply)> done);

} // namespace sondrel::probe
