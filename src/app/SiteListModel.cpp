#include "app/SiteListModel.h"

#include "app/StatusFaces.h"
#include "core/Monitor.h"
#include "core/MonitorHub.h"
#include "core/RunState.h"
#include "platform/Clock.h"
#include "probe/ResultLine.h"

#include <algorithm>

namespace sondrel::app {

namespace {

// How bad a state is for the tray's face: a site not answering is worse than a missing connection.
int severity(SiteState state)
{
    switch (state) {
    case SiteState::NotWatched:
        break;
    case SiteState::Working:
        return 1;
    case SiteState::NoConnection:
        return 2;
    case SiteState::NotAnswering:
        return 3;
    }
    return 0;
}

// Rows that changed within this many rows of each other are told as one range: fewer, larger notifications cost
// the views less than many small ones.
constexpr int kRangeGap = 64;

} // namespace

SiteState afterStatus(SiteState state, core::SiteStatus status)
{
    switch (status) {
    case core::SiteStatus::Working:
        return state == SiteState::NotAnswering ? state : SiteState::Working;
    case core::SiteStatus::NoConnection:
        return SiteState::NoConnection;
    case core::SiteStatus::NotAnswering:
        return SiteState::NotAnswering;
    }
    return state;
}

SiteState answered(SiteState)
{
    return SiteState::Working;
}

const QString& SiteListModel::stateText(SiteState state)
{
    static const std::array<QString, 4> texts = {QStringLiteral("not watched"), QStringLiteral("working"),
                                                 QStringLiteral("not answering"), QStringLiteral("no connection")};
    return texts[std::size_t(state)];
}

SiteListModel::SiteListModel(core::MonitorHub& hub, core::Monitor& windowRun, const platform::Clock& clock,
                             QObject* parent)
    : QAbstractTableModel(parent)
    , m_hub(hub)
    , m_windowRun(windowRun)
    , m_clock(clock)
    , m_faces{QIcon(drawFace(Face::Smiling)), QIcon(drawFace(Face::Sad)), QIcon(drawFace(Face::Straight))}
{
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &SiteListModel::refresh);
    connect(&hub, &core::MonitorHub::siteRunCreated, this,
            [this](int site, core::Monitor* run) { observe(site, *run); });

    // The window's own run reports for the row of the site it is on, if any.
    core::Monitor* own = &windowRun;
    connect(own, &core::Monitor::statusChanged, this,
            [this](core::SiteStatus status) { statusChanged(m_windowRunSite, status); });
    connect(own, &core::Monitor::echoReported, this, [this](const core::EchoReport& report) {
        m_lastReportSite = m_windowRunSite;
        m_lastEchoStatus = report.statusText;
    });
    connect(own, &core::Monitor::resultLineAdded, this, [this](const QString& line) {
        m_lastReportSite = m_windowRunSite;
        m_lastLine = line;
    });
    connect(own, &core::Monitor::echoMeasured, this,
            [this](const core::EchoSample& sample) { echoMeasured(m_windowRunSite, sample); });
}

SiteListModel::~SiteListModel() = default;

void SiteListModel::observe(int site, core::Monitor& run)
{
    if (!m_observed.insert(&run).second)
        return;
    connect(&run, &core::Monitor::runStarted, this, [this, site] { runStarted(site); });
    connect(&run, &core::Monitor::runFinished, this, [this, site] { runFinished(site); });
    connect(&run, &core::Monitor::statusChanged, this,
            [this, site](core::SiteStatus status) { statusChanged(site, status); });
    connect(&run, &core::Monitor::echoReported, this, [this, site](const core::EchoReport& report) {
        m_lastReportSite = site;
        m_lastEchoStatus = report.statusText;
    });
    connect(&run, &core::Monitor::resultLineAdded, this, [this, site](const QString& line) {
        m_lastReportSite = site;
        m_lastLine = line;
    });
    connect(&run, &core::Monitor::echoMeasured, this,
            [this, site](const core::EchoSample& sample) { echoMeasured(site, sample); });
    connect(&run, &core::Monitor::messageRaised, this, [this, site, &run](const QString& text) {
        const Row* row = rowForSite(site);
        m_latestMessage = (row ? row->address : run.settings().webAddress.trimmed()) + QStringLiteral(": ") + text;
        m_summaryDirty = true;
        if (!m_refresh.isActive())
            m_refresh.start();
    });
}

SiteListModel::Row SiteListModel::makeRow(int site, const QString& address) const
{
    Row row;
    row.site = site;
    row.address = address;
    row.siteText = QString::number(site);
    return row;
}

void SiteListModel::setSites(const std::vector<store::SiteSettings>& all)
{
    beginResetModel();
    std::vector<Row> rows;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const int site = int(i) + 1;
        if (store::isUnusedSite(all[i]))
            continue;
        const QString address = all[i].webAddress.trimmed();
        if (Row* kept = rowForSite(site)) {
            rows.push_back(std::move(*kept));
            rows.back().address = address;
        } else {
            rows.push_back(makeRow(site, address));
        }
        Row& row = rows.back();
        row.dirty = false;
        // A run made before the site was listed, such as one of a site that was removed and saved again.
        if (core::Monitor* run = m_hub.existingSiteRun(site)) {
            observe(site, *run);
            row.backgroundRunning = run->isRunning();
        }
        const bool watched = row.backgroundRunning || site == m_windowRunSite;
        if (watched != row.watched) {
            const core::Monitor& run = row.backgroundRunning ? *m_hub.existingSiteRun(site) : m_windowRun;
            row.watched = watched;
            row.state = watched ? afterStatus(SiteState::Working, run.status()) : SiteState::NotWatched;
        }
        compose(row);
    }
    m_rows = std::move(rows);
    m_dirty.clear();
    rebuildIndex();
    endResetModel();
    countRows();
    emit summaryChanged();
}

void SiteListModel::updateSite(int site, const store::SiteSettings& settings)
{
    Row* row = rowForSite(site);
    if (row && !store::isUnusedSite(settings)) {
        row->address = settings.webAddress.trimmed();
        touch(*row);
        return;
    }
    if (!row && store::isUnusedSite(settings))
        return;
    // A row comes or goes: the others keep their places in site order.
    std::vector<store::SiteSettings> all(std::size_t(std::max<int>(site, m_rows.empty() ? 0 : m_rows.back().site)));
    for (const Row& each : m_rows)
        all[std::size_t(each.site - 1)].webAddress = each.address;
    all[std::size_t(site - 1)] = settings;
    setSites(all);
}

void SiteListModel::setWindowRunSite(int site)
{
    if (site == m_windowRunSite)
        return;
    const int before = std::exchange(m_windowRunSite, site);
    if (Row* row = rowForSite(before); row && !row->backgroundRunning)
        setWatched(*row, false, SiteState::NotWatched);
    if (Row* row = rowForSite(site)) {
        row->averageMs = -1;
        row->checks = 0;
        row->answered = 0;
        row->lastResult.clear();
        setWatched(*row, true, SiteState::Working);
    }
}

int SiteListModel::rowOf(int site) const
{
    return site > 0 && site < int(m_rowOfSite.size()) ? m_rowOfSite[std::size_t(site)] : -1;
}

SiteListModel::Row* SiteListModel::rowForSite(int site)
{
    const int row = rowOf(site);
    return row < 0 ? nullptr : &m_rows[std::size_t(row)];
}

void SiteListModel::rebuildIndex()
{
    m_rowOfSite.assign(m_rows.empty() ? 0 : std::size_t(m_rows.back().site) + 1, -1);
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        m_rowOfSite[std::size_t(m_rows[i].site)] = int(i);
}

void SiteListModel::runStarted(int site)
{
    Row* row = rowForSite(site);
    if (!row)
        return;
    row->backgroundRunning = true;
    row->averageMs = -1;
    row->checks = 0;
    row->answered = 0;
    row->lastResult.clear();
    setWatched(*row, true, SiteState::Working);
}

void SiteListModel::runFinished(int site)
{
    if (Row* row = rowForSite(site)) {
        row->backgroundRunning = false;
        setWatched(*row, site == m_windowRunSite, SiteState::Working);
    }
}

void SiteListModel::statusChanged(int site, core::SiteStatus status)
{
    Row* row = rowForSite(site);
    if (!row || !row->watched)
        return;
    // A failed connection check, or no ICMP socket: the last line the run gave says which.
    if (status == core::SiteStatus::NoConnection && m_lastReportSite == site && !m_lastLine.isEmpty()) {
        row->lastResult = m_lastLine;
        touch(*row);
    }
    setState(*row, afterStatus(row->state, status));
}

void SiteListModel::echoMeasured(int site, const core::EchoSample& sample)
{
    Row* row = rowForSite(site);
    if (!row || !row->watched)
        return;
    ++row->checks;
    if (sample.tripMs)
        ++row->answered;
    row->averageMs = row->answered > 0 ? sample.averageMs : -1;
    QString result = sample.tripMs              ? QString::number(*sample.tripMs) + QStringLiteral(" ms")
                     : m_lastReportSite == site ? m_lastEchoStatus
                                                : QStringLiteral("Failed to ping!");
    if (sample.pageToken != core::kBlankToken)
        result += u' ' + sample.pageToken.trimmed();
    row->lastResult = std::move(result);
    if (sample.tripMs)
        setState(*row, answered(row->state));
    touch(*row);
}

void SiteListModel::setWatched(Row& row, bool watched, SiteState state)
{
    row.watched = watched;
    setState(row, watched ? state : SiteState::NotWatched);
    m_summaryDirty = true;
    touch(row);
}

void SiteListModel::setState(Row& row, SiteState state)
{
    if (row.state == state)
        return;
    row.state = state;
    row.changedMs = m_clock.now().toMSecsSinceEpoch();
    m_summaryDirty = true;
    touch(row);
}

void SiteListModel::touch(Row& row)
{
    if (!row.dirty) {
        row.dirty = true;
        m_dirty.push_back(int(&row - m_rows.data()));
    }
    if (!m_refresh.isActive())
        m_refresh.start();
}

void SiteListModel::compose(Row& row) const
{
    row.averageText = row.averageMs >= 0 ? QString::number(row.averageMs) + QStringLiteral(" ms") : QString();
    // Whole percent, rounded down: 100 % only when every check was answered.
    row.successText =
        row.checks > 0 ? QString::number(row.answered * 100 / row.checks) + QStringLiteral(" %") : QString();
    if (row.changedMs > 0) {
        const QDateTime changed = QDateTime::fromMSecsSinceEpoch(row.changedMs);
        row.changedText = probe::lineDate(changed) + u' ' + probe::lineTime(changed);
    } else {
        row.changedText.clear();
    }
}

// The rows that changed since the last refresh get their texts and are told to the views, in few ranges.
void SiteListModel::refresh()
{
    std::vector<int> dirty = std::exchange(m_dirty, {});
    std::sort(dirty.begin(), dirty.end());
    for (int row : dirty) {
        m_rows[std::size_t(row)].dirty = false;
        compose(m_rows[std::size_t(row)]);
    }
    for (std::size_t i = 0; i < dirty.size();) {
        std::size_t last = i;
        while (last + 1 < dirty.size() && dirty[last + 1] - dirty[last] <= kRangeGap)
            ++last;
        emit dataChanged(index(dirty[i], 0), index(dirty[last], ColumnCount - 1));
        i = last + 1;
    }
    if (std::exchange(m_summaryDirty, false)) {
        countRows();
        emit summaryChanged();
    }
}

void SiteListModel::countRows()
{
    Counts counts;
    counts.sites = int(m_rows.size());
    for (const Row& row : m_rows) {
        if (!row.watched)
            continue;
        ++counts.watched;
        if (row.backgroundRunning)
            ++counts.watchedInBackground;
        if (row.state == SiteState::Working) {
            ++counts.up;
        } else {
            ++counts.down;
            if (counts.firstDown.size() < kFirstDown)
                counts.firstDown.append(row.address);
        }
        if (severity(row.state) > severity(counts.worst))
            counts.worst = row.state;
    }
    m_counts = std::move(counts);
}

bool SiteListModel::matches(int rowIndex, const QString& text, std::optional<SiteState> state) const
{
    const Row& row = m_rows[std::size_t(rowIndex)];
    if (state && row.state != *state)
        return false;
    return text.isEmpty() || row.address.contains(text, Qt::CaseInsensitive) || row.siteText.contains(text) ||
           row.lastResult.contains(text, Qt::CaseInsensitive);
}

bool SiteListModel::lessThan(int leftRow, int rightRow, int column) const
{
    const Row& left = m_rows[std::size_t(leftRow)];
    const Row& right = m_rows[std::size_t(rightRow)];
    // Equal values keep the order of the site numbers.
    auto byKey = [&](auto a, auto b) { return a != b ? a < b : left.site < right.site; };
    auto byText = [&](const QString& a, const QString& b) {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : left.site < right.site;
    };
    switch (column) {
    case Watch:
        return byKey(left.watched, right.watched);
    case Address:
        return byText(left.address, right.address);
    case State:
        return byKey(int(left.state), int(right.state));
    case LastResult:
        return byText(left.lastResult, right.lastResult);
    case Average:
        return byKey(left.averageMs, right.averageMs);
    case Success:
        // answered / checks compared without division; no checks sorts first.
        if (left.checks == 0 || right.checks == 0)
            return byKey(left.checks != 0, right.checks != 0);
        return byKey(left.answered * right.checks, right.answered * left.checks);
    case Changed:
        return byKey(left.changedMs, right.changedMs);
    default:
        break;
    }
    return left.site < right.site;
}

int SiteListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int SiteListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SiteListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return {};
    const Row& row = m_rows[std::size_t(index.row())];
    if (role == Qt::CheckStateRole && index.column() == Watch)
        return row.watched ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::DecorationRole && index.column() == State && row.state != SiteState::NotWatched)
        return m_faces[std::size_t(row.state) - 1];
    if (role == Qt::TextAlignmentRole &&
        (index.column() == Site || index.column() == Average || index.column() == Success))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Site:
        return row.siteText;
    case Address:
        return row.address;
    case State:
        return stateText(row.state);
    case LastResult:
        return row.lastResult;
    case Average:
        return row.averageText;
    case Success:
        return row.successText;
    case Changed:
        return row.changedText;
    default:
        break;
    }
    return {};
}

QVariant SiteListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const std::array<QString, ColumnCount> captions = {QStringLiteral("Watch"),       QStringLiteral("Site"),
                                                              QStringLiteral("Web Address"), QStringLiteral("State"),
                                                              QStringLiteral("Last Result"), QStringLiteral("Average"),
                                                              QStringLiteral("Success"),     QStringLiteral("Changed")};
    return section >= 0 && section < ColumnCount ? captions[std::size_t(section)] : QVariant();
}

Qt::ItemFlags SiteListModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == Watch)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

bool SiteListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() != Watch || role != Qt::CheckStateRole || index.row() >= int(m_rows.size()))
        return false;
    const Row& row = m_rows[std::size_t(index.row())];
    const bool watch = value.value<Qt::CheckState>() == Qt::Checked;
    if (watch != row.watched)
        emit watchToggled(row.site, watch);
    // The box shows whether a run watches the site now, whatever was asked.
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

} // namespace sondrel::app
