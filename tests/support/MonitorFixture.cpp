#include "support/MonitorFixture.h"

namespace sondrel::test {

MonitorRecorder::MonitorRecorder(core::Monitor& monitor)
{
    using core::Monitor;
    QObject::connect(&monitor, &Monitor::resultLineAdded, [this](const QString& line) { lines.append(line); });
    QObject::connect(&monitor, &Monitor::checkStarted, [this](const QString& n) { checkNumbers.append(n); });
    QObject::connect(&monitor, &Monitor::siteAddressResolved, [this](const QString& a) { siteAddress = a; });
    QObject::connect(&monitor, &Monitor::echoReported, [this](const core::EchoReport& report) {
        const std::optional<QString> kept = echo.packetReturned;
        echo = report;
        if (!echo.packetReturned)
            echo.packetReturned = kept;
    });
    QObject::connect(&monitor, &Monitor::statusChanged, [this](core::SiteStatus s) { statuses.append(s); });
    QObject::connect(&monitor, &Monitor::statusTextChanged, [this](const QString& t) { statusText = t; });
    QObject::connect(&monitor, &Monitor::messageRaised,
                     [this, &monitor](const QString& text, const QString& title, platform::MessageIcon icon) {
                         messages.append({text, title, icon});
                         monitor.answerMessage(); // the user closes each box at once
                     });
    QObject::connect(&monitor, &Monitor::runStarted, [this] { ++starts; });
    QObject::connect(&monitor, &Monitor::runFinished, [this](core::RunEnd end) { ends.append(end); });
}

QStringList MonitorRecorder::messageTexts() const
{
    QStringList texts;
    for (const Raised& each : messages)
        texts.append(each.text);
    return texts;
}

} // namespace sondrel::test
