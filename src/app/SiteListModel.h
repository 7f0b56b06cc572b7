#pragma once

#include "core/RunEvents.h"
#include "store/SiteSettings.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QTimer>

#include <array>
#include <optional>
#include <unordered_set>
#include <vector>

namespace sondrel::core {
class Monitor;
class MonitorHub;
} // namespace sondrel::core
namespace sondrel::platform {
class Clock;
}

namespace sondrel::app {

// What the Sites window tells of a site: the face of its run, or that no run watches it.
enum class SiteState { NotWatched, Working, NotAnswering, NoConnection };

// A site's state after its run reported a status. A run tells "working" as each check finds the connection, before
// the echo: a site that did not answer stays so until an echo is answered (answered()), so that a site down for
// hours is not told up for the length of each echo.
SiteState afterStatus(SiteState state, core::SiteStatus status);
SiteState answered(SiteState state);

// One row per saved site (a stored record with a web address), with what its run has told: whether it is watched,
// its state, its last result, the run's average trip time and share of answered checks, and when its state last
// changed. It learns from the signals of the hub's background runs and of the window's own run while that is on a
// saved site. A run may report many times a second and thousands may run: each report only updates its row's
// values, and the texts of the rows that changed are made and told to the views together, a few times a second.
class SiteListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Watch, Site, Address, State, LastResult, Average, Success, Changed, ColumnCount };
    // How often at most the rows that changed are told to the views.
    static constexpr int kRefreshMs = 250;

    // windowRun is the main window's own run, shown in the row of the site setWindowRunSite() names.
    SiteListModel(core::MonitorHub& hub, core::Monitor& windowRun, const platform::Clock& clock,
                  QObject* parent = nullptr);
    ~SiteListModel() override;

    // The stored records, element i being site i + 1: one row for each that is not unused. Rows of sites listed
    // before keep what their runs told.
    void setSites(const std::vector<store::SiteSettings>& all);
    // Site `site` was stored as `settings`: its row follows, appears or goes.
    void updateSite(int site, const store::SiteSettings& settings);
    // The saved site the window's own run is on now, 0 when it runs on none.
    void setWindowRunSite(int site);

    int siteAt(int row) const { return m_rows[std::size_t(row)].site; }
    // The row of the site, -1 when it is not listed.
    int rowOf(int site) const;
    const QString& addressAt(int row) const { return m_rows[std::size_t(row)].address; }
    bool isWatchedAt(int row) const { return m_rows[std::size_t(row)].watched; }

    struct Counts {
        int sites = 0;
        int watched = 0;
        int watchedInBackground = 0;             // by background runs, not the window's own run
        int up = 0;                              // watched and working
        int down = 0;                            // watched and not answering or without a connection
        SiteState worst = SiteState::NotWatched; // of the watched sites: not answering, no connection, working
        QStringList firstDown;                   // the addresses of the first few sites down, by number
    };
    // How many addresses firstDown holds at most.
    static constexpr int kFirstDown = 3;
    Counts counts() const { return m_counts; }
    // The latest message of a background run, with the address of its site.
    const QString& latestMessage() const { return m_latestMessage; }

    // For the filter and sort proxy, without going through QVariant: the row shows text in its number, address or
    // last result (ignoring case) and, when given, has the state.
    bool matches(int row, const QString& text, std::optional<SiteState> state) const;
    bool lessThan(int leftRow, int rightRow, int column) const;

    static const QString& stateText(SiteState state);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Ticking or clearing a Watch box asks for the site to be watched or not, through watchToggled; the box follows
    // the run.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

signals:
    void watchToggled(int site, bool watch);
    // The counts or the latest message have changed; told at most once per refresh.
    void summaryChanged();

private:
    struct Row {
        int site = 0;
        QString address;
        bool backgroundRunning = false;
        bool watched = false;
        SiteState state = SiteState::NotWatched;
        QString lastResult;
        qint64 averageMs = -1; // none before the run's first answer
        qint64 checks = 0;     // checks of the run that sent an echo
        qint64 answered = 0;
        qint64 changedMs = 0; // when the state last changed (ms since the epoch), 0 never
        bool dirty = false;
        // What the row shows, made when it changes.
        QString siteText, averageText, successText, changedText;
    };

    Row* rowForSite(int site);
    Row makeRow(int site, const QString& address) const;
    void observe(int site, core::Monitor& run);
    // What a run told, for the row of its site.
    void runStarted(int site);
    void runFinished(int site);
    void statusChanged(int site, core::SiteStatus status);
    void echoMeasured(int site, const core::EchoSample& sample);
    void setWatched(Row& row, bool watched, SiteState state);
    void setState(Row& row, SiteState state);
    void touch(Row& row);
    void refresh();
    void compose(Row& row) const;
    void rebuildIndex();
    void countRows();

    core::MonitorHub& m_hub;
    core::Monitor& m_windowRun;
    const platform::Clock& m_clock;
    std::vector<Row> m_rows;      // in the order of the site numbers
    std::vector<int> m_rowOfSite; // index by site number, -1 when not listed
    std::unordered_set<const core::Monitor*> m_observed;
    int m_windowRunSite = 0;
    std::vector<int> m_dirty; // rows whose texts are to be made again
    bool m_summaryDirty = false;
    Counts m_counts;
    QString m_latestMessage;
    // The latest echo's status text and result line, of the run named: a run tells them just before the
    // measurement or the status they explain, in the same call.
    int m_lastReportSite = 0;
    QString m_lastEchoStatus;
    QString m_lastLine;
    std::array<QIcon, 3> m_faces; // working, not answering, no connection
    QTimer m_refresh;
};

} // namespace sondrel::app
