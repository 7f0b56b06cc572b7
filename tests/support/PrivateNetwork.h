#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace sondrel::test {

// Moves the calling thread, and every process and thread it starts afterwards, into a new network
// namespace of its own with only the loopback interface, up. Nothing sent from there can leave the
// machine. Gives empty text on success, else why it cannot be done (not root, no unshare, no ip tool).
QString enterPrivateNetwork();

// Gives the calling thread, and every process and thread it starts afterwards, a mount namespace of its own in
// which /etc/hosts holds content (a file kept in folder), and a global IPv6 and an IPv4 address on a veth pair
// of the private network, so that the resolver hands out addresses of both kinds. Call it after enterPrivateNetwork().
// Empty text on success, else why not.
QString usePrivateHostsFile(const QString& folder, const QByteArray& content);

// In the mount namespace that usePrivateHostsFile made, /etc/resolv.conf holds content (a file kept in folder),
// so that names not in the hosts file go to a name server the test runs on loopback. Empty text on success.
QString usePrivateResolverFile(const QString& folder, const QByteArray& content);

// A default route over a veth pair in the private network, so that the system reports a connection although every
// echo still goes to loopback. Empty text on success, else why not.
QString addDefaultRoute();

// nftables table "site" of the private network drops the echo replies from address (IPv4). Empty text on success.
QString dropEchoRepliesFrom(const QString& address);

// Runs a setup command to its end (at most a few seconds), with input on its standard input.
// Gives empty text when it exits with 0, else its error output.
QString runCommand(const QString& program, const QStringList& arguments, const QByteArray& input = {});

// Sets net.ipv4.ping_group_range of the current network namespace, such as "1 0" (nobody may open a
// ping socket) or "0 2147483647" (everybody may). False when it cannot be written.
bool setPingGroupRange(const QByteArray& range);

} // namespace sondrel::test
