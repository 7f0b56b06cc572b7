#include "app/SitesWindow.h"

#include "app/SiteFilterModel.h"
#include "app/SiteListModel.h"
#include "core/Monitor.h"
#include "core/MonitorHub.h"
#include "core/SiteImport.h"
#include "store/AlertSettingsFile.h"
#include "store/SettingsText.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace sondrel::app {

namespace {

// A list of ten thousand addresses is a few hundred kilobytes; a file far larger is not a list of sites.
constexpr qint64 kMaxListBytes = 16 * 1024 * 1024;
// Refused lines named in the message after an import; the rest are counted.
constexpr int kRefusedShown = 50;

QPushButton* button(QWidget* parent, const char* name, const QString& caption)
{
    auto* widget = new QPushButton(caption, parent);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QStringList savedAddresses(const std::vector<store::SiteSettings>& all)
{
    QStringList saved;
    for (const store::SiteSettings& each : all) {
        if (!store::isUnusedSite(each))
            saved.append(each.webAddress.trimmed());
    }
    return saved;
}

QString siteName(int site, const QString& address)
{
    return QStringLiteral("site %1 (%2)").arg(site).arg(address);
}

} // namespace

SitesWindow::SitesWindow(platform::Services services, QString programFolder, core::MonitorHub& hub,
                         SiteListModel& sites, std::function<store::SiteSettings()> fields, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_services(services)
    , m_programFolder(std::move(programFolder))
    , m_hub(hub)
    , m_sites(sites)
    , m_fields(std::move(fields))
{
    setObjectName(QStringLiteral("frmSites"));
    setWindowTitle(QStringLiteral("Sites"));
    buildControls();
    connect(&m_sites, &SiteListModel::summaryChanged, this, &SitesWindow::showSummary);
    connect(&m_sites, &SiteListModel::watchToggled, this, &SitesWindow::watchToggled);
    connect(&hub, &core::MonitorHub::connectionLost, this, [this] {
        m_offline = true;
        showSummary();
        // Told once, however many runs found it; the runs go on and try again at their next check.
        if (m_connectionBox)
            return;
        m_connectionBox = new QMessageBox(QMessageBox::Warning, platform::applicationTitle(),
                                          QStringLiteral("Failed to connect to internet!"), QMessageBox::Ok, this);
        m_connectionBox->setObjectName(QStringLiteral("msgConnectionLost"));
        m_connectionBox->setAttribute(Qt::WA_DeleteOnClose);
        m_connectionBox->setWindowModality(Qt::NonModal);
        m_connectionBox->show();
    });
    connect(&hub, &core::MonitorHub::connectionRestored, this, [this] {
        m_offline = false;
        if (m_connectionBox)
            m_connectionBox->close();
        showSummary();
    });
    reload();
}

SitesWindow::~SitesWindow() = default;

void SitesWindow::buildControls()
{
    resize(900, 520);
    auto* layout = new QVBoxLayout(this);

    auto* filters = new QHBoxLayout;
    auto* filterCaption = new QLabel(QStringLiteral("Filter:"), this);
    txtSiteFilter = new QLineEdit(this);
    txtSiteFilter->setObjectName(QStringLiteral("txtSiteFilter"));
    txtSiteFilter->setPlaceholderText(QStringLiteral("web address, site number or last result"));
    txtSiteFilter->setClearButtonEnabled(true);
    filterCaption->setBuddy(txtSiteFilter);
    auto* stateCaption = new QLabel(QStringLiteral("State:"), this);
    cboSiteState = new QComboBox(this);
    cboSiteState->setObjectName(QStringLiteral("cboSiteState"));
    cboSiteState->addItem(QStringLiteral("all states"));
    for (const SiteState state :
         {SiteState::Working, SiteState::NotAnswering, SiteState::NoConnection, SiteState::NotWatched})
        cboSiteState->addItem(SiteListModel::stateText(state), int(state));
    stateCaption->setBuddy(cboSiteState);
    filters->addWidget(filterCaption);
    filters->addWidget(txtSiteFilter, 1);
    filters->addWidget(stateCaption);
    filters->addWidget(cboSiteState);
    layout->addLayout(filters);

    m_view = new SiteFilterModel(m_sites, this);
    tblSites = new QTableView(this);
    tblSites->setObjectName(QStringLiteral("tblSites"));
    tblSites->setModel(m_view);
    tblSites->setSortingEnabled(true);
    tblSites->sortByColumn(SiteListModel::Site, Qt::AscendingOrder);
    tblSites->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblSites->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tblSites->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblSites->setWordWrap(false);
    tblSites->setAlternatingRowColors(true);
    // Every row is one line high and no column is measured from its contents, which would read every row.
    tblSites->verticalHeader()->hide();
    tblSites->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tblSites->verticalHeader()->setDefaultSectionSize(tblSites->fontMetrics().height() + 6);
    QHeaderView* header = tblSites->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    const std::pair<int, int> widths[] = {{SiteListModel::Watch, 52},       {SiteListModel::Site, 48},
                                          {SiteListModel::Address, 210},    {SiteListModel::State, 115},
                                          {SiteListModel::LastResult, 170}, {SiteListModel::Average, 64},
                                          {SiteListModel::Success, 60}};
    for (const auto& [column, width] : widths)
        header->resizeSection(column, width);
    layout->addWidget(tblSites, 1);

    auto* buttons = new QHBoxLayout;
    cmdWatchAll = button(this, "cmdWatchAll", QStringLiteral("Watch All"));
    cmdWatchAll->setToolTip(
        QStringLiteral("Watch every site listed; their first checks are spread over their interval"));
    cmdStopAll = button(this, "cmdStopAll", QStringLiteral("Stop All"));
    cmdAddSite = button(this, "cmdAddSite", QStringLiteral("Add"));
    cmdRemoveSite = button(this, "cmdRemoveSite", QStringLiteral("Remove"));
    cmdOpenSite = button(this, "cmdOpenSite", QStringLiteral("Open"));
    cmdImportSites = button(this, "cmdImportSites", QStringLiteral("Import"));
    for (QPushButton* each : {cmdWatchAll, cmdStopAll})
        buttons->addWidget(each);
    buttons->addSpacing(24);
    for (QPushButton* each : {cmdAddSite, cmdRemoveSite, cmdOpenSite, cmdImportSites})
        buttons->addWidget(each);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    lblSitesStatus = new QLabel(this);
    lblSitesStatus->setObjectName(QStringLiteral("lblSitesStatus"));
    lblSitesStatus->setTextFormat(Qt::PlainText);
    layout->addWidget(lblSitesStatus);

    connect(txtSiteFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_view->setText(text.trimmed());
        updateButtons();
    });
    connect(cboSiteState, &QComboBox::currentIndexChanged, this, [this] {
        const QVariant state = cboSiteState->currentData();
        m_view->setState(state.isValid() ? std::optional(SiteState(state.toInt())) : std::nullopt);
        updateButtons();
    });
    connect(tblSites->selectionModel(), &QItemSelectionModel::selectionChanged, this, &SitesWindow::updateButtons);
    connect(m_view, &QAbstractItemModel::modelReset, this, &SitesWindow::updateButtons);
    connect(tblSites, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.column() != SiteListModel::Watch)
            emit openRequested(m_view->siteAt(index.row()));
    });
    connect(cmdWatchAll, &QPushButton::clicked, this, &SitesWindow::cmdWatchAll_Click);
    connect(cmdStopAll, &QPushButton::clicked, this, &SitesWindow::cmdStopAll_Click);
    connect(cmdAddSite, &QPushButton::clicked, this, &SitesWindow::cmdAddSite_Click);
    connect(cmdRemoveSite, &QPushButton::clicked, this, &SitesWindow::cmdRemoveSite_Click);
    connect(cmdOpenSite, &QPushButton::clicked, this, &SitesWindow::cmdOpenSite_Click);
    connect(cmdImportSites, &QPushButton::clicked, this, &SitesWindow::cmdImportSites_Click);
    updateButtons();
}

void SitesWindow::reload()
{
    if (const std::optional<std::vector<store::SiteSettings>> all = loadSites())
        m_sites.setSites(*all);
}

std::optional<std::vector<store::SiteSettings>> SitesWindow::loadSites()
{
    QString error;
    std::optional<std::vector<store::SiteSettings>> all = store::SiteSettingsFile(m_programFolder).loadAll(&error);
    if (!all)
        showError(error);
    return all;
}

void SitesWindow::showError(const QString& text)
{
    m_services.messages.show(text, platform::applicationTitle(), platform::MessageIcon::Exclamation);
}

std::vector<int> SitesWindow::selectedSites() const
{
    std::vector<int> sites;
    for (const QModelIndex& index : tblSites->selectionModel()->selectedRows())
        sites.push_back(m_view->siteAt(index.row()));
    std::sort(sites.begin(), sites.end());
    return sites;
}

std::vector<std::pair<int, core::MonitorSettings>> SitesWindow::runSettings(const std::vector<int>& sites)
{
    std::vector<std::pair<int, core::MonitorSettings>> settings;
    const std::optional<std::vector<store::SiteSettings>> all = loadSites();
    if (!all)
        return settings;
    // The alert settings of all sites in one read; a file that cannot be read gives the defaults, as for one site.
    QByteArray alertsText;
    const store::AlertSettingsFile alertsFile(m_programFolder);
    const store::AlertSettingsBySite alerts = store::readSettingsText(alertsFile.path(), alertsText)
                                                  ? store::AlertSettingsFile::parse(alertsText)
                                                  : store::AlertSettingsBySite{};
    settings.reserve(sites.size());
    for (const int site : sites) {
        if (site < 1 || std::size_t(site) > all->size() || store::isUnusedSite((*all)[std::size_t(site - 1)]))
            continue;
        core::MonitorSettings run = core::monitorSettingsFrom((*all)[std::size_t(site - 1)]);
        if (const auto found = alerts.find(site); found != alerts.end())
            run.alerts = found->second;
        settings.emplace_back(site, std::move(run));
    }
    return settings;
}

void SitesWindow::cmdWatchAll_Click()
{
    std::vector<int> sites;
    sites.reserve(std::size_t(m_view->rowCount()));
    for (int row = 0; row < m_view->rowCount(); ++row)
        sites.push_back(m_view->siteAt(row));
    std::sort(sites.begin(), sites.end());
    m_hub.watch(runSettings(sites));
}

void SitesWindow::cmdStopAll_Click()
{
    m_hub.stopAll();
}

void SitesWindow::watchToggled(int site, bool watch)
{
    if (watch) {
        // A site the main window runs is watched already: the hub starts no second run.
        m_hub.watch(runSettings({site}));
    } else if (core::Monitor* run = m_hub.runningSite(site)) {
        run->stop();
    }
}

void SitesWindow::cmdAddSite_Click()
{
    auto* dialog = new QInputDialog(this);
    dialog->setObjectName(QStringLiteral("dlgAddSite"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Add Site"));
    dialog->setLabelText(QStringLiteral("Web address of the new site:"));
    dialog->setInputMode(QInputDialog::TextInput);
    connect(dialog, &QInputDialog::textValueSelected, this, &SitesWindow::addSite);
    // Window-modal without an event loop of its own.
    dialog->open();
}

void SitesWindow::addSite(const QString& address)
{
    const std::optional<std::vector<store::SiteSettings>> all = loadSites();
    if (!all)
        return;
    const QStringList saved = savedAddresses(*all);
    // The address is taken as an imported line would be: as typed, or not at all.
    const core::SiteImport checked = core::parseSiteList(address.toUtf8(), saved);
    if (!checked.refused.isEmpty()) {
        showError(QStringLiteral("%1 cannot be added: %2.")
                      .arg(checked.refused.first().text, checked.refused.first().reason));
        return;
    }
    if (checked.addresses.isEmpty())
        return;
    const int site = store::firstUnusedSite(*all);
    if (site == 0) {
        showError(QStringLiteral("Every site number up to %1 is taken; remove a site first.").arg(store::kMaxSites));
        return;
    }
    store::SiteSettings settings = m_fields();
    settings.webAddress = checked.addresses.first();
    settings.mainSiteString.clear();
    QString error;
    if (!store::SiteSettingsFile(m_programFolder).save(site, settings, &error)) {
        showError(error);
        return;
    }
    m_sites.updateSite(site, settings);
    if (const int row = m_view->mapFromSource(m_sites.index(m_sites.rowOf(site), 0)).row(); row >= 0) {
        tblSites->selectRow(row);
        tblSites->scrollTo(m_view->index(row, 0));
    }
}

void SitesWindow::cmdImportSites_Click()
{
    auto* dialog = new QFileDialog(this, QStringLiteral("Import Sites"), QString(),
                                   QStringLiteral("Text files (*.txt);;All files (*)"));
    dialog->setObjectName(QStringLiteral("dlgImportSites"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    connect(dialog, &QFileDialog::fileSelected, this, &SitesWindow::importFile);
    dialog->open();
}

void SitesWindow::importFile(const QString& path)
{
    QFile file(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (file.size() > kMaxListBytes) {
        showError(QStringLiteral("%1 is too large to be a list of web addresses.").arg(shown));
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        showError(QStringLiteral("%1 could not be read: %2").arg(shown, file.errorString()));
        return;
    }
    const QByteArray content = file.read(kMaxListBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        showError(QStringLiteral("%1 could not be read: %2").arg(shown, file.errorString()));
        return;
    }
    const std::optional<std::vector<store::SiteSettings>> all = loadSites();
    if (!all)
        return;
    const QStringList saved = savedAddresses(*all);
    const core::SiteImport list = core::parseSiteList(content, saved);
    const std::vector<int> numbers = store::unusedSites(*all, list.addresses.size());

    store::SiteSettings fields = m_fields();
    fields.mainSiteString.clear();
    std::vector<std::pair<int, store::SiteSettings>> added;
    added.reserve(numbers.size());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        store::SiteSettings settings = fields;
        settings.webAddress = list.addresses[qsizetype(i)];
        added.emplace_back(numbers[i], std::move(settings));
    }
    QString error;
    if (!store::SiteSettingsFile(m_programFolder).saveMany(added, &error)) {
        showError(error);
        return;
    }
    reload();

    QString text = added.size() == 1 ? QStringLiteral("1 site was imported from %1.").arg(shown)
                                     : QStringLiteral("%1 sites were imported from %2.").arg(added.size()).arg(shown);
    if (const qsizetype unnumbered = list.addresses.size() - qsizetype(added.size()); unnumbered > 0) {
        text += QStringLiteral("\n\n%1 more addresses were not imported: every site number up to %2 is taken.")
                    .arg(unnumbered)
                    .arg(store::kMaxSites);
    }
    if (!list.refused.isEmpty()) {
        text += QStringLiteral("\n\nThese lines were not imported:");
        for (qsizetype i = 0; i < std::min<qsizetype>(list.refused.size(), kRefusedShown); ++i) {
            const core::SiteImportLine& line = list.refused[i];
            text += QStringLiteral("\nLine %1: %2 (%3)").arg(line.lineNumber).arg(line.text, line.reason);
        }
        if (list.refused.size() > kRefusedShown)
            text += QStringLiteral("\n... and %1 more lines.").arg(list.refused.size() - kRefusedShown);
    }
    m_services.messages.show(text, QStringLiteral("Import Sites"),
                             list.refused.isEmpty() ? platform::MessageIcon::Information
                                                    : platform::MessageIcon::Exclamation);
}

void SitesWindow::cmdRemoveSite_Click()
{
    const std::vector<int> sites = selectedSites();
    if (sites.empty())
        return;
    QStringList watched;
    for (const int site : sites) {
        if (const int row = m_sites.rowOf(site); row >= 0 && m_sites.isWatchedAt(row))
            watched.append(siteName(site, m_sites.addressAt(row)));
    }
    // A run keeps its site's logs and e-mails open: the site goes only when no run watches it.
    if (!watched.isEmpty()) {
        showError(QStringLiteral("These sites are being watched: %1. Stop watching them before removing them.")
                      .arg(watched.join(QStringLiteral(", "))));
        return;
    }
    const int first = m_sites.rowOf(sites.front());
    const QString question =
        sites.size() == 1
            ? QStringLiteral("Remove %1? Its settings are deleted; its logs are kept.")
                  .arg(siteName(sites.front(), first >= 0 ? m_sites.addressAt(first) : QString()))
            : QStringLiteral("Remove the %1 selected sites? Their settings are deleted; their logs are kept.")
                  .arg(sites.size());
    if (!m_services.messages.ask(question, QStringLiteral("Remove Sites"), platform::MessageIcon::Exclamation))
        return;
    removeSites(sites);
    reload();
}

void SitesWindow::removeSites(const std::vector<int>& sites)
{
    QString error;
    // A number taken again later starts with the default alert settings. Only the sites that have their own are
    // rewritten in data/alerts.ini.
    const store::AlertSettingsFile alertsFile(m_programFolder);
    QByteArray alertsText;
    if (store::readSettingsText(alertsFile.path(), alertsText)) {
        const store::AlertSettingsBySite alerts = store::AlertSettingsFile::parse(alertsText);
        for (const int site : sites) {
            if (alerts.contains(site) && !alertsFile.remove(site, &error)) {
                showError(error);
                return;
            }
        }
    }
    // Many sites are cleared in one replacement of data/init.dat; removing the highest then cuts the unused end.
    const store::SiteSettingsFile file(m_programFolder);
    if (sites.size() > 1) {
        std::vector<std::pair<int, store::SiteSettings>> cleared;
        cleared.reserve(sites.size());
        for (const int site : sites)
            cleared.emplace_back(site, store::SiteSettings{});
        if (!file.saveMany(cleared, &error)) {
            showError(error);
            return;
        }
    }
    if (!file.remove(sites.back(), &error))
        showError(error);
}

void SitesWindow::cmdOpenSite_Click()
{
    // The row with the focus when it is selected, otherwise the first selected.
    const QModelIndex current = tblSites->currentIndex();
    if (current.isValid() && tblSites->selectionModel()->isRowSelected(current.row()))
        emit openRequested(m_view->siteAt(current.row()));
    else if (const std::vector<int> sites = selectedSites(); !sites.empty())
        emit openRequested(sites.front());
}

void SitesWindow::updateButtons()
{
    const bool selected = tblSites->selectionModel()->hasSelection();
    cmdRemoveSite->setEnabled(selected);
    cmdOpenSite->setEnabled(selected);
    cmdWatchAll->setEnabled(m_view->rowCount() > 0);
}

void SitesWindow::showSummary()
{
    const SiteListModel::Counts counts = m_sites.counts();
    QString text = QStringLiteral("%1 sites, %2 watched, %3 up, %4 down")
                       .arg(counts.sites)
                       .arg(counts.watched)
                       .arg(counts.up)
                       .arg(counts.down);
    if (m_offline)
        text += QStringLiteral(". Failed to connect to internet!");
    if (!m_sites.latestMessage().isEmpty())
        text += QStringLiteral(". ") + m_sites.latestMessage();
    lblSitesStatus->setText(text);
}

} // namespace sondrel::app
