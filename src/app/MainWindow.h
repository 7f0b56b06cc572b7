#pragma once

#include "app/ResultListModel.h"
#include "app/RunState.h"
#include "platform/Services.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPushButton;
class QRadioButton;

namespace sondrel::store {
class LogFiles;
}
namespace sondrel::probe {
class PageCheck;
}
namespace sondrel::mail {
class SendMailWindow;
}

namespace sondrel::app {

class CheckCycle;
class MonitorRun;

// The main window: the site's settings in its fields, the run's results, and the buttons and menus
// that operate everything. Controls carry their historical names as member and object names.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    // executableDir is the folder that holds the program; every file lives below it.
    MainWindow(platform::Services services, const QString& executableDir, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Site settings and results.
    QLineEdit* Text1 = nullptr; // "Web Address To Check"
    QLineEdit* Text2 = nullptr; // "Site IP Address"
    QLineEdit* Text3 = nullptr; // "Packet String"
    QLineEdit* Text5 = nullptr; // "Interval Seconds"
    QLineEdit* Text6 = nullptr; // "No of Pings"
    QLineEdit* Text7 = nullptr; // "Main Site String"
    QLineEdit* Text4[5] = {};   // 0 to 2 hidden working fields, 3 "Bytes Used", 4 "Packet Returned"
    QListView* List1 = nullptr;
    QPushButton* Command1 = nullptr; // Start
    QPushButton* Command2 = nullptr; // Email
    QPushButton* Command4 = nullptr; // Stop
    QPushButton* Command5 = nullptr; // Exit
    QPushButton* Command6 = nullptr; // Clear List
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
    QAction* mnuHelp = nullptr;

    const QString& ProgramFolder() const { return m_programFolder; }
    RunState& state() { return m_state; }
    platform::Services& services() { return m_services; }
    ResultListModel& results() { return m_results; }
    store::LogFiles& logFiles() { return *m_logFiles; }
    probe::PageCheck& pageCheck() { return *m_pageCheck; }
    CheckCycle& checkCycle() { return *m_checkCycle; }
    MonitorRun& run() { return *m_run; }

    // Appends a line to the result list and keeps the newest line in view when the list was at its end.
    void addResultLine(const QString& line);
    // Makes exactly one status picture visible; status is shown as its tooltip.
    void showImage(QLabel* image);
    void setStatusTooltip(const QString& status);

    void savesettings(int site);
    void getsitesettings(int site);
    // The notification decision at the end of a check cycle; done runs when any e-mail attempt has ended.
    void checkstatuschangeandsendemailifrequired(std::function<void()> done);
    // Discards the hidden e-mail window of the previous notification.
    void unloadNotificationWindow();
    // Closes every open file of the program.
    void closeAllFiles();

    void Option1_Click();
    void Option2_Click();
    void Command2_Click();
    void Command5_Click();
    void Command6_Click();
    void mnu_Click(int site);
    void mnusave_Click();
    void mnuHelp_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void Form_Load(const QString& executableDir);
    void endProgram();

    platform::Services m_services;
    QString m_programFolder;
    RunState m_state;
    ResultListModel m_results;
    std::unique_ptr<store::LogFiles> m_logFiles;
    std::unique_ptr<probe::PageCheck> m_pageCheck;
    std::unique_ptr<CheckCycle> m_checkCycle;
    std::unique_ptr<MonitorRun> m_run;
    QPointer<mail::SendMailWindow> m_emailWindow;        // opened by the user with "Email"
    QPointer<mail::SendMailWindow> m_notificationWindow; // loaded hidden by a notification
    bool m_ending = false;
};

} // namespace sondrel::app
