#pragma once

#include <QTimer>
#include <QWidget>

class QAreaSeries;
class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace sondrel::core {
class LatencyHistory;
class Monitor;
} // namespace sondrel::core

namespace sondrel::app {

class TimedChartView;

// The latency chart: the run's trip times against time as a band from the fastest to the slowest answer of each
// slice, the failed checks as marks along the top, and the run's average as a line and as text. It draws the
// history the main window keeps for the whole run, so it shows the run so far when opened in the middle of one,
// and follows the monitor's reports at most once per screen refresh. Closing it leaves the run alone.
class ChartWindow final : public QWidget {
    Q_OBJECT
public:
    ChartWindow(const core::LatencyHistory& history, const core::Monitor& monitor, QWidget* parent = nullptr);

private:
    void showSoon();
    void showHistory();

    const core::LatencyHistory& m_history;
    QChartView* chartView = nullptr;
    TimedChartView* m_view = nullptr; // chartView, which times its paints
    QChart* m_chart = nullptr;
    QLineSeries* serFastest = nullptr;
    QLineSeries* serSlowest = nullptr;
    QAreaSeries* serBand = nullptr;
    QLineSeries* serAverage = nullptr;
    QScatterSeries* serFailures = nullptr;
    QDateTimeAxis* m_timeAxis = nullptr;
    QValueAxis* m_msAxis = nullptr;
    QLabel* lblAverage = nullptr; // "Average: N ms"
    QLabel* lblChecks = nullptr;  // how many checks were answered and how many failed
    QTimer m_refresh;
    quint64 m_shownRevision = 0;
    qint64 m_updateNs = 0; // how long the latest update of the series took
};

} // namespace sondrel::app
