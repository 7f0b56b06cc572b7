// What the Sites window costs while thousands of sites are watched: the main window and the Sites window shown,
// every saved site watched with "Watch All" at a 60 s interval, addresses 127.0.x.y in a private network
// namespace of the benchmark's own (all answer on its loopback). Prints the processor time of the whole process
// per minute, once the first interval (when the sites start one after the other) is over, and how long sorting
// the table by each column and filtering it by text and by state take with every row present.
//
// Usage: bench_siteswindow [SITES] [SECONDS]   (defaults 10000 and 180; run as root, for the namespace)
// With DISPLAY set (xvfb-run) the windows are drawn by an X server; otherwise offscreen.
#include "BenchSupport.h"
#include "core/MonitorHub.h"
#include "store/SiteSettings.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace sondrel;

namespace {

QString siteAddress(int index)
{
    return QStringLiteral("127.0.%1.%2").arg(index / 250 + 1).arg(index % 250 + 1);
}

QWidget* topLevel(const char* name)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String(name) && widget->isVisible())
            return widget;
    }
    return nullptr;
}

template <typename Action> double millisecondsOf(Action action)
{
    QElapsedTimer clock;
    clock.start();
    action();
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    const int sites = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10000;
    const int seconds = argc > 2 ? std::max(70, std::atoi(argv[2])) : 180;
    if (const QString why = bench::enterPrivateNetwork(); !why.isEmpty()) {
        std::printf("bench_siteswindow: %s\n", qPrintable(why));
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    bench::BenchProgram program;
    std::vector<std::pair<int, store::SiteSettings>> saved;
    for (int i = 0; i < sites; ++i) {
        store::SiteSettings site;
        site.webAddress = siteAddress(i);
        site.packetString = QStringLiteral("Packet");
        site.interval = 60;
        saved.emplace_back(i + 1, site);
    }
    if (!store::SiteSettingsFile(program.dir.path()).saveMany(saved)) {
        std::printf("bench_siteswindow: the sites could not be saved\n");
        return 1;
    }
    app::MainWindow& window = *program.window;
    window.show();
    bench::control<QAction>(window, "mnuSites")->trigger();
    QWidget* sitesWindow = nullptr;
    bench::waitFor([&] { return (sitesWindow = topLevel("frmSites")) != nullptr; }, 10000);
    if (!sitesWindow) {
        std::printf("bench_siteswindow: the Sites window did not open\n");
        return 1;
    }
    auto* table = bench::control<QTableView>(*sitesWindow, "tblSites");
    bench::waitFor([&] { return table->model()->rowCount() == sites; }, 30000);
    std::printf("%d sites listed, %d rows shown\n", sites, table->model()->rowCount());

    const double watchMs = millisecondsOf([&] { bench::control<QPushButton>(*sitesWindow, "cmdWatchAll")->click(); });
    std::printf("Watch All: %.0f ms until the window takes input again, %d runs going on\n", watchMs,
                window.hub().watchedCount());

    // The first interval starts the sites one after the other; the steady state is measured after it.
    bench::runFor(62'000);
    const double cpuBefore = bench::cpuSeconds();
    QElapsedTimer steady;
    steady.start();
    bench::runFor((seconds - 62) * 1000);
    const double minutes = double(steady.elapsed()) / 60'000.0;
    const double cpuPerMinute = (bench::cpuSeconds() - cpuBefore) / minutes;

    std::vector<double> sorts;
    const int columns = table->model()->columnCount();
    for (int column = 0; column < columns; ++column) {
        for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            sorts.push_back(millisecondsOf([&] {
                table->sortByColumn(column, order);
                QCoreApplication::processEvents(); // the view lays out the sorted rows
            }));
        }
    }
    auto* filter = bench::control<QLineEdit>(*sitesWindow, "txtSiteFilter");
    std::vector<double> filters;
    int textRows = 0;
    for (const QString& text : {QStringLiteral("127.0.7."), QStringLiteral("127.0.1.1"), QString()}) {
        filters.push_back(millisecondsOf([&] {
            filter->setText(text);
            QCoreApplication::processEvents();
        }));
        if (!text.isEmpty() && textRows == 0)
            textRows = table->model()->rowCount();
    }
    auto* state = bench::control<QComboBox>(*sitesWindow, "cboSiteState");
    for (int index = 0; index < state->count(); ++index) {
        filters.push_back(millisecondsOf([&] {
            state->setCurrentIndex(index);
            QCoreApplication::processEvents();
        }));
    }
    state->setCurrentIndex(0);
    const double slowestSort = *std::max_element(sorts.begin(), sorts.end());
    const double slowestFilter = *std::max_element(filters.begin(), filters.end());

    std::printf("processor time of the whole process, steady state over %.1f min: %.2f s per minute = %.1f %% of "
                "one core (goal under 25 %%)\n",
                minutes, cpuPerMinute, cpuPerMinute / 60.0 * 100.0);
    std::printf("sorting %d rows by each of %d columns, both orders: slowest %.1f ms, median %.1f ms (goal under "
                "100 ms)\n",
                table->model()->rowCount(), columns, slowestSort,
                (std::sort(sorts.begin(), sorts.end()), sorts[sorts.size() / 2]));
    std::printf("filtering by text (\"127.0.7.\" leaves %d rows) and by each state: slowest %.1f ms (goal under "
                "100 ms)\n",
                textRows, slowestFilter);
    std::printf("peak resident memory %lld kB\n", bench::statusKb("VmHWM"));

    window.hub().stopAll();
    bench::waitFor([&] { return window.hub().watchedCount() == 0; }, 30000);
    return 0;
}
