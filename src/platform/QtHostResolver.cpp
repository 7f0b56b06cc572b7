#include "platform/QtHostResolver.h"

#include <QHostAddress>
#include <QHostInfo>

#include <algorithm>
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

class Lookup final : public QObject, public PendingOperation {
public:
    Lookup(const QString& name, HostResolver::Done done)
        : m_done(std::move(done))
    {
        if (const auto answer = answerWithoutLookup(name)) {
            QMetaObject::invokeMethod(
                this, [this, dotted = *answer] { finish(dotted); }, Qt::QueuedConnection);
            return;
        }
        m_id = QHostInfo::lookupHost(name, this, [this](const QHostInfo& info) { finished(info); });
    }
    ~Lookup() override
    {
        if (m_id >= 0)
            QHostInfo::abortHostLookup(m_id);
    }

private:
    void finished(const QHostInfo& info)
    {
        m_id = -1;
        // The first IPv4 address, as always; a host with only IPv6 addresses is reached at its first one.
        QString found;
        if (info.error() == QHostInfo::NoError) {
            const QList<QHostAddress> addresses = info.addresses();
            for (const auto protocol : {QAbstractSocket::IPv4Protocol, QAbstractSocket::IPv6Protocol}) {
                const auto first = std::find_if(addresses.begin(), addresses.end(),
                                                [protocol](const QHostAddress& a) { return a.protocol() == protocol; });
                if (first != addresses.end()) {
                    found = first->toString();
                    break;
                }
            }
        }
        finish(found);
    }
    void finish(const QString& dotted)
    {
        if (auto done = std::exchange(m_done, nullptr))
            done(dotted);
    }

    HostResolver::Done m_done;
    int m_id = -1;
};

} // namespace

std::unique_ptr<PendingOperation> QtHostResolver::lookup(const QString& name, Done done)
{
    return std::make_unique<Lookup>(name, std::move(done));
}

} // namespace sondrel::platform
