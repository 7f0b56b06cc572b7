#include "store/AlertSettingsFile.h"

#include "platform/WholeFile.h"
#include "store/Paths.h"
#include "store/SettingsText.h"

#include <QList>

namespace sondrel::store {

namespace {

int wholeNumber(QByteArrayView text, const AlertLimit& limit, int fallback)
{
    bool ok = false;
    const int value = text.trimmed().toByteArray().toInt(&ok);
    return ok && limit.holds(value) ? value : fallback;
}

bool flag(QByteArrayView text, bool fallback)
{
    const QByteArray value = text.trimmed().toByteArray().toLower();
    if (value == "true" || value == "1")
        return true;
    if (value == "false" || value == "0")
        return false;
    return fallback;
}

} // namespace

AlertSettingsFile::AlertSettingsFile(const QString& programFolder)
    : m_path(dataFile(programFolder, QStringLiteral("alerts.ini")))
{
}

std::array<AlertSettings, 3> AlertSettingsFile::parse(const QByteArray& text)
{
    std::array<AlertSettings, 3> sites{};
    const AlertSettings defaults;
    AlertSettings* slot = nullptr;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            slot = nullptr;
            for (int i = 0; i < 3; ++i) {
                if (line == "[Site" + QByteArray::number(i + 1) + ']')
                    slot = &sites[i];
            }
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!slot || equals < 0)
            continue;
        const QByteArray name = line.left(equals).trimmed();
        const QByteArrayView value = QByteArrayView(line).sliced(equals + 1);
        if (name == "FailuresBeforeAlert")
            slot->failuresBeforeAlert = wholeNumber(value, kFailuresLimit, defaults.failuresBeforeAlert);
        else if (name == "SendRecoveryNotice")
            slot->sendRecoveryNotice = flag(value, defaults.sendRecoveryNotice);
        else if (name == "SuccessesBeforeRecovery")
            slot->successesBeforeRecovery = wholeNumber(value, kSuccessesLimit, defaults.successesBeforeRecovery);
        else if (name == "RemindMinutes")
            slot->remindMinutes = wholeNumber(value, kRemindLimit, defaults.remindMinutes);
        else if (name == "SlowMs")
            slot->slowMs = wholeNumber(value, kSlowLimit, defaults.slowMs);
        else if (name == "CertificateDays")
            slot->certificateDays = wholeNumber(value, kCertificateDaysLimit, defaults.certificateDays);
    }
    return sites;
}

QByteArray AlertSettingsFile::compose(const std::array<AlertSettings, 3>& sites)
{
    QByteArray text;
    for (int i = 0; i < 3; ++i) {
        const AlertSettings& slot = sites[i];
        if (i > 0)
            text += '\n';
        text += "[Site" + QByteArray::number(i + 1) + "]\n";
        text += "FailuresBeforeAlert=" + QByteArray::number(slot.failuresBeforeAlert) + '\n';
        text += QByteArray("SendRecoveryNotice=") + (slot.sendRecoveryNotice ? "true" : "false") + '\n';
        text += "SuccessesBeforeRecovery=" + QByteArray::number(slot.successesBeforeRecovery) + '\n';
        text += "RemindMinutes=" + QByteArray::number(slot.remindMinutes) + '\n';
        text += "SlowMs=" + QByteArray::number(slot.slowMs) + '\n';
        text += "CertificateDays=" + QByteArray::number(slot.certificateDays) + '\n';
    }
    return text;
}

AlertSettings AlertSettingsFile::load(int site) const
{
    QByteArray text;
    if (site < 1 || site > 3 || !readSettingsText(m_path, text))
        return {};
    return parse(text)[site - 1];
}

bool AlertSettingsFile::save(int site, const AlertSettings& settings, QString* error) const
{
    if (site < 1 || site > 3) {
        if (error)
            *error = QStringLiteral("There is no site slot %1.").arg(site);
        return false;
    }
    QByteArray text;
    // The other slots are kept: a file that exists but cannot be read is not written over.
    QString reason;
    if (readSettingsText(m_path, text, &reason)) {
        std::array<AlertSettings, 3> sites = parse(text);
        sites[site - 1] = settings;
        if (platform::replaceWholeFile(m_path, compose(sites), &reason))
            return true;
    }
    if (error)
        *error = m_path + QStringLiteral(": ") + reason;
    return false;
}

} // namespace sondrel::store
