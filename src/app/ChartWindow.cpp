#include "app/ChartWindow.h"

#include "core/LatencyHistory.h"
#include "core/Monitor.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace sondrel::app {

namespace {

// The smallest of 1, 2 or 5 times a power of ten that is at least value, for a value axis that ends on a round
// number.
double roundCeiling(double value)
{
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * power >= value)
            return step * power;
    }
    return 10.0 * power;
}

template <typename Series> Series* named(Series* series, const char* name, const QString& caption)
{
    series->setObjectName(QLatin1String(name));
    series->setName(caption);
    return series;
}

// Keeps points at most one per pixel column of the plot: a band of 2,048 slices drawn on a few hundred pixels
// looks the same as one of a few hundred, and costs a fraction to draw. Each kept point has its column's
// fastest and slowest answer.
std::vector<core::LatencyHistory::Point> perColumn(const std::vector<core::LatencyHistory::Point>& points, qint64 from,
                                                   qint64 to, double columns)
{
    std::vector<core::LatencyHistory::Point> kept;
    kept.reserve(points.size());
    const double perMs = columns / double(std::max<qint64>(to - from, 1));
    qint64 lastColumn = -1;
    for (const core::LatencyHistory::Point& point : points) {
        const auto column = qint64(double(point.atMs - from) * perMs);
        if (!kept.empty() && column == lastColumn) {
            kept.back().minMs = std::min(kept.back().minMs, point.minMs);
            kept.back().maxMs = std::max(kept.back().maxMs, point.maxMs);
        } else {
            kept.push_back(point);
            lastColumn = column;
        }
    }
    return kept;
}

} // namespace

// A chart view that knows how long its latest paint took.
class TimedChartView final : public QChartView {
public:
    using QChartView::QChartView;
    qint64 paintNs = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QElapsedTimer clock;
        clock.start();
        QChartView::paintEvent(event);
        paintNs = clock.nsecsElapsed();
    }
};

ChartWindow::ChartWindow(const core::LatencyHistory& history, const core::Monitor& monitor, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_history(history)
{
    setObjectName(QStringLiteral("frmChart"));
    setWindowTitle(tr("Latency Chart"));
    // The main window decides when the program ends; this one only shows.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(760, 420);

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setMargins(QMargins(4, 4, 4, 4));

    serSlowest = named(new QLineSeries, "serSlowest", tr("Slowest"));
    serFastest = named(new QLineSeries, "serFastest", tr("Fastest"));
    serBand = named(new QAreaSeries(serSlowest, serFastest), "serBand", tr("Trip time, fastest to slowest"));
    serBand->setColor(QColor(0x9f, 0xc5, 0xe8));
    serBand->setBorderColor(QColor(0x1f, 0x5f, 0xa8));
    serAverage = named(new QLineSeries, "serAverage", tr("Average"));
    serAverage->setPen(QPen(QColor(0x2e, 0x8b, 0x57), 2, Qt::DashLine));
    serFailures = named(new QScatterSeries, "serFailures", tr("Failed"));
    serFailures->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
    serFailures->setMarkerSize(10);
    serFailures->setColor(QColor(0xd0, 0x20, 0x20));
    serFailures->setBorderColor(QColor(0x80, 0x10, 0x10));

    m_timeAxis = new QDateTimeAxis;
    m_timeAxis->setTitleText(tr("Time"));
    m_timeAxis->setTickCount(6);
    m_msAxis = new QValueAxis;
    m_msAxis->setTitleText(tr("Trip time (ms)"));
    m_msAxis->setLabelFormat(QStringLiteral("%g"));
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_chart->addAxis(m_msAxis, Qt::AlignLeft);
    for (QAbstractSeries* series : std::initializer_list<QAbstractSeries*>{serBand, serAverage, serFailures}) {
        m_chart->addSeries(series);
        series->attachAxis(m_timeAxis);
        series->attachAxis(m_msAxis);
    }
    // The band's edges go with the band, which the chart owns once added.
    serSlowest->setParent(serBand);
    serFastest->setParent(serBand);

    chartView = m_view = new TimedChartView(m_chart, this);
    chartView->setObjectName(QStringLiteral("chartView"));

    lblAverage = new QLabel(this);
    lblAverage->setObjectName(QStringLiteral("lblAverage"));
    lblChecks = new QLabel(this);
    lblChecks->setObjectName(QStringLiteral("lblChecks"));
    auto* figures = new QHBoxLayout;
    figures->addWidget(lblAverage);
    figures->addStretch();
    figures->addWidget(lblChecks);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(chartView, 1);
    layout->addLayout(figures);

    // The monitor reports after the main window has filed the sample, and the chart follows at most once per
    // screen refresh: nobody reads faster, and a fast run must not spend its time drawing.
    m_refresh.setSingleShot(true);
    connect(&m_refresh, &QTimer::timeout, this, &ChartWindow::showHistory);
    connect(&monitor, &core::Monitor::runStarted, this, &ChartWindow::showSoon);
    connect(&monitor, &core::Monitor::echoMeasured, this, &ChartWindow::showSoon);

    m_shownRevision = m_history.revision() + 1;
    showHistory();
}

void ChartWindow::showSoon()
{
    if (m_refresh.isActive())
        return;
    // Once per screen refresh while drawing is cheap; when it is not, drawing gets at most an eighth of the time,
    // so that a fast run keeps its pace with the chart open.
    const qint64 costMs = (m_updateNs + m_view->paintNs) / 1000000;
    m_refresh.start(int(std::clamp<qint64>(costMs * 7, 16, 1000)));
}

void ChartWindow::showHistory()
{
    if (m_history.revision() == m_shownRevision)
        return;
    QElapsedTimer clock;
    clock.start();
    m_shownRevision = m_history.revision();

    const qint64 from = m_history.isEmpty() ? QDateTime::currentMSecsSinceEpoch() : m_history.buckets().front().atMs;
    // A short run fills the first ten seconds, so that its first points do not stretch over the whole width.
    const qint64 to = std::max(m_history.lastMs(), from + 10000);
    const double columns = m_chart->plotArea().width() > 0 ? m_chart->plotArea().width() : 1000.0;
    const std::vector<core::LatencyHistory::Point> points = perColumn(m_history.points(), from, to, columns);
    const std::optional<qint64> average = m_history.average();

    QList<QPointF> slowest;
    QList<QPointF> fastest;
    slowest.reserve(qsizetype(points.size()));
    fastest.reserve(qsizetype(points.size()));
    qint64 highest = 1;
    for (const core::LatencyHistory::Point& point : points) {
        slowest.append(QPointF(double(point.atMs), double(point.maxMs)));
        fastest.append(QPointF(double(point.atMs), double(point.minMs)));
        highest = std::max(highest, point.maxMs);
    }
    if (average)
        highest = std::max(highest, *average);
    // The answers use the lower four fifths; failures are marked along the top, as answers that never came.
    const double top = roundCeiling(double(highest) * 1.25);

    QList<QPointF> failed;
    qint64 lastColumn = -1;
    for (const core::LatencyHistory::FailureMark& mark : m_history.failureMarks()) {
        const auto column = qint64(double(mark.atMs - from) * columns / double(to - from));
        if (column != lastColumn)
            failed.append(QPointF(double(mark.atMs), top * 0.95));
        lastColumn = column;
    }

    serSlowest->replace(slowest);
    serFastest->replace(fastest);
    serFailures->replace(failed);
    if (average)
        serAverage->replace({QPointF(double(from), double(*average)), QPointF(double(to), double(*average))});
    else
        serAverage->clear();

    m_timeAxis->setFormat(to - from < 24 * 3600 * 1000 ? QStringLiteral("hh:mm:ss") : QStringLiteral("dd MMM hh:mm"));
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    m_msAxis->setRange(0, top);

    lblAverage->setText(average ? tr("Average: %1 ms").arg(*average) : tr("Average: no answer yet"));
    lblChecks->setText(tr("Answered: %1    Failed: %2").arg(m_history.answered()).arg(m_history.failures()));
    m_updateNs = clock.nsecsElapsed();
}

} // namespace sondrel::app
