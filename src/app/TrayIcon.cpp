#include "app/TrayIcon.h"

#include "app/MainWindow.h"
#include "probe/PageCheck.h"

#include <QMenu>
#include <QPainter>

namespace sondrel::app {

QPixmap trayPicture(Face face, bool pageTextMissing)
{
    QPixmap pixmap = drawFace(face);
    if (!pageTextMissing)
        return pixmap;
    // A small page over the lower right of the face, its lines of text struck through in red.
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(17.5, 13.5, 13, 17));
    painter.setPen(QPen(QColor(128, 128, 128), 1));
    for (qreal y : {17.5, 20.5, 23.5, 26.5})
        painter.drawLine(QPointF(19.5, y), QPointF(28.5, y));
    painter.setPen(QPen(QColor(204, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(19, 16), QPointF(29, 28));
    painter.drawLine(QPointF(29, 16), QPointF(19, 28));
    return pixmap;
}

QString sitesCountLine(const SiteListModel::Counts& counts)
{
    QString line = (counts.up == 1 ? QStringLiteral("1 site up") : QStringLiteral("%1 sites up").arg(counts.up)) +
                   QStringLiteral(", %1 down").arg(counts.down);
    if (counts.down == 0)
        return line;
    line += QStringLiteral(": ") + counts.firstDown.join(QStringLiteral(", "));
    if (const int more = counts.down - int(counts.firstDown.size()); more > 0)
        line += QStringLiteral(" and %1 more").arg(more);
    return line;
}

namespace {

Face faceOf(SiteState state)
{
    return state == SiteState::NotAnswering   ? Face::Sad
           : state == SiteState::NoConnection ? Face::Straight
                                              : Face::Smiling;
}

// The worse of two faces: a site not answering, then a missing connection.
Face worse(Face a, Face b)
{
    auto rank = [](Face face) { return face == Face::Sad ? 2 : face == Face::Straight ? 1 : 0; };
    return rank(a) >= rank(b) ? a : b;
}

} // namespace

TrayIcon::TrayIcon(MainWindow& window, core::Monitor& monitor, const SiteListModel& sites, Commands commands)
    : QSystemTrayIcon(&window)
    , m_window(window)
    , m_monitor(monitor)
    , m_sites(sites)
    , m_menu(std::make_unique<QMenu>())
{
    setObjectName(QStringLiteral("trayIcon"));
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    QAction* showItem = addItem(tr("Show"), "trayShow");
    connect(showItem, &QAction::triggered, this, &TrayIcon::showWindow);
    m_menu->addSeparator();
    m_menu->addActions({commands.start, commands.stop});
    m_menu->addSeparator();
    m_menu->addAction(commands.exit);
    setContextMenu(m_menu.get());
    connect(this, &QSystemTrayIcon::activated, this, [this](ActivationReason reason) {
        if (reason == Trigger)
            showWindow();
    });

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(16);
    connect(&m_refresh, &QTimer::timeout, this, &TrayIcon::refresh);
    connect(&monitor, &core::Monitor::statusChanged, this, [this](core::SiteStatus status) {
        m_face = status == core::SiteStatus::Working        ? Face::Smiling
                 : status == core::SiteStatus::NoConnection ? Face::Straight
                                                            : Face::Sad;
        refreshSoon();
    });
    connect(&monitor, &core::Monitor::statusTextChanged, this, [this](const QString& text) {
        m_statusText = text;
        refreshSoon();
    });
    connect(&monitor, &core::Monitor::resultLineAdded, this, [this](const QString& line) {
        m_lastLine = line;
        refreshSoon();
    });
    // Each check's result line is measured once; its page token is the check's page outcome.
    connect(&monitor, &core::Monitor::echoMeasured, this, [this](const core::EchoSample& sample) {
        const QString& token = sample.pageToken;
        m_pageTextMissing = token != core::kBlankToken && token != probe::kTokenOk;
        refreshSoon();
    });
    connect(&sites, &SiteListModel::summaryChanged, this, &TrayIcon::refreshSoon);
    refresh();
    show();
}

TrayIcon::~TrayIcon() = default;

QAction* TrayIcon::addItem(const QString& caption, const char* name)
{
    // The items belong to the icon, and so to the window, where they are found by name; the menu has no parent
    // window, so that Show stays available while the window is locked.
    auto* item = new QAction(caption, this);
    item->setObjectName(QLatin1String(name));
    m_menu->addAction(item);
    return item;
}

void TrayIcon::showWindow()
{
    m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}

void TrayIcon::refreshSoon()
{
    // A fast run reports far more often than anyone can look; the tray follows at most once per screen refresh.
    if (!m_refresh.isActive())
        m_refresh.start();
}

void TrayIcon::refresh()
{
    // With only the window's run the tray tells that run, going on or ended; with background runs, every run going
    // on, the window's among them while it runs.
    const SiteListModel::Counts counts = m_sites.counts();
    const bool sitesWatched = counts.watchedInBackground > 0;
    const bool windowRunShown = !sitesWatched || m_monitor.isRunning();
    Face face = windowRunShown ? m_face : Face::Smiling;
    if (sitesWatched)
        face = worse(face, faceOf(counts.worst));
    const bool pageTextMissing = windowRunShown && m_pageTextMissing;
    const std::pair picture{face, pageTextMissing};
    if (picture != m_picture) {
        m_picture = picture;
        setIcon(QIcon(trayPicture(face, pageTextMissing)));
    }
    QStringList tip{QStringLiteral("Sondrel")};
    if (sitesWatched)
        tip.append(sitesCountLine(counts));
    if (windowRunShown) {
        if (!m_statusText.isEmpty())
            tip.append(m_statusText);
        if (!m_lastLine.isEmpty())
            tip.append(m_lastLine);
        if (m_pageTextMissing)
            tip.append(tr("The main site string was not found on the page"));
    }
    setToolTip(tip.join(u'\n'));
}

} // namespace sondrel::app
