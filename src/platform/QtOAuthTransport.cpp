#include "platform/OAuthTransport.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuthHttpServerReplyHandler>
#include <QPointer>
#include <QProcess>
#include <QTimer>

namespace sondrel::platform {

namespace {

// The end of a command's standard error that is kept, so that a chatty command cannot grow without bound.
constexpr qsizetype kMaxErrorBytes = 4096;
// How much of it a failure shows.
constexpr qsizetype kShownErrorBytes = 1024;

bool isLoopbackHttp(const QUrl& url)
{
    const QHostAddress address(url.host());
    return url.scheme() == u"http" && !address.isNull() && address.isLoopback();
}

// A form posted to a token endpoint, with its own network access, so that the transport keeps no state.
class FormPost final : public QObject, public PendingOperation {
public:
    FormPost(const QUrl& url, const QByteArray& form, int timeoutMs, OAuthTransport::FormDone done)
        : m_done(std::move(done))
    {
        if (!url.isValid() || (url.scheme() != u"https" && !isLoopbackHttp(url))) {
            QTimer::singleShot(0, this, [this] {
                finish({0, {}, QStringLiteral("A token endpoint must be an https address (or http on 127.0.0.1).")});
            });
            return;
        }
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        request.setRawHeader("Accept", "application/json");
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        request.setTransferTimeout(timeoutMs);
        m_reply = m_network.post(request, form);
        connect(m_reply, &QNetworkReply::readyRead, this, [this] {
            m_body += m_reply->read(OAuthTransport::kMaxReplyBytes + 1 - m_body.size());
            if (m_body.size() > OAuthTransport::kMaxReplyBytes) {
                m_reply->disconnect(this);
                m_reply->abort();
                finish({0, {}, QStringLiteral("The token endpoint's reply was too long.")});
            }
        });
        connect(m_reply, &QNetworkReply::finished, this, [this] {
            m_body += m_reply->read(OAuthTransport::kMaxReplyBytes + 1 - m_body.size());
            const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (m_body.size() > OAuthTransport::kMaxReplyBytes)
                return finish({0, {}, QStringLiteral("The token endpoint's reply was too long.")});
            if (status == 0)
                return finish({0, {}, m_reply->errorString()});
            finish({status, m_body, {}});
        });
    }
    ~FormPost() override
    {
        if (m_reply) {
            m_reply->disconnect(this);
            m_reply->abort();
        }
    }

private:
    void finish(const OAuthTransport::FormReply& reply)
    {
        if (!m_done)
            return;
        // The callback may destroy this operation: nothing of it is touched afterwards.
        auto done = std::move(m_done);
        m_done = nullptr;
        done(reply);
    }

    QNetworkAccessManager m_network;
    QNetworkReply* m_reply = nullptr; // a child of m_network
    QByteArray m_body;
    OAuthTransport::FormDone m_done;
};

class LoopbackListener final : public OAuthTransport::RedirectListener {
public:
    explicit LoopbackListener(OAuthTransport::RedirectReceived received)
        : m_handler(QHostAddress::LocalHost, 0)
    {
        m_handler.setCallbackText(QStringLiteral("Sondrel has what it needs. You may close this page."));
        QObject::connect(&m_handler, &QOAuthHttpServerReplyHandler::callbackReceived,
                         [received = std::move(received)](const QVariantMap& values) {
                             QUrlQuery query;
                             for (auto it = values.cbegin(); it != values.cend(); ++it)
                                 query.addQueryItem(it.key(), it.value().toString());
                             received(query);
                         });
    }
    bool listening() const { return m_handler.isListening(); }
    QUrl redirectUri() const override { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_handler.port())); }

private:
    QOAuthHttpServerReplyHandler m_handler;
};

// A helper command run without a shell, bounded in time and output.
class CommandRun final : public QObject, public PendingOperation {
public:
    CommandRun(const QString& commandLine, int timeoutMs, qsizetype maxOutput, OAuthTransport::CommandDone done)
        : m_done(std::move(done))
        , m_maxOutput(maxOutput)
    {
        QString problem;
        const std::optional<QStringList> split = OAuthTransport::splitCommandLine(commandLine, &problem);
        if (!split || split->isEmpty()) {
            problem = split ? QStringLiteral("The token command is empty.")
                            : QStringLiteral("The token command cannot be read: %1.").arg(problem);
            QTimer::singleShot(0, this, [this, problem] { fail(problem); });
            return;
        }
        const QStringList& words = *split;
        m_program = words.first();
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this, timeoutMs] {
            fail(QStringLiteral("The token command did not finish within %1 seconds.").arg(timeoutMs / 1000.0));
        });
        connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] {
            m_output += m_process.read(m_maxOutput + 1 - m_output.size());
            if (m_output.size() > m_maxOutput)
                fail(QStringLiteral("The token command printed more than %1 bytes.").arg(m_maxOutput));
        });
        connect(&m_process, &QProcess::readyReadStandardError, this, [this] {
            m_error += m_process.readAllStandardError();
            if (m_error.size() > kMaxErrorBytes)
                m_error = m_error.right(kMaxErrorBytes);
        });
        connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                fail(QStringLiteral("The token command \"%1\" could not be started: %2")
                         .arg(m_program, m_process.errorString()));
        });
        connect(&m_process, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
            m_output += m_process.read(m_maxOutput + 1 - m_output.size());
            if (m_output.size() > m_maxOutput)
                return fail(QStringLiteral("The token command printed more than %1 bytes.").arg(m_maxOutput));
            if (status == QProcess::CrashExit)
                return fail(QStringLiteral("The token command ended abnormally") + errorTail(u'.'));
            if (exitCode != 0)
                return fail(QStringLiteral("The token command failed (exit code %1)").arg(exitCode) + errorTail(u'.'));
            finish({true, m_output, {}});
        });
        m_process.setStandardInputFile(QProcess::nullDevice());
        m_process.setProgram(m_program);
        m_process.setArguments(words.mid(1));
        m_timer.start(timeoutMs);
        m_process.start(QIODevice::ReadOnly);
    }
    ~CommandRun() override { stop(); }

private:
    // ": " and the end of what the command wrote to standard error, or end alone when it wrote nothing.
    QString errorTail(QChar end) const
    {
        const QString text = QString::fromLocal8Bit(m_error.right(kShownErrorBytes)).trimmed();
        return text.isEmpty() ? QString(end) : QStringLiteral(": ") + text;
    }
    void stop()
    {
        m_timer.stop();
        m_process.disconnect(this);
        if (m_process.state() != QProcess::NotRunning)
            m_process.kill();
    }
    void fail(const QString& error) { finish({false, {}, error}); }
    void finish(const OAuthTransport::CommandResult& result)
    {
        if (!m_done)
            return;
        stop();
        auto done = std::move(m_done);
        m_done = nullptr;
        done(result);
    }

    QProcess m_process;
    QTimer m_timer;
    QString m_program;
    QByteArray m_output;
    QByteArray m_error;
    OAuthTransport::CommandDone m_done;
    qsizetype m_maxOutput;
};

class QtOAuthTransport final : public OAuthTransport {
public:
    std::unique_ptr<PendingOperation> postForm(const QUrl& url, const QByteArray& form, int timeoutMs,
                                               FormDone done) override
    {
        return std::make_unique<FormPost>(url, form, timeoutMs, std::move(done));
    }
    std::unique_ptr<RedirectListener> listenForRedirect(RedirectReceived received, QString* error) override
    {
        auto listener = std::make_unique<LoopbackListener>(std::move(received));
        if (listener->listening())
            return listener;
        if (error)
            *error = QStringLiteral("no port on 127.0.0.1 could be opened for the browser's answer");
        return nullptr;
    }
    std::unique_ptr<PendingOperation> runCommand(const QString& commandLine, int timeoutMs, qsizetype maxOutput,
                                                 CommandDone done) override
    {
        return std::make_unique<CommandRun>(commandLine, timeoutMs, maxOutput, std::move(done));
    }
};

} // namespace

std::optional<QStringList> OAuthTransport::splitCommandLine(const QString& commandLine, QString* error)
{
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine[i];
        if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inWord)
                words.append(std::exchange(word, QString()));
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'\\') {
            if (++i < commandLine.size())
                word += commandLine[i];
        } else if (c == u'\'') {
            const qsizetype end = commandLine.indexOf(u'\'', i + 1);
            if (end < 0) {
                if (error)
                    *error = QStringLiteral("a ' is not closed");
                return std::nullopt;
            }
            word += QStringView(commandLine).sliced(i + 1, end - i - 1);
            i = end;
        } else if (c == u'"') {
            for (++i;; ++i) {
                if (i >= commandLine.size()) {
                    if (error)
                        *error = QStringLiteral("a \" is not closed");
                    return std::nullopt;
                }
                const QChar inner = commandLine[i];
                if (inner == u'"')
                    break;
                if (inner == u'\\' && i + 1 < commandLine.size() && QStringView(u"\"\\$`").contains(commandLine[i + 1]))
                    word += commandLine[++i];
                else
                    word += inner;
            }
        } else {
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

OAuthTransport& OAuthTransport::system()
{
    static QtOAuthTransport transport;
    return transport;
}

} // namespace sondrel::platform
