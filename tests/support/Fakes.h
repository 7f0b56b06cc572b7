#pragma once

#include "platform/Services.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>

namespace sondrel::test {

using namespace sondrel::platform;

// Records every box; show() returns at once, as if the user pressed OK, and ask() answers askAnswer.
class FakeMessageBoxes final : public MessageBoxes {
public:
    struct Shown {
        QString text;
        QString title;
        MessageIcon icon;
    };
    void show(const QString& text, const QString& title, MessageIcon icon) override
    {
        shown.append({text, title, icon});
        if (onShow)
            onShow(shown.back());
    }
    bool ask(const QString& text, const QString& title, MessageIcon icon) override
    {
        show(text, title, icon);
        return askAnswer;
    }
    QStringList texts() const
    {
        QStringList all;
        for (const auto& s : shown)
            all.append(s.text);
        return all;
    }
    QList<Shown> shown;
    std::function<void(const Shown&)> onShow;
    bool askAnswer = false;
};

// A real monotonic clock with a wall clock the test can pin.
class FakeClock final : public Clock {
public:
    FakeClock() { m_started.start(); }
    qint64 monotonicMs() const override { return m_started.elapsed() + offsetMs; }
    QDateTime now() const override { return wallClock.isValid() ? wallClock : QDateTime::currentDateTime(); }
    QDateTime wallClock;
    qint64 offsetMs = 0;

private:
    QElapsedTimer m_started;
};

class FakeConnection final : public ConnectionService {
public:
    bool attemptConnect() override
    {
        ++connectCalls;
        return connectResult;
    }
    bool hangUp() override
    {
        ++hangUpCalls;
        return hangUpResult;
    }
    bool connectResult = true;
    bool hangUpResult = true;
    int connectCalls = 0;
    int hangUpCalls = 0;
};

// Calls back through the event loop with a canned outcome.
class DeferredOperation final : public QObject, public PendingOperation {
public:
    explicit DeferredOperation(std::function<void()> fire, int delayMs = 0)
    {
        QTimer::singleShot(delayMs, this, [fire = std::move(fire)] { fire(); });
    }
};

class FakeIcmpEcho final : public IcmpEcho {
public:
    bool available() override { return isAvailable; }
    std::unique_ptr<PendingOperation> send(quint32 address, const QByteArray& payload, int timeoutMs,
                                           Done done) override
    {
        ++sendCount;
        lastAddress = address;
        lastPayload = payload;
        lastTimeout = timeoutMs;
        EchoReply reply = nextReply ? nextReply(address, payload) : echoOf(address, payload);
        return std::make_unique<DeferredOperation>([done, reply] { done(reply); }, delayMs);
    }
    bool available6() override { return isAvailable; }
    // Answers as send does, counted with it; lastAddress and nextReply's address are 0.
    std::unique_ptr<PendingOperation> send6(const Q_IPV6ADDR& address, const QByteArray& payload, int timeoutMs,
                                            Done done) override
    {
        lastAddress6 = address;
        return send(0, payload, timeoutMs, std::move(done));
    }
    static EchoReply echoOf(quint32 address, const QByteArray& payload)
    {
        EchoReply reply;
        reply.address = address;
        reply.status = IpStatus::Success;
        reply.dataSize = static_cast<qint32>(payload.size());
        std::copy(payload.begin(), payload.end(), reply.data.begin());
        return reply;
    }
    bool isAvailable = true;
    int delayMs = 0;
    int sendCount = 0;
    quint32 lastAddress = 0;
    Q_IPV6ADDR lastAddress6{};
    QByteArray lastPayload;
    int lastTimeout = 0;
    std::function<EchoReply(quint32, const QByteArray&)> nextReply;
};

// Resolves from a table; unknown names give empty text. Dotted addresses resolve to themselves.
class FakeHostResolver final : public HostResolver {
public:
    std::unique_ptr<PendingOperation> lookup(const QString& name, Done done) override
    {
        ++lookupCount;
        QString address = table.value(name);
        if (address.isEmpty() && QHostAddressLike(name))
            address = name;
        return std::make_unique<DeferredOperation>([done, address] { done(address); });
    }
    static bool QHostAddressLike(const QString& name)
    {
        const auto parts = name.split(u'.');
        if (parts.size() != 4)
            return false;
        for (const auto& part : parts) {
            bool ok = false;
            const int v = part.toInt(&ok);
            if (!ok || v < 0 || v > 255)
                return false;
        }
        return true;
    }
    QHash<QString, QString> table;
    int lookupCount = 0;
};

// Answers every GET with a canned body, or fails, or never answers.
class FakeHttpClient final : public HttpClient {
public:
    enum class Mode { Body, Fail, Silent };
    std::unique_ptr<PendingOperation> get(const QUrl& url, Handlers handlers) override
    {
        requested.append(url);
        switch (mode) {
        case Mode::Silent:
            return std::make_unique<DeferredOperation>([] {}, 1 << 30);
        case Mode::Fail:
            return std::make_unique<DeferredOperation>([handlers] { handlers.failed(); });
        case Mode::Body:
            break;
        }
        return std::make_unique<DeferredOperation>([handlers, body = body, contentType = contentType] {
            if (handlers.responseStarted)
                handlers.responseStarted(contentType);
            if (handlers.bodyData && !body.isEmpty())
                handlers.bodyData(body);
            handlers.finished();
        });
    }
    Mode mode = Mode::Body;
    QByteArray body;
    QByteArray contentType = "text/html; charset=utf-8";
    QList<QUrl> requested;
};

class FakeDesktopShell final : public DesktopShell {
public:
    OpenResult openDocument(const QString& path) override
    {
        opened.append(path);
        return result;
    }
    OpenResult result = OpenResult::Opened;
    QStringList opened;
};

class NullTcpSocketFactory final : public TcpSocketFactory {
public:
    std::unique_ptr<TcpSocket> create() override { return nullptr; }
};

// Keeps secrets in memory and answers through the event loop. With answers false it acts as a desktop without
// a secret store: every call ends with NoStore and nothing is kept.
class FakeSecretStore final : public SecretStore {
public:
    std::unique_ptr<PendingOperation> read(const QString& key, ReadDone done) override
    {
        const Status status = !answers ? Status::NoStore : secrets.contains(key) ? Status::Done : Status::Missing;
        const QString secret = status == Status::Done ? secrets.value(key) : QString();
        return std::make_unique<DeferredOperation>([done, status, secret] { done(status, secret); });
    }
    std::unique_ptr<PendingOperation> write(const QString& key, const QString& secret, Done done) override
    {
        if (answers)
            secrets.insert(key, secret);
        return answer(std::move(done));
    }
    std::unique_ptr<PendingOperation> remove(const QString& key, Done done) override
    {
        if (answers)
            secrets.remove(key);
        return answer(std::move(done));
    }
    bool answers = true;
    QHash<QString, QString> secrets;

private:
    std::unique_ptr<PendingOperation> answer(Done done) const
    {
        const Status status = answers ? Status::Done : Status::NoStore;
        return std::make_unique<DeferredOperation>([done, status] { done(status); });
    }
};

// Records every notification, as a desktop with a notification service would show it.
class RecordingNotifier final : public DesktopNotifier {
public:
    struct Shown {
        QString summary;
        QString body;
        QString iconName;
    };
    void notify(const QString& summary, const QString& body, const QString& iconName) override
    {
        shown.append({summary, body, iconName});
    }
    QList<Shown> shown;
};

// One fake of every platform interface; tests swap single members for real implementations.
struct FakeSystem {
    FakeMessageBoxes messages;
    FakeClock clock;
    FakeConnection connection;
    FakeIcmpEcho echo;
    FakeHostResolver resolver;
    FakeHttpClient http;
    NullTcpSocketFactory nullTcp;
    TcpSocketFactory* tcp = &nullTcp;
    FakeDesktopShell shell;
    FakeSecretStore secrets;
    RecordingNotifier recordingNotifier;
    DesktopNotifier* notifier = &recordingNotifier;

    Services services()
    {
        return Services{messages, clock, connection, echo, resolver, http, *tcp, shell, secrets, *notifier};
    }
};

} // namespace sondrel::test
