#pragma once

#include "core/MonitorHub.h"
#include "support/Fakes.h"
#include "support/ProgramFolder.h"

#include <QObject>

#include <memory>

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

// A monitor on fakes of every platform interface, the one run of a hub in a fresh program folder of its own.
class MonitorFixture {
protected:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeSystem> m_fakes;
    std::unique_ptr<core::MonitorHub> m_hub;
    core::Monitor* m_monitor = nullptr;
    std::unique_ptr<MonitorRecorder> m_seen;

    // A new folder and new fakes; false when the folder could not be made.
    bool renewFixture()
    {
        m_seen.reset();
        closeMonitor();
        m_dir = newProgramFolder();
        m_fakes = std::make_unique<FakeSystem>();
        return m_dir->isValid();
    }
    core::Monitor& openMonitor()
    {
        m_seen.reset();
        return openMonitor(m_fakes->services());
    }
    core::Monitor& openMonitor(platform::Services services)
    {
        closeMonitor();
        m_hub = std::make_unique<core::MonitorHub>(services, m_dir->path());
        m_monitor = &m_hub->addRun();
        m_seen = std::make_unique<MonitorRecorder>(*m_monitor);
        return *m_monitor;
    }
    // The program ends: the run and its notification services go.
    void closeMonitor()
    {
        m_seen.reset();
        m_monitor = nullptr;
        m_hub.reset();
    }
};

} // namespace sondrel::test
