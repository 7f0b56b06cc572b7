#include "app/CheckCycle.h"

#include "app/MainWindow.h"
#include "platform/CodePage.h"
#include "probe/EchoProbe.h"
#include "probe/ResultLine.h"
#include "store/LogFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLineEdit>

namespace sondrel::app {

CheckCycle::CheckCycle(MainWindow& window)
    : m_window(window)
{
}

QString CheckCycle::socketHelpLine()
{
    return QStringLiteral("ICMP sockets are not allowed for this user: allow ping sockets with "
                          "\"sysctl -w net.ipv4.ping_group_range='0 2147483647'\" or give the program the "
                          "capability with \"setcap cap_net_raw+ep %1\".")
        .arg(QCoreApplication::applicationFilePath());
}

void CheckCycle::process(std::function<void()> done)
{
    m_done = std::move(done);
    RunState& state = m_window.state();
    state.RecordNumber.clear();

    if (!probe::startsockets(m_window.services().echo)) {
        m_window.addResultLine(QStringLiteral("Windows Sockets for 32 bit Windows is not successfully responding."));
        m_window.addResultLine(socketHelpLine());
        m_window.showImage(m_window.Image2);
        m_window.setStatusTooltip(socketHelpLine());
        finish();
        return;
    }
    m_pending = probe::gethostip(m_window.services().resolver, m_window.Text1->text(),
                                 [this](const QString& address) { resolved(address); });
}

namespace {

// An operation whose callback is running must outlive the callback: destroy it from the event loop.
void retire(std::unique_ptr<platform::PendingOperation>& pending)
{
    if (!pending)
        return;
    std::shared_ptr<platform::PendingOperation> finished(std::move(pending));
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [finished] {}, Qt::QueuedConnection);
}

} // namespace

void CheckCycle::resolved(const QString& address)
{
    retire(m_pending);
    m_window.Text2->setText(address);
    m_pending = probe::pingaddress(m_window.services().echo, address, m_window.Text3->text(),
                                   [this](qint32 status, const platform::EchoReply& reply) { echoed(status, reply); });
}

void CheckCycle::echoed(qint32 status, const platform::EchoReply& reply)
{
    retire(m_pending);
    MainWindow& w = m_window;
    RunState& state = w.state();

    const QString statusText = probe::pingstatustext(status);
    w.Text4[0]->setText(statusText);
    w.Text4[2]->setText(QString::number(reply.tripTime) + QStringLiteral(" ms"));
    w.Text4[3]->setText(QString::number(reply.dataSize));
    w.setStatusTooltip(statusText);

    // Every outcome but a reply is a failure: an unresolved name, no answer, an ICMP error, a refused send.
    const bool failed = status != platform::IpStatus::Success;
    if (!failed)
        state.TripTimeTotal += reply.tripTime;

    // "Packet Returned" keeps its earlier text when nothing came back or the data area has no end.
    if (reply.data[0] != '\0') {
        const auto end = std::find(reply.data.begin(), reply.data.end(), '\0');
        if (end != reply.data.end())
            w.Text4[4]->setText(platform::fromCodePage(QByteArrayView(reply.data.data(), end - reply.data.begin())));
    }

    state.RecordNumber = probe::recordNumberFor(w.Text6->text());
    const QDateTime now = w.services().clock.now();
    const QString date = probe::lineDate(now);
    const QString time = probe::lineTime(now);

    QString line;
    if (failed) {
        state.PingOk = false;
        line = probe::failureLine(state.RecordNumber, date, time, state.PageToken);
        w.addResultLine(line);
        w.logFiles().addtologfile(line, state.RecordNumber);
        w.showImage(w.Image3);
    } else {
        state.ReplyCount = probe::countReply(state.ReplyCount);
        const qint64 average = probe::averageTripTime(state.TripTimeTotal, state.ReplyCount);
        line = probe::replyLine(state.RecordNumber, date, time, w.Text4[2]->text(), average, state.PageToken);
        w.addResultLine(line);
        w.logFiles().addtologfile(line, state.RecordNumber);
    }

    w.checkstatuschangeandsendemailifrequired([this] {
        probe::cleanupsockets();
        finish();
    });
}

void CheckCycle::finish()
{
    m_pending.reset();
    if (auto done = std::exchange(m_done, nullptr))
        done();
}

void CheckCycle::cancel()
{
    m_pending.reset();
    m_done = nullptr;
}

} // namespace sondrel::app
