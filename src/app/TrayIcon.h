#pragma once

#include "app/SiteListModel.h"
#include "app/StatusFaces.h"
#include "core/Monitor.h"

#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>
#include <optional>
#include <utility>

class QAction;
class QMenu;

namespace sondrel::app {

class MainWindow;

// The tray's picture: the status face, with a badge of a crossed-out page when the page check did not find the
// main site string.
QPixmap trayPicture(Face face, bool pageTextMissing);

// What the tray tells of the sites watched: "3 sites up, 2 down: a.example, b.example", naming the first few down
// and counting the rest.
QString sitesCountLine(const SiteListModel::Counts& counts);

// The program in the desktop's system tray: the status face, a tooltip with the status text and the latest result
// line, and a menu whose Start, Stop and Exit are the window's own commands, the ones its buttons trigger. While
// sites are watched in the background the face is the worst of all runs going on, and the tooltip counts the sites
// up and down.
class TrayIcon final : public QSystemTrayIcon {
    Q_OBJECT
public:
    // The window's commands the menu shows; the window owns them.
    struct Commands {
        QAction* start;
        QAction* stop;
        QAction* exit;
    };
    // monitor is the window's own run; sites tells what every saved site's run reports.
    TrayIcon(MainWindow& window, core::Monitor& monitor, const SiteListModel& sites, Commands commands);
    ~TrayIcon() override;

    // Brings the main window to the front.
    void showWindow();

private:
    QAction* addItem(const QString& caption, const char* name);
    void refreshSoon();
    void refresh();

    MainWindow& m_window;
    core::Monitor& m_monitor;
    const SiteListModel& m_sites;
    std::unique_ptr<QMenu> m_menu;
    Face m_face = Face::Smiling;
    bool m_pageTextMissing = false;
    std::optional<std::pair<Face, bool>> m_picture; // what the icon shows
    QString m_statusText;
    QString m_lastLine;
    QTimer m_refresh;
};

} // namespace sondrel::app
