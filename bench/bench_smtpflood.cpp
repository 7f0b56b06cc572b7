// A hostile SMTP peer on loopback that never ends its reply: endless "220-" lines as fast as the socket takes
// them. For 60 seconds the client tries again and again; each attempt must end with the error, and the
// process's memory must not grow with what the peer sends. Prints figures; never fails on them.
#include "BenchSupport.h"
#include "mail/SmtpSession.h"
#include "platform/QtTcpSocket.h"
#include "platform/SteadyClock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>

using namespace sondrel;

namespace {

// Floods each connection with reply lines until the client closes it.
const char* const kFlood = R"(
import socket, threading
line = b"220-" + b"A" * 72 + b"\r\n"
flood = line * 1000
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(8)
print(server.getsockname()[1], flush=True)
def serve(peer):
    try:
        while True:
            peer.sendall(flood)
    except OSError:
        pass
    peer.close()
while True:
    peer, _ = server.accept()
    threading.Thread(target=serve, args=(peer,), daemon=True).start()
)";

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 60;

    QProcess flood;
    flood.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(kFlood)});
    if (!bench::waitFor([&] { return flood.canReadLine() || flood.state() == QProcess::NotRunning; }, 10000) ||
        !flood.canReadLine()) {
        std::printf("the flooding server did not start\n");
        return 1;
    }
    const QString host = QStringLiteral("127.0.0.1:") + QString::fromLatin1(flood.readLine().trimmed());

    platform::QtTcpSocketFactory sockets;
    platform::SteadyClock clock;
    mail::SmtpFields fields;
    fields.host = host;
    fields.message = {"Watcher", "me@example.org", "Ops", "ops@example.org", "Site", "Body"};
    const qint64 before = bench::statusKb("VmRSS");
    QList<double> ends;
    int errors = 0;
    QElapsedTimer total;
    total.start();
    while (total.elapsed() < seconds * 1000) {
        mail::SmtpSession session(sockets, clock, [&] { return fields; });
        bool over = false;
        QElapsedTimer attempt;
        QObject::connect(&session, &mail::SmtpSession::finished, [&](const mail::SmtpSession::Result& result) {
            over = true;
            ends.append(double(attempt.nsecsElapsed()) / 1e6);
            errors += result.text == QStringLiteral("The server's reply was too long.") ? 1 : 0;
        });
        attempt.start();
        session.start();
        if (!bench::waitFor([&] { return over; }, 70000)) {
            std::printf("an attempt did not end within 70 s\n");
            break;
        }
    }
    const qint64 peak = bench::statusKb("VmHWM");
    std::sort(ends.begin(), ends.end());
    std::printf("%lld attempts in %d s against a flooding peer, %d ended with \"The server's reply was too long.\"\n",
                static_cast<long long>(ends.size()), seconds, errors);
    std::printf("each attempt ended after a median of %.2f ms (worst %.2f ms)\n", ends.value(ends.size() / 2),
                ends.isEmpty() ? 0.0 : ends.last());
    std::printf("resident memory %lld kB before, peak %lld kB: rise %lld kB (goal < 10240 kB)\n",
                static_cast<long long>(before), static_cast<long long>(peak), static_cast<long long>(peak - before));
    flood.kill();
    flood.waitForFinished();
    return 0;
}
