#include "store/AlertSettingsFile.h"

#include "platform/WholeFile.h"
#include "store/Paths.h"
#include "store/SettingsText.h"
#include "store/SiteSettings.h"

#include <QList>

#include <optional>

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

// The site number of a "[SiteN]" line as this file writes it, or 0.
int groupSite(const QByteArray& line)
{
    if (!line.startsWith("[Site") || !line.endsWith(']'))
        return 0;
    const QByteArray digits = line.sliced(5, line.size() - 6);
    bool ok = false;
    const int site = digits.toInt(&ok);
    return ok && site >= 1 && site <= kMaxSites && QByteArray::number(site) == digits ? site : 0;
}

bool validSite(int site)
{
    return site >= 1 && site <= kMaxSites;
}

} // namespace

AlertSettingsFile::AlertSettingsFile(const QString& programFolder)
    : m_path(dataFile(programFolder, QStringLiteral("alerts.ini")))
{
}

AlertSettingsBySite AlertSettingsFile::parse(const QByteArray& text)
{
    AlertSettingsBySite sites;
    const AlertSettings defaults;
    AlertSettings* slot = nullptr;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            const int site = groupSite(line);
            slot = site > 0 ? &sites[site] : nullptr;
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

QByteArray AlertSettingsFile::compose(const AlertSettingsBySite& sites)
{
    const AlertSettings defaults;
    QByteArray text;
    const auto group = [&text](int site, const AlertSettings& settings) {
        if (!text.isEmpty())
            text += '\n';
        text += "[Site" + QByteArray::number(site) + "]\n";
        text += "FailuresBeforeAlert=" + QByteArray::number(settings.failuresBeforeAlert) + '\n';
        text += QByteArray("SendRecoveryNotice=") + (settings.sendRecoveryNotice ? "true" : "false") + '\n';
        text += "SuccessesBeforeRecovery=" + QByteArray::number(settings.successesBeforeRecovery) + '\n';
        text += "RemindMinutes=" + QByteArray::number(settings.remindMinutes) + '\n';
        text += "SlowMs=" + QByteArray::number(settings.slowMs) + '\n';
        text += "CertificateDays=" + QByteArray::number(settings.certificateDays) + '\n';
    };
    // The Site menu's three always stand first, as they always have.
    for (int site = 1; site <= kSiteSlots; ++site) {
        const auto found = sites.find(site);
        group(site, found != sites.end() ? found->second : defaults);
    }
    for (auto it = sites.upper_bound(kSiteSlots); it != sites.end() && it->first <= kMaxSites; ++it) {
        if (it->second != defaults)
            group(it->first, it->second);
    }
    return text;
}

AlertSettings AlertSettingsFile::load(int site) const
{
    QByteArray text;
    if (!validSite(site) || !readSettingsText(m_path, text))
        return {};
    const AlertSettingsBySite sites = parse(text);
    const auto found = sites.find(site);
    return found != sites.end() ? found->second : AlertSettings{};
}

bool AlertSettingsFile::save(int site, const AlertSettings& settings, QString* error) const
{
    return change(site, settings, error);
}

bool AlertSettingsFile::remove(int site, QString* error) const
{
    return change(site, std::nullopt, error);
}

bool AlertSettingsFile::change(int site, const std::optional<AlertSettings>& settings, QString* error) const
{
    if (!validSite(site)) {
        if (error)
            *error = QStringLiteral("There is no site %1.").arg(site);
        return false;
    }
    QByteArray text;
    // The other sites are kept: a file that exists but cannot be read is not written over.
    QString reason;
    if (readSettingsText(m_path, text, &reason)) {
        AlertSettingsBySite sites = parse(text);
        if (settings)
            sites[site] = *settings;
        else if (sites.erase(site) == 0)
            return true; // a site without a group already has the defaults
        if (platform::replaceWholeFile(m_path, compose(sites), &reason))
            return true;
    }
    if (error)
        *error = m_path + QStringLiteral(": ") + reason;
    return false;
}

} // namespace sondrel::store
