#include "app/MainWindow.h"
#include "core/Monitor.h"
#include "support/AppFixture.h"

#include <QAction>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QXYSeries>
#include <QtTest>

using namespace sondrel;
using namespace sondrel::test;

class TestChartWindow : public QObject, private AppFixture {
    Q_OBJECT
private:
    static QList<QWidget*> chartWindows()
    {
        QList<QWidget*> found;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QLatin1String("frmChart") && widget->isVisible())
                found.append(widget);
        }
        return found;
    }
    static QXYSeries* series(QWidget* chart, const char* name)
    {
        return control<QXYSeries>(*control<QChartView>(*chart, "chartView")->chart(), name);
    }
    static QList<QPointF> at(const QDateTime& base, const QList<std::pair<int, double>>& secondsAndMs)
    {
        QList<QPointF> points;
        for (const auto& [seconds, ms] : secondsAndMs)
            points.append(QPointF(double(base.addSecs(seconds).toMSecsSinceEpoch()), ms));
        return points;
    }
    QString listAverage() const
    {
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("Average=(\\d+)")).match(resultLines(*m_window).constLast());
        return match.hasMatch() ? QStringLiteral("Average: %1 ms").arg(match.captured(1)) : QString();
    }

private slots:
    void cleanup() { m_window.reset(); }

    // Check k answers in 7k ms at base + k seconds, except check 3, which fails; the run stops itself at stopAt.
    void chart_followsTheRunLive_keepsItWhileClosed_andStartsAfreshWithANewRun()
    {
        QVERIFY(renewFixture());
        app::MainWindow& w = openWindow();
        w.show();
        control<QLineEdit>(w, "Text1")->setText(QStringLiteral("127.0.0.1"));
        control<QLineEdit>(w, "Text5")->setText(QStringLiteral("0"));
        control<QCheckBox>(w, "Check2")->setChecked(false);
        const QDateTime base(QDate(2024, 7, 12), QTime(10, 0));
        int stopAt = 4;
        m_fakes->echo.nextReply = [&](quint32 address, const QByteArray& payload) {
            const int k = m_fakes->echo.sendCount;
            m_fakes->clock.wallClock = base.addSecs(k);
            EchoReply reply = FakeIcmpEcho::echoOf(address, payload);
            if (k == 3)
                reply.status = IpStatus::ReqTimedOut;
            else
                reply.tripTime = 7 * k;
            if (k == stopAt)
                w.monitor().stop();
            return reply;
        };

        // A run with the chart closed; opened afterwards, it shows the whole run.
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTRY_VERIFY(!w.monitor().isRunning());
        QTRY_COMPARE(resultLines(w).size(), 4);
        control<QAction>(w, "mnuChart")->trigger();
        QCOMPARE(chartWindows().size(), 1);
        QPointer<QWidget> chart = chartWindows().constFirst();
        QVERIFY(chart->isWindow() && chart->parentWidget() == nullptr);
        const QList<QPointF> answered = at(base, {{1, 7}, {2, 14}, {4, 28}});
        QCOMPARE(series(chart, "serSlowest")->points(), answered);
        QCOMPARE(series(chart, "serFastest")->points(), answered);
        QCOMPARE(series(chart, "serFailures")->count(), 1);
        QCOMPARE(series(chart, "serFailures")->at(0).x(), double(base.addSecs(3).toMSecsSinceEpoch()));
        QCOMPARE(control<QLabel>(*chart, "lblAverage")->text(), listAverage());
        QCOMPARE(listAverage(), QStringLiteral("Average: 16 ms"));
        QCOMPARE(series(chart, "serAverage")->at(0).y(), 16.0);

        // The item again raises the same window; a new run starts the chart afresh and it follows live.
        control<QAction>(w, "mnuChart")->trigger();
        QCOMPARE(chartWindows(), QList<QWidget*>{chart});
        stopAt = 7;
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTRY_VERIFY(!w.monitor().isRunning());
        QTRY_COMPARE(series(chart, "serSlowest")->points(), at(base, {{5, 35}, {6, 42}, {7, 49}}));
        QCOMPARE(series(chart, "serFailures")->count(), 0);
        QTRY_COMPARE(resultLines(w).size(), 7);
        QCOMPARE(control<QLabel>(*chart, "lblAverage")->text(), listAverage());

        // Closing the chart leaves the run alone; opened again mid-run, it shows the run so far at once.
        stopAt = 1000;
        m_fakes->echo.delayMs = 5;
        QTest::mouseClick(control<QPushButton>(w, "Command1"), Qt::LeftButton);
        QTRY_VERIFY(m_fakes->echo.sendCount >= 10);
        chart->close();
        QTRY_VERIFY(chart.isNull());
        const int closedAt = m_fakes->echo.sendCount;
        QTRY_VERIFY(m_fakes->echo.sendCount >= closedAt + 3);
        QVERIFY(w.monitor().isRunning());
        control<QAction>(w, "mnuChart")->trigger();
        chart = chartWindows().constFirst();
        QVERIFY(series(chart, "serSlowest")->count() >= closedAt - 7);
        QCOMPARE(series(chart, "serSlowest")->at(0), at(base, {{8, 56}}).constFirst());
        QTest::mouseClick(control<QPushButton>(w, "Command4"), Qt::LeftButton);
        QTRY_VERIFY(!w.monitor().isRunning());
        QVERIFY(!chart.isNull());
    }
};

QTEST_MAIN(TestChartWindow)
#include "tst_chartwindow.moc"
