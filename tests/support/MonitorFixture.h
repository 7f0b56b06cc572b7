#pragma once

#include "core/Monitor.h"
#include "support/Fakes.h"
#include "support/ProgramFolder.h"

#include <QObject>

#include <memory>

namespace sondrel::core {

// The inside of a run, for tests that set up a check in the middle of one.
struct MonitorTestAccess {
    static RunState& state(Monitor& monitor) { return monitor.m_state; }
    static store::LogFiles& logs(Monitor& monitor) { return *monitor.m_logFiles; }
    // Runs one check cycle as check number `number` of a run with the given settings.
    static void cycle(Monitor& monitor, const MonitorSettings& settings, int number, std::function<void()> done);
};

} // namespace sondrel::core

namespace sondrel::test {

// Everything a monitor has told its observers.
struct MonitorRecorder {
    explicit MonitorRecorder(core::Monitor& monitor);

    struct Raised {
        QString text;
        QString title;
        platform::MessageIcon icon;
    };
    QStringList lines;
    QStringList checkNumbers;
    QString siteAddress;
    core::EchoReport echo;
    QList<core::SiteStatus> statuses;
    QString statusText;
    QList<Raised> messages;
    QList<core::RunEnd> ends;
    int starts = 0;

    QStringList messageTexts() const;
};

// A monitor on fakes of every platform interface, in a fresh program folder of its own.
class MonitorFixture {
protected:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeSystem> m_fakes;
    std::unique_ptr<core::Monitor> m_monitor;
    std::unique_ptr<MonitorRecorder> m_seen;

    // A new folder and new fakes; false when the folder could not be made.
    bool renewFixture()
    {
        m_seen.reset();
        m_monitor.reset();
        m_dir = newProgramFolder();
        m_fakes = std::make_unique<FakeSystem>();
        return m_dir->isValid();
    }
    core::Monitor& openMonitor()
    {
        m_seen.reset();
        m_monitor = std::make_unique<core::Monitor>(m_fakes->services(), m_dir->path());
        m_seen = std::make_unique<MonitorRecorder>(*m_monitor);
        return *m_monitor;
    }
};

} // namespace sondrel::test
