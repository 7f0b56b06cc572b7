// Notification e-mail: assembling the text of a run of 32,767 checks, and sending it to a real SMTP server on
// loopback, against swaks sending the same message to the same server: plain, then over STARTTLS with a login
// (AUTH PLAIN) to a server that requires both, each side checking the server's certificate against an authority
// made for the run. Prints figures; never fails on them.
// Needs python3-aiosmtpd, openssl and swaks with its TLS and login modules:
//   apt-get install python3-aiosmtpd openssl swaks libnet-ssleay-perl libauthen-sasl-perl
#include "BenchSupport.h"
#include "core/NotificationQueue.h"
#include "mail/EmailSettings.h"
#include "mail/NotificationMessage.h"
#include "mail/SmtpSession.h"
#include "platform/QtTcpSocket.h"
#include "platform/SystemServices.h"
#include "store/LogFiles.h"
#include "store/LogFormat.h"
// The benchmarks do not link the test support library; this one source is all they need of it.
#include "support/TestCertificates.cpp"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

using namespace sondrel;

namespace {

constexpr int kLines = 32767;
constexpr int kBoundMs = 120000;

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values[values.size() / 2];
}

double msSince(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e6;
}

// Runs the event loop until done() is called or the bound passes; returns false on the bound.
bool runUntil(const std::function<void(std::function<void()>)>& begin)
{
    QEventLoop loop;
    bool finished = false;
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    bound.start(kBoundMs);
    // Connections made by begin outlive this wait; once it is over, their calls do nothing.
    auto waiting = std::make_shared<bool>(true);
    begin([&, waiting] {
        if (!*waiting)
            return;
        finished = true;
        loop.quit();
    });
    if (!finished)
        loop.exec();
    *waiting = false;
    return finished;
}

class SilentMessages final : public platform::MessageBoxes {
public:
    void show(const QString& text, const QString&, platform::MessageIcon) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
};

class AlwaysConnected final : public platform::ConnectionService {
public:
    bool attemptConnect() override { return true; }
    bool hangUp() override { return true; }
};

struct Sink {
    QProcess process;
    quint16 port = 0;
    QString folder;
    int stored = 0;

    // options are the script's own (TLS, login).
    bool start(const QString& spool, const QStringList& options = {})
    {
        folder = spool;
        QDir(spool).mkpath(QStringLiteral("."));
        QString source = qEnvironmentVariable("SONDREL_SOURCE_DIR");
        if (source.isEmpty())
            source = QFileInfo(QStringLiteral(__FILE__)).absoluteDir().absoluteFilePath(QStringLiteral(".."));
        process.start(QStringLiteral("/usr/bin/python3"),
                      QStringList{source + QStringLiteral("/tests/mail/smtp_sink.py"), spool} + options);
        runUntil([&](std::function<void()> done) {
            QObject::connect(&process, &QProcess::readyReadStandardOutput, [this, done] {
                if (process.canReadLine())
                    done();
            });
            QObject::connect(&process, &QProcess::finished, done);
        });
        port = process.canReadLine() ? static_cast<quint16>(process.readLine().trimmed().toUInt()) : 0;
        return port != 0;
    }
    QString nextPath() { return folder + QStringLiteral("/%1.eml").arg(++stored, 4, 10, QLatin1Char('0')); }
    void stop()
    {
        process.closeWriteChannel();
        runUntil([&](std::function<void()> done) { QObject::connect(&process, &QProcess::finished, done); });
    }
};

// The time of each of runs exchanges of one session each, from start to finished.
QList<double> timeSessions(int runs, platform::TcpSocketFactory& sockets, platform::Clock& clock,
                           const mail::SmtpFields& fields)
{
    QList<double> times;
    for (int run = 0; run < runs; ++run) {
        mail::SmtpSession exchange(sockets, clock, [&] { return fields; });
        QElapsedTimer timer;
        timer.start();
        mail::SmtpSession::Result result(mail::SmtpSession::Outcome::SocketError, QStringLiteral("no answer in time"));
        const bool ended = runUntil([&](std::function<void()> done) {
            QObject::connect(&exchange, &mail::SmtpSession::finished, [&, done](const mail::SmtpSession::Result& r) {
                result = r;
                done();
            });
            exchange.start();
        });
        times.append(msSince(timer));
        if (!ended || result.outcome != mail::SmtpSession::Outcome::Sent)
            std::fprintf(stderr, "exchange %d did not end with the message sent: %s\n", run + 1,
                         qPrintable(result.text));
    }
    return times;
}

// The time of each of runs swaks processes sending the message in dataFile to the server on port.
QList<double> timeSwaks(int runs, quint16 port, const mail::SmtpMessage& message, const QString& dataFile,
                        const QStringList& options = {})
{
    QList<double> times;
    for (int run = 0; run < runs; ++run) {
        QProcess process;
        QElapsedTimer timer;
        timer.start();
        runUntil([&](std::function<void()> done) {
            QObject::connect(&process, &QProcess::finished, done);
            QObject::connect(&process, &QProcess::errorOccurred, done);
            process.start(QStringLiteral("swaks"),
                          QStringList{QStringLiteral("--server"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                                      QString::number(port), QStringLiteral("--helo"), QStringLiteral("me"),
                                      QStringLiteral("--from"), message.senderAddress, QStringLiteral("--to"),
                                      message.recipientAddress, QStringLiteral("--data"), QLatin1Char('@') + dataFile,
                                      QStringLiteral("--silent"), QStringLiteral("3")} +
                              options);
        });
        times.append(msSince(timer));
        if (process.exitCode() != 0)
            std::fprintf(stderr, "swaks run %d ended with code %d: %s\n", run + 1, process.exitCode(),
                         process.readAllStandardError().constData());
    }
    return times;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("data"));
    QDir(dir.path()).mkpath(QStringLiteral("logs"));
    QDir(dir.path()).mkpath(QStringLiteral("spool"));

    QStringList lines;
    {
        QFile log(dir.path() + QStringLiteral("/logs/tmp.log"));
        log.open(QIODevice::WriteOnly);
        for (int i = 1; i <= kLines; ++i) {
            lines.append(QStringLiteral("%1 05/03/2024 07:%2:%3 Trip Time=%4 ms Average=%5  WSOK")
                             .arg(i, 6, 10, QLatin1Char('0'))
                             .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(i % 60, 2, 10, QLatin1Char('0'))
                             .arg(10 + i % 90)
                             .arg(40));
            log.write(store::encodeLogRecord(lines.last()));
        }
    }
    const QString stored = QStringLiteral("The monitored site changed its status.");

    // Assembly: the text alone, and with the run's records read back from logs/tmp.log.
    QList<double> assemble, readAndAssemble;
    QString text;
    for (int run = 0; run < 15; ++run) {
        QElapsedTimer timer;
        timer.start();
        text = mail::notificationText(stored, lines);
        assemble.append(msSince(timer));
        timer.restart();
        const QString fromFile =
            mail::notificationText(stored, store::readRecordLines(dir.path(), mail::attachedRecordCount(u"032767")));
        readAndAssemble.append(msSince(timer));
        if (fromFile != text)
            std::fprintf(stderr, "read-back text differs from the assembled one\n");
    }
    std::printf("assembly of %d lines (%lld characters): median %.2f ms (goal < 50 ms)\n", kLines,
                static_cast<long long>(text.size()), median(assemble));
    std::printf("reading %d records + assembly:           median %.2f ms (goal < 50 ms)\n", kLines,
                median(readAndAssemble));

    Sink sink;
    if (!sink.start(dir.path() + QStringLiteral("/spool"))) {
        std::printf("sending: skipped, the loopback SMTP server (/usr/bin/python3 with aiosmtpd) did not start\n");
        return 0;
    }
    const QString host = QStringLiteral("127.0.0.1:%1").arg(sink.port);
    mail::SmtpFields fields;
    fields.host = host;
    fields.message = {QStringLiteral("Watcher"),         QStringLiteral("me@example.org"), QStringLiteral("Ops"),
                      QStringLiteral("ops@example.org"), QStringLiteral("Site status"),    text};

    platform::QtTcpSocketFactory sockets;
    platform::SteadyClock clock;
    constexpr int kRuns = 5;

    const QList<double> session = timeSessions(kRuns, sockets, clock, fields);
    for (int run = 0; run < kRuns; ++run)
        sink.nextPath();

    // The same message through the hidden notification window, disconnect delay 0, until the server has it.
    {
        mail::EmailSettings settings;
        settings.SmtpHost = host;
        settings.SenderName = fields.message.senderName;
        settings.SenderAddress = fields.message.senderAddress;
        settings.RecipientName = fields.message.recipientName;
        settings.RecipientAddress = fields.message.recipientAddress;
        settings.Subject = fields.message.subject;
        settings.MessageBody = stored;
        settings.AttachLog = -1;
        QByteArray record(mail::kEmailRecordLength, '\0');
        mail::encodeEmailSettings(record, settings);
        QFile file(mail::emailSettingsPath(dir.path()));
        file.open(QIODevice::WriteOnly);
        file.write(record);
    }
    platform::SystemServices system;
    SilentMessages messages;
    bench::NoShell shell;
    const platform::Services real = system.services(messages, shell);
    AlwaysConnected connection;
    const platform::Services services{messages,  real.clock, connection, real.echo,   real.resolver,
                                      real.http, sockets,    real.shell, real.secrets};
    QList<double> window;
    for (int run = 0; run < 3; ++run) {
        const QString expected = sink.nextPath();
        QElapsedTimer timer;
        timer.start();
        core::NotificationQueue notifications(services, dir.path());
        QTimer poll;
        runUntil([&](std::function<void()> done) {
            QObject::connect(&poll, &QTimer::timeout, [&, done] {
                if (QFile::exists(expected))
                    done();
            });
            poll.start(1);
            notifications.notify(QStringLiteral("032767"), [] {});
        });
        window.append(msSince(timer));
    }

    QFile data(dir.path() + QStringLiteral("/message.eml"));
    data.open(QIODevice::WriteOnly);
    QByteArray wire = mail::messageData(fields.message, mail::dateHeaderValue(clock.now()),
                                        mail::messageIdValue(fields.message.senderAddress, clock.now(), 1));
    wire.chop(3); // swaks sends the final "." line itself
    data.write(wire);
    data.close();
    const QList<double> swaks = timeSwaks(kRuns, sink.port, fields.message, data.fileName());

    const double ours = median(session);
    const double theirs = median(swaks);
    std::printf("sending %.1f MB, median of %d: session %.1f ms, swaks %.1f ms, ratio %.2f (goal <= 1.5)\n",
                wire.size() / 1e6, kRuns, ours, theirs, theirs > 0 ? ours / theirs : 0.0);
    std::printf("notification, decided to message stored: median %.1f ms, ratio to swaks %.2f\n", median(window),
                theirs > 0 ? median(window) / theirs : 0.0);
    sink.stop();

    // The same message over STARTTLS with a login, to a server that requires both.
    test::TestCertificates certificates;
    const QString noCertificates = certificates.make();
    Sink secureSink;
    if (!noCertificates.isEmpty() ||
        !secureSink.start(dir.path() + QStringLiteral("/spool-tls"),
                          {QStringLiteral("--starttls"), certificates.file(QStringLiteral("server.pem")),
                           certificates.file(QStringLiteral("server.key")), QStringLiteral("--login"),
                           QStringLiteral("me:secret")})) {
        std::printf("sending over STARTTLS with login: skipped, %s\n",
                    noCertificates.isEmpty() ? "the loopback SMTP server did not start" : qPrintable(noCertificates));
        return 0;
    }
    mail::SmtpFields secure = fields;
    secure.host = QStringLiteral("127.0.0.1:%1").arg(secureSink.port);
    secure.security = mail::SmtpSecurity::StartTls;
    secure.user = QStringLiteral("me");
    secure.password = QStringLiteral("secret");
    platform::QtTcpSocketFactory trustingSockets(certificates.authority());
    const QList<double> secureSession = timeSessions(kRuns, trustingSockets, clock, secure);
    const QList<double> secureSwaks =
        timeSwaks(kRuns, secureSink.port, fields.message, data.fileName(),
                  {QStringLiteral("--tls"), QStringLiteral("--tls-verify"), QStringLiteral("--tls-ca-path"),
                   certificates.file(QStringLiteral("ca.pem")), QStringLiteral("--auth"), QStringLiteral("PLAIN"),
                   QStringLiteral("--auth-user"), QStringLiteral("me"), QStringLiteral("--auth-password"),
                   QStringLiteral("secret")});
    const int received = int(QDir(secureSink.folder).entryList({QStringLiteral("*.eml")}, QDir::Files).size());
    if (received != 2 * kRuns)
        std::fprintf(stderr, "the STARTTLS server stored %d messages of %d\n", received, 2 * kRuns);
    const double oursSecure = median(secureSession);
    const double theirsSecure = median(secureSwaks);
    std::printf("sending %.1f MB over STARTTLS with login, median of %d: session %.1f ms, swaks %.1f ms, ratio %.2f "
                "(goal <= 1.5)\n",
                wire.size() / 1e6, kRuns, oursSecure, theirsSecure, theirsSecure > 0 ? oursSecure / theirsSecure : 0.0);
    secureSink.stop();
    return 0;
}
