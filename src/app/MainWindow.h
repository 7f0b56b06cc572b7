#pragma once

#include "app/ResultListModel.h"
#include "core/MonitorSettings.h"
#include "platform/Services.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>

class QAction;
class QActionGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPushButton;
class QRadioButton;

#include "core/MonitorHub.h" // namespace sondrel::core

namespace sondrel::app {

class AlertsWindow;
class ChartWindow;
class DesktopNotifications;
class SendMailWindow;
class SiteListModel;
class SitesWindow;
class TrayIcon;

// The main window: the site's settings in its fields, the run's results, and the buttons and menus
// that operate everything. The monitoring itself is a run of the core's MonitorHub; the window forwards clicks and
// edits to it and shows what it reports. Controls carry their historical names as member and object names.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    // executableDir is the folder that holds the program's files (data/ and logs/).
    MainWindow(platform::Services services, const QString& executableDir, QWidget* parent = nullptr);
    ~MainWindow() override;

    const QString& ProgramFolder() const { return m_programFolder; }
    core::MonitorHub& hub() { return *m_hub; }
    // The run the window shows: its own run (the hub's first), or the background run of its site that Start found
    // going on.
    core::Monitor& monitor() { return *m_monitor; }
    // The site's settings as the fields hold them now.
    core::MonitorSettings currentSettings() const;

    void savesettings(int site);
    void getsitesettings(int site);
    // Opens saved site `site` (1 or more) as the items of "Open Site" open sites 1 to 3; their check marks are all
    // cleared for a site above 3.
    void openSite(int site);
    // Ends the program as Exit does, whether or not Exit is enabled now.
    void endProgram();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void Option1_Click();
    void Option2_Click();
    void Command1_Click();
    void Command2_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void mnu_Click(int site);
    void mnusave_Click();
    void mnuHelp_Click();
    void mnuAlerts_Click();
    void mnuChart_Click();
    void mnuSites_Click();
    void mnuNotify_Click();
    void mnuSnooze1_Click();
    void mnuSnooze4_Click();
    void mnuSnoozeMorning_Click();
    void mnuResume_Click();

private:
    void buildControls();
    // The button's command: the button triggers it and follows its enabled state.
    QAction* addCommand(QPushButton* button, const char* name, void (MainWindow::*handler)());
    void buildMenus();
    QAction* addMenuItem(QMenu* menu, const QString& caption, const char* name, void (MainWindow::*handler)());
    // Shows `run` in the form from now on: Stop and the menus act on it. The signals of the run shown before are
    // disconnected.
    void attach(core::Monitor& run);
    void connectMonitor();
    // The saved site the window's own run is on (0: none), as the hub and the Sites window are told.
    void setOwnRunSite(int site);
    // The fields as they are stored for a site.
    store::SiteSettings storedFields() const;
    // The tray icon, when the desktop has a tray, and the desktop notifications with the stored choice.
    void setUpDesktop();
    void Form_Load();
    // The status-bar label that tells how long alerts stay snoozed.
    void buildSnoozeLabel();
    void buildOutboxLabel();
    void showSnooze(const QDateTime& until);
    void showStatusBarWhenUsed();

    // What the run reported since the window was last painted. The window shows the latest values at most
    // once per screen refresh: nobody reads faster, and a fast run must not spend its time painting.
    struct PendingView {
        std::optional<QString> checkNumber;
        std::optional<QString> siteAddress;
        std::optional<core::EchoReport> echo;
        std::optional<core::SiteStatus> status;
        std::optional<QString> statusText;
        QStringList lines;
    };
    void showSoon();
    void showPending();
    // Appends lines to the result list and keeps the newest line in view when the list was at its end.
    void addResultLines(const QStringList& lines);
    void showStatus(core::SiteStatus status);
    void showEcho(const core::EchoReport& report);
    // Makes exactly one status picture visible; status is shown as its tooltip.
    void showImage(QLabel* image);
    void setStatusTooltip(const QString& status);
    void setRunButtonsEnabled(bool enabled);

    // Site settings and results.
    QLineEdit* Text1 = nullptr; // "Web Address To Check"
    QLineEdit* Text2 = nullptr; // "Site IP Address"
    QLineEdit* Text3 = nullptr; // "Packet String"
    QLineEdit* Text5 = nullptr; // "Interval Seconds"
    QLineEdit* Text6 = nullptr; // "No of Pings"
    QLineEdit* Text7 = nullptr; // "Main Site String"
    QLineEdit* Text4[5] = {};   // 0 status text and 2 trip time (hidden), 3 "Bytes Used", 4 "Packet Returned"
    QListView* List1 = nullptr;
    QPushButton* Command1 = nullptr; // Start
    QPushButton* Command2 = nullptr; // Email
    QPushButton* Command4 = nullptr; // Stop
    QPushButton* Command5 = nullptr; // Exit
    QPushButton* Command6 = nullptr; // Clear List
    // Start, Stop, Clear List and Exit, each one action for its button, the Site menu and the tray's menu.
    QAction* actStart = nullptr;
    QAction* actStop = nullptr;
    QAction* actClearList = nullptr;
    QAction* actExit = nullptr;
    QActionGroup* m_commands = nullptr; // the four, disabled together while the e-mail window locks this one
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QGroupBox* Frame5 = nullptr;
    QGroupBox* Frame6 = nullptr;
    QRadioButton* Option1 = nullptr; // Always On
    QRadioButton* Option2 = nullptr; // Modem
    QRadioButton* Option3 = nullptr; // notification Yes
    QRadioButton* Option4 = nullptr; // notification No
    QRadioButton* Option5 = nullptr; // page check Yes
    QRadioButton* Option6 = nullptr; // page check No
    QCheckBox* Check2 = nullptr;     // Auto Disconnect
    QLabel* Image1 = nullptr;        // connected and working
    QLabel* Image2 = nullptr;        // no connection
    QLabel* Image3 = nullptr;        // the site did not answer
    QMenu* mnuSite = nullptr;
    QAction* mnusave = nullptr;
    QMenu* mnuopen = nullptr;
    QAction* mnu1 = nullptr;
    QAction* mnu2 = nullptr;
    QAction* mnu3 = nullptr;
    QAction* mnuAlerts = nullptr; // "Alert Settings"
    QMenu* mnuView = nullptr;
    QAction* mnuSites = nullptr;  // "Sites"
    QAction* mnuChart = nullptr;  // "Latency Chart"
    QAction* mnuNotify = nullptr; // "Desktop Notifications", checkable
    QMenu* mnuSnooze = nullptr;   // "Snooze Alerts"
    QAction* mnuSnooze1 = nullptr;
    QAction* mnuSnooze4 = nullptr;
    QAction* mnuSnoozeMorning = nullptr;
    QAction* mnuResume = nullptr;
    QAction* mnuHelp = nullptr;

    platform::Services m_services;
    QString m_programFolder;
    std::unique_ptr<core::MonitorHub> m_hub;
    core::Monitor* m_ownRun;  // the window's own run of its fields, the hub's first
    core::Monitor* m_monitor; // the run the form shows: m_ownRun or a background run of the hub
    int m_site = 1;           // the saved site whose settings the fields were loaded from
    int m_ownRunSite = 0;     // the site m_ownRun is on while it runs
    ResultListModel m_results;
    PendingView m_pending;
    QTimer m_refresh;
    QPointer<SendMailWindow> m_emailWindow; // opened by the user with "Email"
    store::AlertSettings m_alerts;          // the open slot's alert settings, from data/alerts.ini
    QPointer<AlertsWindow> m_alertsWindow;  // "Alert Settings"
    QLabel* lblSnooze = nullptr;            // "Alerts snoozed until ...", hidden when not snoozed
    QLabel* lblOutbox = nullptr;            // notifications waiting to be sent again, hidden when none wait
    QPointer<ChartWindow> m_chartWindow;    // "Latency Chart"
    std::unique_ptr<SiteListModel> m_sites; // every saved site with what its run told, for the Sites window and tray
    QPointer<SitesWindow> m_sitesWindow;    // "Sites", kept once opened
    bool m_interactiveEmail = false;        // the e-mail window is open and the main window waits for it
    bool m_ending = false;
    DesktopNotifications* m_desktopNotifications = nullptr;
    TrayIcon* m_tray = nullptr; // none without a system tray
};

} // namespace sondrel::app
