#include "app/AlertsWindow.h"

#include "store/AlertSettingsFile.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace sondrel::app {

namespace {

const QString kFailures = QStringLiteral("Failures before alert");
const QString kRecovery = QStringLiteral("Send recovery notice");
const QString kRecoveries = QStringLiteral("Successes before recovery");
const QString kReminder = QStringLiteral("Remind every (minutes)");
const QString kSlowMs = QStringLiteral("Warn when a check takes longer than (ms)");
const QString kCertDays = QStringLiteral("Warn days before the certificate expires");

QLineEdit* numberField(QWidget* parent, const char* name, int value)
{
    auto* field = new QLineEdit(QString::number(value), parent);
    field->setObjectName(QLatin1String(name));
    field->setMaxLength(12);
    return field;
}

} // namespace

AlertsWindow::AlertsWindow(platform::MessageBoxes& messages, const store::AlertSettings& settings, Apply apply,
                           QWidget* parent)
    : QDialog(parent)
    , m_messages(messages)
    , m_apply(std::move(apply))
{
    setObjectName(QStringLiteral("frmAlerts"));
    setWindowTitle(tr("Alert Settings"));
    setModal(true);

    txtFailures = numberField(this, "txtFailures", settings.failuresBeforeAlert);
    chkRecovery = new QCheckBox(kRecovery, this);
    chkRecovery->setObjectName(QStringLiteral("chkRecovery"));
    chkRecovery->setChecked(settings.sendRecoveryNotice);
    txtRecoveries = numberField(this, "txtRecoveries", settings.successesBeforeRecovery);
    txtReminder = numberField(this, "txtReminder", settings.remindMinutes);
    txtSlowMs = numberField(this, "txtSlowMs", settings.slowMs);
    txtCertDays = numberField(this, "txtCertDays", settings.certificateDays);

    auto* form = new QFormLayout;
    form->addRow(kFailures, txtFailures);
    form->addRow(QString(), chkRecovery);
    form->addRow(kRecoveries, txtRecoveries);
    form->addRow(kReminder, txtReminder);
    form->addRow(kSlowMs, txtSlowMs);
    form->addRow(kCertDays, txtCertDays);

    auto* buttons = new QDialogButtonBox(this);
    cmdAlertsOk = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
    cmdAlertsOk->setObjectName(QStringLiteral("cmdAlertsOk"));
    cmdAlertsOk->setDefault(true);
    cmdAlertsCancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    cmdAlertsCancel->setObjectName(QStringLiteral("cmdAlertsCancel"));
    connect(cmdAlertsOk, &QPushButton::clicked, this, &AlertsWindow::cmdAlertsOk_Click);
    connect(cmdAlertsCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

std::optional<int> AlertsWindow::checked(QLineEdit* field, const QString& caption, int min, int max)
{
    bool ok = false;
    const int value = field->text().trimmed().toInt(&ok);
    if (ok && value >= min && value <= max)
        return value;
    m_messages.show(QStringLiteral("\"%1\" must be a whole number from %2 to %3.").arg(caption).arg(min).arg(max),
                    platform::applicationTitle(), platform::MessageIcon::Exclamation);
    field->setFocus();
    field->selectAll();
    return std::nullopt;
}

void AlertsWindow::cmdAlertsOk_Click()
{
    store::AlertSettings settings;
    const struct {
        QLineEdit* field;
        const QString& caption;
        store::AlertLimit limit;
        int* value;
    } numbers[] = {
        {txtFailures, kFailures, store::kFailuresLimit, &settings.failuresBeforeAlert},
        {txtRecoveries, kRecoveries, store::kSuccessesLimit, &settings.successesBeforeRecovery},
        {txtReminder, kReminder, store::kRemindLimit, &settings.remindMinutes},
        {txtSlowMs, kSlowMs, store::kSlowLimit, &settings.slowMs},
        {txtCertDays, kCertDays, store::kCertificateDaysLimit, &settings.certificateDays},
    };
    for (const auto& number : numbers) {
        const std::optional<int> value = checked(number.field, number.caption, number.limit.min, number.limit.max);
        if (!value)
            return;
        *number.value = *value;
    }
    settings.sendRecoveryNotice = chkRecovery->isChecked();
    if (m_apply && !m_apply(settings))
        return;
    accept();
}

} // namespace sondrel::app
