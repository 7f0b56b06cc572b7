#include "platform/QtHostResolver.h"

#include <QHostAddress>
#include <QHostInfo>

#include <algorithm>
#include <memory>
#include <optional>

#include <arpa/inet.h>

namespace sondrel::platform {

namespace {

// Names the system resolver answers by itself. Text of digits and dots is an address in the forms
// inet_aton reads ("127.1" included), or nothing. An IPv6 literal, exactly as typed, is its own address.
// Any other text Qt would take as an address literal (with blanks around it) names no host; Qt would trim it
// and look up its reverse name over the network. Nullopt when the name needs a real lookup.
std::optional<QString> answerWithoutLookup(const QString& name)
{
    if (name.isEmpty())
        return QString();
    const bool digitsAndDots =
        name.front().isDigit() && name.back() != u'.' &&
        std::all_of(name.begin(), name.end(), [](QChar c) { return (c >= u'0' && c <= u'9') || c == u'.'; });
    if (digitsAndDots) {
        in_addr address{};
        if (::inet_aton(name.toLatin1().constData(), &address) == 0)
            return QString();
        return QHostAddress(ntohl(address.s_addr)).toString();
    }
    const QHostAddress literal(name);
    if (literal.protocol() == QAbstractSocket::IPv6Protocol && name.trimmed() == name && literal.scopeId().isEmpty())
        return literal.toString();
    if (!literal.isNull())
        return QString();
    return std::nullopt;
}

// The first IPv4 address, as always; a host with only IPv6 addresses is reached at its first one.
QString firstAddress(const QHostInfo& info)
{
    if (info.error() != QHostInfo::NoError)
        return QString();
    const QList<QHostAddress> addresses = info.addresses();
    for (const auto protocol : {QAbstractSocket::IPv4Protocol, QAbstractSocket::IPv6Protocol}) {
        const auto first = std::find_if(addresses.begin(), addresses.end(),
                                        [protocol](const QHostAddress& a) { return a.protocol() == protocol; });
        if (first != addresses.end())
            return first->toString();
    }
    return QString();
}

// Receives every answer of Qt's host lookup. Qt keeps what it needs to deliver an answer until it has
// delivered it to a living receiver: a lookup aborted, or whose receiver died, before its answer leaves that
// behind for good. So no lookup is aborted and their receiver lives as long as the program; an answer nobody
// waits for any more is dropped here, and Qt frees what it held.
QObject& answerReceiver()
{
    static QObject* const receiver = new QObject;
    return *receiver;
}

// Where a lookup's answer goes; emptied when the lookup is given up.
struct Waiting {
    HostResolver::Done done;
};

class Lookup final : public QObject, public PendingOperation {
public:
    Lookup(const QString& name, HostResolver::Done done)
        : m_waiting(std::make_shared<Waiting>(Waiting{std::move(done)}))
    {
        if (const auto answer = answerWithoutLookup(name)) {
            QMetaObject::invokeMethod(
                this, [waiting = m_waiting, dotted = *answer] { deliver(*waiting, dotted); }, Qt::QueuedConnection);
            return;
        }
        QHostInfo::lookupHost(name, &answerReceiver(),
                              [waiting = m_waiting](const QHostInfo& info) { deliver(*waiting, firstAddress(info)); });
    }
    ~Lookup() override { m_waiting->done = nullptr; }

private:
    static void deliver(Waiting& waiting, const QString& dotted)
    {
        if (auto done = std::exchange(waiting.done, nullptr))
            done(dotted);
    }

    std::shared_ptr<Waiting> m_waiting;
};

} // namespace

std::unique_ptr<PendingOperation> QtHostResolver::lookup(const QString& name, Done done)
{
    return std::make_unique<Lookup>(name, std::move(done));
}

} // namespace sondrel::platform
