#pragma once

#include "app/StatusFaces.h"
#include "core/Monitor.h"

#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QAction;
class QMenu;
class QPushButton;

namespace sondrel::app {

class MainWindow;

// The tray's picture: the status face, with a badge of a crossed-out page when the page check did not find the
// main site string.
QPixmap trayPicture(Face face, bool pageTextMissing);

// The program in the desktop's system tray: the status face, a tooltip with the status text and the latest result
// line, and a menu whose Start, Stop and Exit are the window's buttons, enabled exactly when those are.
class TrayIcon final : public QSystemTrayIcon {
    Q_OBJECT
public:
    // The buttons whose handlers and enabled states the menu mirrors.
    struct Buttons {
        QPushButton* start;
        QPushButton* stop;
        QPushButton* exit;
    };
    TrayIcon(MainWindow& window, core::Monitor& monitor, Buttons buttons);
    ~TrayIcon() override;

    // Brings the main window to the front.
    void showWindow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* addItem(const QString& caption, const char* name);
    QAction* addCommand(const QString& caption, const char* name, QPushButton* button, std::function<void()> handler);
    void refreshSoon();
    void refresh();

    MainWindow& m_window;
    core::Monitor& m_monitor;
    std::unique_ptr<QMenu> m_menu;
    struct Mirror {
        QPointer<QPushButton> button;
        QAction* action;
    };
    QList<Mirror> m_mirrors;
    Face m_face = Face::Smiling;
    bool m_pageTextMissing = false;
    std::optional<std::pair<Face, bool>> m_picture; // what the icon shows
    QString m_statusText;
    QString m_lastLine;
    QTimer m_refresh;
};

} // namespace sondrel::app
