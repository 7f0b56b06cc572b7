#include "app/MainWindow.h"

#include "app/AlertsWindow.h"
#include "app/ChartWindow.h"
#include "app/DesktopNotifications.h"
#include "app/FormGeometry.h"
#include "app/SendMailWindow.h"
#include "app/SiteListModel.h"
#include "app/SitesWindow.h"
#include "app/StatusFaces.h"
#include "app/TrayIcon.h"
#include "app/Version.h"
#include "core/AlertMailer.h"
#include "core/DeliveryRetry.h"
#include "core/Monitor.h"
#include "core/NotificationQueue.h"
#include "platform/NumberText.h"
#include "probe/ResultLine.h"
#include "store/AlertSettingsFile.h"
#include "store/FixedText.h"
#include "store/HelpCommand.h"
#include "store/Paths.h"
#include "store/SiteSettings.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>

namespace sondrel::app {

namespace {

QLineEdit* field(QWidget* parent, const char* name, QRect geometry, bool readOnly = false)
{
    auto* edit = place(new QLineEdit(parent), name, geometry);
    edit->setReadOnly(readOnly);
    return edit;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, QRect geometry)
{
    return place(new QLabel(caption, parent), name, geometry);
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, QRect geometry)
{
    return place(new QPushButton(caption, parent), name, geometry);
}

QRadioButton* option(QWidget* parent, const char* name, const QString& caption, QRect geometry)
{
    return place(new QRadioButton(caption, parent), name, geometry);
}

QGroupBox* frame(QWidget* parent, const char* name, const QString& caption, QRect geometry)
{
    return place(new QGroupBox(caption, parent), name, geometry);
}

} // namespace

MainWindow::MainWindow(platform::Services services, const QString& executableDir, QWidget* parent)
    : QMainWindow(parent)
    , m_services(services)
    , m_programFolder(store::programFolderFor(executableDir))
    , m_hub(std::make_unique<core::MonitorHub>(services, m_programFolder))
    , m_ownRun(&m_hub->addRun())
    , m_monitor(m_ownRun)
    , m_sites(std::make_unique<SiteListModel>(*m_hub, *m_ownRun, services.clock))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Sondrel " SONDREL_VERSION));
    m_refresh.setSingleShot(true);
    connect(&m_refresh, &QTimer::timeout, this, &MainWindow::showPending);
    buildControls();
    buildMenus();
    buildSnoozeLabel();
    connectMonitor();
    buildOutboxLabel();
    setUpDesktop();
    Form_Load();
}

MainWindow::~MainWindow()
{
    delete m_emailWindow;
    delete m_chartWindow;
    delete m_sitesWindow;
    // The run and its pending operations go before the controls they report to.
    m_monitor->disconnect(this);
    m_sites.reset();
    m_hub.reset();
}

void MainWindow::buildControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(548, 431);
    // The layout was designed for a small dialog font; captions get the room their text needs.
    QFont designFont = client->font();
    designFont.setPixelSize(10);
    client->setFont(designFont);
    setCentralWidget(client);

    label(client, "Label1", tr("Web Address To Check"), twips(120, 180, 1815, 255));
    Text1 = field(client, "Text1", twips(2040, 120, 3615, 375));
    label(client, "Label3", tr("Site IP Address"), twips(120, 660, 1095, 255));
    Text2 = field(client, "Text2", twips(1320, 600, 1335, 375), true);
    label(client, "Label4", tr("Packet String"), twips(2760, 660, 975, 255));
    Text3 = field(client, "Text3", twips(3840, 600, 1815, 375));
    Text3->setText(store::defaultPacketString());
    label(client, "Label2", tr("Interval Seconds"), twips(120, 1200, 1215, 255));
    Text5 = field(client, "Text5", twips(1440, 1140, 855, 375));
    Text5->setMaxLength(5);
    Text5->setText(QString::number(store::kDefaultIntervalSeconds));
    label(client, "Label5", tr("No of Pings"), twips(2760, 1200, 855, 255));
    Text6 = field(client, "Text6", twips(3840, 1140, 1815, 375), true);
    label(client, "Label6", tr("Bytes Used"), twips(120, 1740, 975, 255));
    Text4[3] = field(client, "Text4_3", twips(1440, 1680, 855, 375), true);
    label(client, "Label7", tr("Packet Returned"), twips(2520, 1740, 1215, 255));
    Text4[4] = field(client, "Text4_4", twips(3840, 1680, 1815, 375), true);
    label(client, "Label8", tr("Main Site String"), twips(120, 2220, 1215, 255));
    Text7 = field(client, "Text7", twips(1440, 2160, 4215, 375));
    Text4[0] = field(client, "Text4_0", twips(360, 5880, 150, 375), true);
    Text4[1] = field(client, "Text4_1", twips(120, 5880, 150, 375), true);
    Text4[2] = field(client, "Text4_2", twips(600, 5880, 150, 375), true);
    Text4[0]->setText(QStringLiteral("Text4"));
    Text4[2]->setText(QStringLiteral("Text4"));
    for (int i = 0; i < 3; ++i)
        Text4[i]->hide();

    List1 = place(new QListView(client), "List1", twips(120, 2640, 5535, 2985));
    List1->setModel(&m_results);
    List1->setUniformItemSizes(true);
    List1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List1->setSelectionMode(QAbstractItemView::ExtendedSelection);

    Command1 = button(client, "Command1", tr("Start"), twips(960, 5880, 855, 375));
    Command4 = button(client, "Command4", tr("Stop"), twips(1920, 5880, 855, 375));
    Command6 = button(client, "Command6", tr("Clear List"), twips(2880, 5880, 855, 375));
    Command5 = button(client, "Command5", tr("Exit"), twips(3840, 5880, 855, 375));
    m_commands = new QActionGroup(this);
    m_commands->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    actStart = addCommand(Command1, "actStart", &MainWindow::Command1_Click);
    actStop = addCommand(Command4, "actStop", &MainWindow::Command4_Click);
    actClearList = addCommand(Command6, "actClearList", &MainWindow::Command6_Click);
    actExit = addCommand(Command5, "actExit", &MainWindow::Command5_Click);

    Frame1 = frame(client, "Frame1", tr("Connection Type"), twips(5880, 0, 2295, 1935));
    Option1 = option(Frame1, "Option1", tr("Always On"), twips(120, 360, 1095, 255));
    Option2 = option(Frame1, "Option2", tr("Modem"), twips(1320, 360, 855, 255));
    Option2->setChecked(true);
    Frame2 = frame(Frame1, "Frame2", tr("Modem Connection"), twips(120, 840, 2055, 855));
    Check2 = place(new QCheckBox(tr("Auto Disconnect"), Frame2), "Check2", twips(120, 360, 1695, 255));
    Check2->setChecked(true);

    Frame3 = frame(client, "Frame3", tr("Email Notification"), twips(5880, 2040, 2295, 2295));
    Option3 = option(Frame3, "Option3", tr("Yes"), twips(360, 360, 615, 255));
    Option4 = option(Frame3, "Option4", tr("No"), twips(1200, 360, 615, 255));
    Option4->setChecked(true);
    Frame4 = frame(Frame3, "Frame4", tr("Email Setup"), twips(120, 840, 2055, 1215));
    Command2 = button(Frame4, "Command2", tr("Email"), twips(240, 480, 1455, 375));

    Frame6 = frame(client, "Frame6", tr("Check Site Main Page"), twips(5880, 4440, 2295, 855));
    Option5 = option(Frame6, "Option5", tr("Yes"), twips(360, 360, 615, 255));
    Option6 = option(Frame6, "Option6", tr("No"), twips(1080, 360, 615, 255));

    Frame5 = frame(client, "Frame5", tr("Current Status"), twips(5880, 5400, 2295, 975));
    Image1 = place(new QLabel(Frame5), "Image1", twips(960, 360, 480, 480));
    Image2 = place(new QLabel(Frame5), "Image2", twips(960, 360, 480, 480));
    Image3 = place(new QLabel(Frame5), "Image3", twips(960, 360, 480, 480));
    Image1->setPixmap(drawFace(Face::Smiling));
    Image2->setPixmap(drawFace(Face::Straight));
    Image3->setPixmap(drawFace(Face::Sad));

    // Start is first in the tab order, as on the original form.
    setTabOrder(Command1, Command4);
    setTabOrder(Command4, Command6);
    setTabOrder(Command6, Command5);
    setTabOrder(Command5, Text1);
    setTabOrder(Text1, Text3);
    setTabOrder(Text3, Text5);
    setTabOrder(Text5, Text7);
    Command1->setFocus();

    connect(Option1, &QRadioButton::clicked, this, &MainWindow::Option1_Click);
    connect(Option2, &QRadioButton::clicked, this, &MainWindow::Option2_Click);
    connect(Command2, &QPushButton::clicked, this, &MainWindow::Command2_Click);
    // Edits reach a run under way from its next step on; a wait under way follows a new interval at once.
    auto settingsEdited = [this] { m_monitor->setSettings(currentSettings()); };
    for (QLineEdit* edit : {Text1, Text3, Text5, Text7})
        connect(edit, &QLineEdit::textChanged, this, settingsEdited);
    for (QAbstractButton* choice : std::initializer_list<QAbstractButton*>{Option1, Check2, Option3, Option5})
        connect(choice, &QAbstractButton::toggled, this, settingsEdited);

    for (QWidget* caption : client->findChildren<QWidget*>()) {
        if (qobject_cast<QLabel*>(caption) && caption->objectName().startsWith(QLatin1String("Label")))
            caption->resize(std::max(caption->width(), caption->sizeHint().width()), caption->height());
        else if (qobject_cast<QRadioButton*>(caption) || qobject_cast<QCheckBox*>(caption))
            caption->resize(std::max(caption->width(), caption->sizeHint().width()), caption->height());
    }

    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

QAction* MainWindow::addCommand(QPushButton* button, const char* name, void (MainWindow::*handler)())
{
    auto* action = new QAction(button->text(), this);
    action->setObjectName(QLatin1String(name));
    m_commands->addAction(action);
    connect(button, &QPushButton::clicked, action, &QAction::trigger);
    connect(action, &QAction::enabledChanged, button, &QPushButton::setEnabled);
    // A disabled action ignores triggers, so a menu opened before the command was disabled cannot run it.
    connect(action, &QAction::triggered, this, handler);
    return action;
}

void MainWindow::buildMenus()
{
    mnuSite = menuBar()->addMenu(tr("Site"));
    mnuSite->setObjectName(QStringLiteral("mnuSite"));
    mnusave = mnuSite->addAction(tr("Save Site Settings"));
    mnusave->setObjectName(QStringLiteral("mnusave"));
    mnuopen = mnuSite->addMenu(tr("Open Site"));
    mnuopen->setObjectName(QStringLiteral("mnuopen"));
    QAction** items[] = {&mnu1, &mnu2, &mnu3};
    for (int i = 0; i < 3; ++i) {
        QAction* item = mnuopen->addAction(QString::number(i + 1));
        item->setObjectName(QStringLiteral("mnu%1").arg(i + 1));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, i] { mnu_Click(i + 1); });
        *items[i] = item;
    }
    mnu1->setChecked(true);
    mnuAlerts = addMenuItem(mnuSite, tr("Alert Settings"), "mnuAlerts", &MainWindow::mnuAlerts_Click);
    mnuSite->addSeparator();
    mnuSite->addActions({actStart, actStop, actClearList, actExit});

    mnuView = menuBar()->addMenu(tr("View"));
    mnuView->setObjectName(QStringLiteral("mnuView"));
    mnuSites = addMenuItem(mnuView, tr("Sites"), "mnuSites", &MainWindow::mnuSites_Click);
    mnuChart = addMenuItem(mnuView, tr("Latency Chart"), "mnuChart", &MainWindow::mnuChart_Click);
    mnuNotify = addMenuItem(mnuView, tr("Desktop Notifications"), "mnuNotify", &MainWindow::mnuNotify_Click);
    mnuNotify->setCheckable(true);
    mnuSnooze = mnuView->addMenu(tr("Snooze Alerts"));
    mnuSnooze->setObjectName(QStringLiteral("mnuSnooze"));
    mnuSnooze1 = addMenuItem(mnuSnooze, tr("1 hour"), "mnuSnooze1", &MainWindow::mnuSnooze1_Click);
    mnuSnooze4 = addMenuItem(mnuSnooze, tr("4 hours"), "mnuSnooze4", &MainWindow::mnuSnooze4_Click);
    mnuSnoozeMorning =
        addMenuItem(mnuSnooze, tr("Until tomorrow 08:00"), "mnuSnoozeMorning", &MainWindow::mnuSnoozeMorning_Click);
    mnuResume = addMenuItem(mnuSnooze, tr("Resume"), "mnuResume", &MainWindow::mnuResume_Click);

    mnuHelp = menuBar()->addAction(tr("Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    connect(mnusave, &QAction::triggered, this, &MainWindow::mnusave_Click);
    connect(mnuHelp, &QAction::triggered, this, &MainWindow::mnuHelp_Click);
}

QAction* MainWindow::addMenuItem(QMenu* menu, const QString& caption, const char* name, void (MainWindow::*handler)())
{
    QAction* item = menu->addAction(caption);
    item->setObjectName(QLatin1String(name));
    connect(item, &QAction::triggered, this, handler);
    return item;
}

void MainWindow::attach(core::Monitor& run)
{
    if (&run == m_monitor)
        return;
    showPending();
    m_monitor->disconnect(this);
    m_monitor = &run;
    connectMonitor();
    const bool running = run.isRunning();
    if (running) {
        // What the fields show of a check belongs to the run they now show.
        Text2->clear();
        Text4[3]->clear();
        Text4[4]->clear();
        Text6->setText(run.state().CheckNumberText);
        showStatus(run.status());
    }
    setRunButtonsEnabled(!running);
    actStop->setEnabled(true);
    showSnooze(run.snoozedUntil());
    // An open chart follows the run the window shows.
    if (m_chartWindow) {
        const bool shown = m_chartWindow->isVisible();
        delete m_chartWindow;
        if (shown)
            mnuChart_Click();
    }
}

void MainWindow::setOwnRunSite(int site)
{
    m_ownRunSite = site;
    m_hub->setSite(*m_ownRun, site);
    m_sites->setWindowRunSite(site);
}

void MainWindow::connectMonitor()
{
    core::Monitor* monitor = m_monitor;
    connect(monitor, &core::Monitor::runStarted, this, [this] { setRunButtonsEnabled(false); });
    connect(monitor, &core::Monitor::checkStarted, this, [this](const QString& checkNumber) {
        actStop->setEnabled(true);
        m_pending.checkNumber = checkNumber;
        showSoon();
    });
    connect(monitor, &core::Monitor::siteAddressResolved, this, [this](const QString& address) {
        m_pending.siteAddress = address;
        showSoon();
    });
    connect(monitor, &core::Monitor::echoReported, this, [this](const core::EchoReport& report) {
        // "Packet Returned" keeps its text when a reply brings none.
        std::optional<QString> packet = report.packetReturned;
        if (!packet && m_pending.echo)
            packet = m_pending.echo->packetReturned;
        m_pending.echo = report;
        m_pending.echo->packetReturned = packet;
        showSoon();
    });
    connect(monitor, &core::Monitor::statusChanged, this, [this](core::SiteStatus status) {
        m_pending.status = status;
        showSoon();
    });
    connect(monitor, &core::Monitor::statusTextChanged, this, [this](const QString& text) {
        m_pending.statusText = text;
        showSoon();
    });
    connect(monitor, &core::Monitor::resultLineAdded, this, [this](const QString& line) {
        m_pending.lines.append(line);
        showSoon();
    });
    connect(monitor, &core::Monitor::snoozeChanged, this, &MainWindow::showSnooze);
    if (monitor != m_ownRun) {
        // A background run goes on by itself: its messages are told in the status bar, and when it ends the window
        // shows its own run again.
        connect(monitor, &core::Monitor::messageRaised, this,
                [this](const QString& text) { statusBar()->showMessage(text); });
        connect(monitor, &core::Monitor::runFinished, this, [this] {
            showPending();
            attach(*m_ownRun);
        });
        return;
    }
    connect(monitor, &core::Monitor::messageRaised, this,
            [this](const QString& text, const QString& title, platform::MessageIcon icon) {
                // The window shows the state the message speaks of before the message waits for the user.
                showPending();
                m_services.messages.show(text, title, icon);
                m_monitor->answerMessage();
            });
    connect(monitor, &core::Monitor::runFinished, this, [this] {
        showPending();
        setOwnRunSite(0);
        setRunButtonsEnabled(true);
    });
}

// The list view lays out all its rows again each time lines are added, so the longer the list, the less
// often it is given new lines: a screen refresh apart while short, up to a quarter of a second apart past
// 250,000 lines. That keeps the view's share of the work the same however long a run goes, and lines still
// appear faster than anyone reads them.
void MainWindow::showSoon()
{
    if (m_refresh.isActive())
        return;
    m_refresh.start(std::clamp(m_results.rowCount() / 1000, 16, 250));
}

void MainWindow::showPending()
{
    m_refresh.stop();
    PendingView pending = std::exchange(m_pending, {});
    if (pending.checkNumber)
        Text6->setText(*pending.checkNumber);
    if (pending.siteAddress)
        Text2->setText(*pending.siteAddress);
    if (pending.echo)
        showEcho(*pending.echo);
    if (pending.statusText)
        setStatusTooltip(*pending.statusText);
    if (pending.status)
        showStatus(*pending.status);
    addResultLines(pending.lines);
}

void MainWindow::Form_Load()
{
    Image2->hide();
    Image3->hide();
    getsitesettings(1);
}

core::MonitorSettings MainWindow::currentSettings() const
{
    core::MonitorSettings settings;
    settings.webAddress = Text1->text();
    settings.packetString = Text3->text();
    settings.intervalSeconds = platform::leadingNumber(Text5->text());
    settings.mainSiteString = Text7->text();
    settings.alwaysOn = Option1->isChecked();
    settings.autoDisconnect = Check2->isChecked();
    settings.checkMainPage = Option5->isChecked();
    settings.emailNotification = Option3->isChecked();
    settings.alerts = m_alerts;
    return settings;
}

void MainWindow::setRunButtonsEnabled(bool enabled)
{
    for (QAction* command : {actStart, actClearList, actExit, actStop})
        command->setEnabled(enabled);
    Command2->setEnabled(enabled);
}

void MainWindow::addResultLines(const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    QScrollBar* bar = List1->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_results.append(lines);
    if (atEnd)
        List1->scrollToBottom();
}

void MainWindow::showStatus(core::SiteStatus status)
{
    switch (status) {
    case core::SiteStatus::Working:
        showImage(Image1);
        break;
    case core::SiteStatus::NoConnection:
        showImage(Image2);
        break;
    case core::SiteStatus::NotAnswering:
        showImage(Image3);
        break;
    }
}

void MainWindow::showEcho(const core::EchoReport& report)
{
    Text4[0]->setText(report.statusText);
    Text4[2]->setText(report.tripTimeText);
    Text4[3]->setText(report.bytesUsed);
    if (report.packetReturned)
        Text4[4]->setText(*report.packetReturned);
}

void MainWindow::showImage(QLabel* image)
{
    for (QLabel* each : {Image1, Image2, Image3}) {
        if (each != image)
            each->hide();
    }
    image->show();
}

void MainWindow::setStatusTooltip(const QString& status)
{
    for (QLabel* each : {Image1, Image2, Image3})
        each->setToolTip(status);
}

void MainWindow::Option1_Click()
{
    Check2->setChecked(false);
    Frame2->setEnabled(false);
}

void MainWindow::Option2_Click()
{
    Frame2->setEnabled(true);
    Check2->setChecked(true);
}

void MainWindow::Command1_Click()
{
    if (m_monitor->isRunning())
        return;
    // One run per site: a site watched in the background is shown, not started a second time.
    if (core::Monitor* running = m_hub->runningSite(m_site)) {
        attach(*running);
        return;
    }
    m_interactiveEmail = false;
    setOwnRunSite(m_site);
    if (!m_ownRun->start(currentSettings()))
        setOwnRunSite(0);
}

void MainWindow::Command4_Click()
{
    m_monitor->stop();
    actClearList->setEnabled(true);
    Command2->setEnabled(true);
    // Start comes back when the run has really finished, so a new run never starts inside the old one.
    if (!m_monitor->isRunning())
        actStart->setEnabled(true);
    actExit->setEnabled(true);
}

void MainWindow::Command2_Click()
{
    if (m_emailWindow)
        return;
    setEnabled(false);
    // The tray's menu has no parent window, so its commands are locked with the window explicitly.
    m_commands->setEnabled(false);
    m_interactiveEmail = true;
    auto* window = new SendMailWindow(m_services, m_programFolder);
    window->setAttribute(Qt::WA_DeleteOnClose);
    m_emailWindow = window;
    connect(window, &SendMailWindow::groupSecondsSaved, this,
            [this](int seconds) { m_hub->groups().setGroupSeconds(seconds); });
    connect(window, &SendMailWindow::closedByUser, this, [this] {
        setEnabled(true);
        m_commands->setEnabled(true);
        m_interactiveEmail = false;
    });
    window->Form_Load();
    window->show();
}

void MainWindow::Command5_Click()
{
    endProgram();
}

void MainWindow::Command6_Click()
{
    // Lines reported before the click go too.
    m_pending.lines.clear();
    m_results.clear();
}

void MainWindow::mnu_Click(int site)
{
    // The fields are about to show another site: a background run shown so far goes on by itself.
    attach(*m_ownRun);
    m_site = site;
    mnu1->setChecked(site == 1);
    mnu2->setChecked(site == 2);
    mnu3->setChecked(site == 3);
    getsitesettings(site);
    // A run under way goes on with the fields it now has, and so on their site.
    if (m_ownRun->isRunning())
        setOwnRunSite(site);
}

void MainWindow::openSite(int site)
{
    mnu_Click(site);
}

void MainWindow::mnusave_Click()
{
    savesettings(m_site);
}

void MainWindow::mnuAlerts_Click()
{
    if (m_alertsWindow && m_alertsWindow->isVisible())
        return;
    const int site = m_site;
    auto* window = new AlertsWindow(
        m_services.messages, m_alerts,
        [this, site](const store::AlertSettings& settings) {
            QString error;
            if (!store::AlertSettingsFile(m_programFolder).save(site, settings, &error)) {
                m_services.messages.show(error, platform::applicationTitle(), platform::MessageIcon::Exclamation);
                return false;
            }
            m_alerts = settings;
            m_monitor->setSettings(currentSettings());
            return true;
        },
        this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    m_alertsWindow = window;
    // Modal without an event loop of its own: OK and Cancel close it.
    window->open();
}

void MainWindow::buildSnoozeLabel()
{
    lblSnooze = new QLabel(this);
    lblSnooze->setObjectName(QStringLiteral("lblSnooze"));
    statusBar()->addPermanentWidget(lblSnooze);
    lblSnooze->hide();
}

void MainWindow::buildOutboxLabel()
{
    lblOutbox = new QLabel(this);
    lblOutbox->setObjectName(QStringLiteral("lblOutbox"));
    statusBar()->addPermanentWidget(lblOutbox);
    lblOutbox->hide();
    core::NotificationQueue* notifications = &m_hub->notifications();
    connect(notifications, &core::NotificationQueue::outboxChanged, this,
            [this](int waiting, const QString& lastError) {
                lblOutbox->setVisible(waiting > 0);
                lblOutbox->setText(waiting > 0 ? core::outboxStatusText(waiting, lastError) : QString());
                showStatusBarWhenUsed();
            });
    connect(notifications, &core::NotificationQueue::outboxNote, this,
            [this](const QString& note) { statusBar()->showMessage(note); });
    connect(statusBar(), &QStatusBar::messageChanged, this, &MainWindow::showStatusBarWhenUsed);
    showStatusBarWhenUsed();
}

// The status bar takes room below the form only while it has something to say.
void MainWindow::showStatusBarWhenUsed()
{
    statusBar()->setVisible(!lblSnooze->isHidden() || !lblOutbox->isHidden() ||
                            !statusBar()->currentMessage().isEmpty());
}

void MainWindow::showSnooze(const QDateTime& until)
{
    lblSnooze->setVisible(until.isValid());
    if (until.isValid())
        lblSnooze->setText(tr("Alerts snoozed until ") + probe::lineDate(until) + u' ' + probe::lineTime(until));
    showStatusBarWhenUsed();
}

void MainWindow::mnuChart_Click()
{
    if (!m_chartWindow) {
        m_chartWindow = new ChartWindow(m_hub->latency(*m_monitor), *m_monitor);
        m_chartWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_chartWindow->show();
    m_chartWindow->raise();
    m_chartWindow->activateWindow();
}

void MainWindow::mnuSites_Click()
{
    if (!m_sitesWindow) {
        m_sitesWindow =
            new SitesWindow(m_services, m_programFolder, *m_hub, *m_sites, [this] { return storedFields(); });
        connect(m_sitesWindow, &SitesWindow::openRequested, this, [this](int site) {
            openSite(site);
            show();
            raise();
            activateWindow();
        });
    }
    m_sitesWindow->show();
    m_sitesWindow->raise();
    m_sitesWindow->activateWindow();
}

void MainWindow::setUpDesktop()
{
    m_desktopNotifications = new DesktopNotifications(*m_ownRun, *m_hub, m_services.notifier, m_programFolder, this);
    mnuNotify->setChecked(m_desktopNotifications->isOn());
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_tray = new TrayIcon(*this, *m_ownRun, *m_sites, {actStart, actStop, actExit});
}

void MainWindow::mnuNotify_Click()
{
    QString error;
    if (!m_desktopNotifications->setOn(mnuNotify->isChecked(), &error))
        m_services.messages.show(error, platform::applicationTitle(), platform::MessageIcon::Exclamation);
}

void MainWindow::mnuSnooze1_Click()
{
    m_monitor->snoozeUntil(m_services.clock.now().addSecs(3600));
}

void MainWindow::mnuSnooze4_Click()
{
    m_monitor->snoozeUntil(m_services.clock.now().addSecs(4 * 3600));
}

void MainWindow::mnuSnoozeMorning_Click()
{
    m_monitor->snoozeUntil(core::AlertMailer::nextMorning(m_services.clock.now()));
}

void MainWindow::mnuResume_Click()
{
    m_monitor->resume();
}

void MainWindow::mnuHelp_Click()
{
    store::openHelp(m_services.shell, m_services.messages, m_programFolder);
}

store::SiteSettings MainWindow::storedFields() const
{
    store::SiteSettings settings;
    settings.webAddress = store::trimSpaces(Text1->text());
    settings.packetString = store::trimSpaces(Text3->text());
    settings.interval = store::intervalToStore(Text5->text());
    settings.mainSiteString = store::trimSpaces(Text7->text());
    settings.connectionType = store::storedBool(Option1->isChecked());
    settings.autoDisconnect = store::storedBool(Check2->isChecked());
    settings.emailNotification = store::storedBool(Option3->isChecked());
    settings.checkMainPage = store::storedBool(Option5->isChecked());
    return settings;
}

void MainWindow::savesettings(int site)
{
    QString error;
    const store::SiteSettings settings = storedFields();
    if (!store::SiteSettingsFile(m_programFolder).save(site, settings, &error)) {
        m_services.messages.show(error, platform::applicationTitle(), platform::MessageIcon::Exclamation);
        return;
    }
    m_sites->updateSite(site, settings);
}

void MainWindow::getsitesettings(int site)
{
    // The slot's alert settings live in a file of their own and come with the slot whatever init.dat holds.
    m_alerts = store::AlertSettingsFile(m_programFolder).load(site);
    m_monitor->setSettings(currentSettings());
    QString error;
    const std::optional<store::SiteSettings> loaded = store::SiteSettingsFile(m_programFolder).load(site, &error);
    if (!loaded) {
        m_services.messages.show(error, platform::applicationTitle(), platform::MessageIcon::Exclamation);
        return;
    }
    const store::SiteSettings& settings = *loaded;
    Text1->setText(settings.webAddress);
    Text3->setText(store::packetStringOrDefault(settings));
    Text5->setText(QString::number(store::intervalSecondsOrDefault(settings)));
    Text7->setText(settings.mainSiteString);
    // Selecting a connection type runs its handler, which sets the check box; the stored value then wins.
    if (store::isTrue(settings.connectionType)) {
        Option1->setChecked(true);
        Option1_Click();
    } else {
        Option2->setChecked(true);
        Option2_Click();
    }
    Check2->setChecked(store::isTrue(settings.autoDisconnect));
    (store::isTrue(settings.checkMainPage) ? Option5 : Option6)->setChecked(true);
    (store::isTrue(settings.emailNotification) ? Option3 : Option4)->setChecked(true);
}

void MainWindow::endProgram()
{
    if (m_ending)
        return;
    m_ending = true;
    for (std::size_t i = 0; i < m_hub->runCount(); ++i) {
        m_hub->run(i).abandon();
        m_hub->run(i).closeAllFiles();
    }
    delete m_emailWindow;
    QApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    endProgram();
}

} // namespace sondrel::app
