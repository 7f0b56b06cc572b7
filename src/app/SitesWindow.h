#pragma once

#include "core/MonitorSettings.h"
#include "platform/Services.h"
#include "store/SiteSettings.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QTableView;

namespace sondrel::core {
class MonitorHub;
}

namespace sondrel::app {

class SiteFilterModel;
class SiteListModel;

// frmSites, "Sites": every saved site with its state, watched in the background one by one (the Watch boxes) or all
// that are listed at once; sites added one at a time, imported from a list or removed, and opened in the main
// window. Messages of the background runs are told in the status line, never as boxes: thousands may run.
class SitesWindow final : public QWidget {
    Q_OBJECT
public:
    // fields gives the main window's packet string, interval and choices as they are stored, for the sites added
    // here; sites is the list the main window keeps, which this window shows.
    SitesWindow(platform::Services services, QString programFolder, core::MonitorHub& hub, SiteListModel& sites,
                std::function<store::SiteSettings()> fields, QWidget* parent = nullptr);
    ~SitesWindow() override;

    // Lists the saved sites again from data/init.dat.
    void reload();

signals:
    // Open: the main window is to load the site into its fields.
    void openRequested(int site);

private:
    void buildControls();
    void cmdWatchAll_Click();
    void cmdStopAll_Click();
    void cmdAddSite_Click();
    void cmdRemoveSite_Click();
    void cmdOpenSite_Click();
    void cmdImportSites_Click();
    void addSite(const QString& address);
    void importFile(const QString& path);
    void watchToggled(int site, bool watch);
    // The sites of the selected rows, in the order shown.
    std::vector<int> selectedSites() const;
    // Every stored record, or nullopt after telling why it could not be read.
    std::optional<std::vector<store::SiteSettings>> loadSites();
    // The settings each site's run takes: its stored record and its alert settings.
    std::vector<std::pair<int, core::MonitorSettings>> runSettings(const std::vector<int>& sites);
    void removeSites(const std::vector<int>& sites);
    void showSummary();
    void updateButtons();
    void showError(const QString& text);

    QLineEdit* txtSiteFilter = nullptr;
    QComboBox* cboSiteState = nullptr; // all states, each state, "not watched"
    QTableView* tblSites = nullptr;
    QPushButton* cmdWatchAll = nullptr;
    QPushButton* cmdStopAll = nullptr;
    QPushButton* cmdAddSite = nullptr;
    QPushButton* cmdRemoveSite = nullptr;
    QPushButton* cmdOpenSite = nullptr;
    QPushButton* cmdImportSites = nullptr;
    QLabel* lblSitesStatus = nullptr; // the counts and the latest message of a background run

    platform::Services m_services;
    QString m_programFolder;
    core::MonitorHub& m_hub;
    SiteListModel& m_sites;
    SiteFilterModel* m_view = nullptr;
    std::function<store::SiteSettings()> m_fields;
    QPointer<QMessageBox> m_connectionBox; // "Failed to connect to internet!", while the connection is lost
    bool m_offline = false;
};

} // namespace sondrel::app
