#pragma once

#include "platform/MessageBoxes.h"
#include "store/AlertSettings.h"

#include <QDialog>

#include <functional>
#include <optional>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace sondrel::app {

// frmAlerts, "Alert Settings": how the open site slot alerts. OK checks every value, telling the user of the first
// one out of its range and keeping the window open with that field focused; with all values good it hands them
// to apply and closes when apply agrees. Cancel closes without a change.
class AlertsWindow final : public QDialog {
    Q_OBJECT
public:
    using Apply = std::function<bool(const store::AlertSettings&)>;

    AlertsWindow(platform::MessageBoxes& messages, const store::AlertSettings& settings, Apply apply,
                 QWidget* parent = nullptr);

private:
    void cmdAlertsOk_Click();
    // The field's whole number when it lies in min..max; otherwise tells the user and focuses the field.
    std::optional<int> checked(QLineEdit* field, const QString& caption, int min, int max);

    platform::MessageBoxes& m_messages;
    Apply m_apply;
    QLineEdit* txtFailures = nullptr;   // "Failures before alert"
    QCheckBox* chkRecovery = nullptr;   // "Send recovery notice"
    QLineEdit* txtRecoveries = nullptr; // "Successes before recovery"
    QLineEdit* txtReminder = nullptr;   // "Remind every (minutes)"
    QLineEdit* txtSlowMs = nullptr;     // "Warn when a check takes longer than (ms)"
    QLineEdit* txtCertDays = nullptr;   // "Warn days before the certificate expires"
    QPushButton* cmdAlertsOk = nullptr;
    QPushButton* cmdAlertsCancel = nullptr;
};

} // namespace sondrel::app
