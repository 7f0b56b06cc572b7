#include "platform/QtHostResolver.h"

#include <QHostInfo>
#include <QPointer>

namespace sondrel::platform {

namespace {

class Lookup final : public QObject, public PendingOperation {
public:
    Lookup(const QString& name, HostResolver::Done done)
        : m_done(std::move(done))
    {
        if (name.isEmpty()) {
            // QHostInfo refuses an empty name at once; answer through the event loop like any other.
            QMetaObject::invokeMethod(this, [this] { finish(QString()); }, Qt::QueuedConnection);
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
        QString dotted;
        if (info.error() == QHostInfo::NoError) {
            for (const QHostAddress& address : info.addresses()) {
                if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                    dotted = address.toString();
                    break;
                }
            }
        }
        finish(dotted);
    }
    void finish(const QString& dotted)
    {
        auto done = std::move(m_done);
        m_done = nullptr;
        if (done)
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
