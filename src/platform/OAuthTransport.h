#pragma once

#include "platform/PendingOperation.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <functional>
#include <memory>
#include <optional>

namespace sondrel::platform {

// What an OAuth2 login needs from the system: a form posted to a token endpoint, a listener on loopback for the
// browser's redirect, and a helper command that prints an access token. Every wait is bounded and every call
// ends with exactly one callback, from the event loop, unless the returned object is destroyed first.
class OAuthTransport {
public:
    virtual ~OAuthTransport() = default;

    // The largest token endpoint reply and command output that is read; more ends the call as failed.
    static constexpr qsizetype kMaxReplyBytes = 64 * 1024;
    static constexpr int kDefaultTimeoutMs = 30000;

    struct FormReply {
        int httpStatus = 0;   // 0 when no HTTP answer came
        QByteArray body;      // at most kMaxReplyBytes
        QString networkError; // why no answer came (refused, timed out, TLS failed, reply too long); else empty
    };
    using FormDone = std::function<void(const FormReply& reply)>;
    // POSTs form as application/x-www-form-urlencoded to url, over https or to a loopback address, following no
    // redirects. An HTTP error status is an answer, with its body.
    virtual std::unique_ptr<PendingOperation> postForm(const QUrl& url, const QByteArray& form, int timeoutMs,
                                                       FormDone done) = 0;

    // Waits on 127.0.0.1, on a port the system chooses, for the browser to come back from the authorization page.
    class RedirectListener {
    public:
        virtual ~RedirectListener() = default;
        // "http://127.0.0.1:PORT/", the redirect_uri of the authorization request.
        virtual QUrl redirectUri() const = 0;
    };
    // received is called with the query of each request the browser makes to the redirect URI (code and state,
    // or error and error_description); the browser is shown a page that says it may be closed. Nothing, with
    // error set, when no port could be had.
    using RedirectReceived = std::function<void(const QUrlQuery& query)>;
    virtual std::unique_ptr<RedirectListener> listenForRedirect(RedirectReceived received, QString* error) = 0;

    struct CommandResult {
        bool succeeded = false; // the command ran, exited with 0 and printed no more than the limit
        QByteArray output;      // standard output (up to maxOutput bytes)
        QString error;          // why it failed, in words, with the end of its standard error when it wrote any
    };
    using CommandDone = std::function<void(const CommandResult& result)>;
    // Runs commandLine without a shell: split into program and arguments as a shell would split words ("..." and
    // '...' quoting, backslash escapes), nothing expanded. A command that runs past timeoutMs or prints more than
    // maxOutput bytes is killed and fails.
    virtual std::unique_ptr<PendingOperation> runCommand(const QString& commandLine, int timeoutMs, qsizetype maxOutput,
                                                         CommandDone done) = 0;

    // The words of a command line as a POSIX shell splits them, with nothing expanded: blanks separate words,
    // '...' keeps everything literally, "..." keeps everything but a backslash before " \ $ or `, and a backslash
    // elsewhere keeps the next character. Nothing, with error set, for a quote left open.
    static std::optional<QStringList> splitCommandLine(const QString& commandLine, QString* error);

    // The real transport; it holds no state of its own, so every caller may share it.
    static OAuthTransport& system();
};

} // namespace sondrel::platform
