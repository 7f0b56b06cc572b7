#include "metrics/MetricsPage.h"

#include "core/MonitorHub.h"
#include "store/FixedText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <type_traits>

namespace sondrel::metrics {

namespace {

enum class Type { Gauge, Counter, Histogram, StateSet, Info };

// The page states a site can be in, as the result lines show them, and "off" while the page check is off.
constexpr std::array<const char*, 5> kPageStates = {"WSOK", "WSNF", "WSFL", "WSTO", "off"};

// Appends a label value with the escapes both formats use.
void appendEscaped(QByteArray& out, const QByteArray& value)
{
    for (const char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
}

class PageWriter {
public:
    PageWriter(Format format, qsizetype expectedBytes)
        : m_format(format)
    {
        m_out.reserve(expectedBytes);
    }

    // Starts a family: its HELP and TYPE lines, under the names each format gives them.
    void family(const char* name, Type type, const char* help)
    {
        m_name = name;
        const bool open = m_format == Format::OpenMetrics;
        QByteArray named = m_name;
        if (!open && type == Type::Counter)
            named += "_total";
        else if (!open && type == Type::Info)
            named += "_info";
        m_out += "# HELP " + named + ' ' + help + '\n';
        m_out += "# TYPE " + named + ' ';
        switch (type) {
        case Type::Gauge:
            m_out += "gauge";
            break;
        case Type::Counter:
            m_out += "counter";
            break;
        case Type::Histogram:
            m_out += "histogram";
            break;
        case Type::StateSet:
            m_out += open ? "stateset" : "gauge";
            break;
        case Type::Info:
            m_out += open ? "info" : "gauge";
            break;
        }
        m_out += '\n';
    }

    // One sample of the family: suffix follows the family's name ("_total", "_bucket"), labels are the sample's
    // own (already escaped, without braces), extra one more label when not empty. Whole numbers are written as
    // such, others in their shortest exact form.
    template <typename Number>
    requires std::is_arithmetic_v<Number>
    void sample(const char* suffix, const QByteArray& labels, const QByteArray& extra, Number value)
    {
        startSample(suffix, labels, extra);
        char digits[32];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        m_out.append(digits, end - digits);
        m_out += '\n';
    }

    QByteArray finish()
    {
        if (m_format == Format::OpenMetrics)
            m_out += "# EOF\n";
        return std::move(m_out);
    }

private:
    void startSample(const char* suffix, const QByteArray& labels, const QByteArray& extra)
    {
        m_out += m_name;
        m_out += suffix;
        if (!labels.isEmpty() || !extra.isEmpty()) {
            m_out += '{';
            m_out += labels;
            if (!labels.isEmpty() && !extra.isEmpty())
                m_out += ',';
            m_out += extra;
            m_out += '}';
        }
        m_out += ' ';
    }

    Format m_format;
    QByteArray m_out;
    QByteArray m_name;
};

double seconds(qint64 ms)
{
    return double(ms) / 1000.0;
}

// The trip-time buckets' le labels, from the bounds in milliseconds.
std::array<QByteArray, core::RunFigures::kTripBoundsMs.size()> bucketLabels()
{
    std::array<QByteArray, core::RunFigures::kTripBoundsMs.size()> labels;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        char digits[32];
        const auto end = std::to_chars(digits, digits + sizeof digits, seconds(core::RunFigures::kTripBoundsMs[i])).ptr;
        labels[i] = "le=\"" + QByteArray(digits, end - digits) + '"';
    }
    return labels;
}

} // namespace

// The login of an address stands before the last "@" of its host part, which follows a scheme such as "http://"
// and ends at the first "/", "?" or "#". What is left may show another login ("x@http://me:pw@host"): it goes too.
QString addressLabel(const QString& webAddress)
{
    QString address = store::trimSpaces(webAddress);
    for (;;) {
        qsizetype hostStart = 0;
        if (const qsizetype scheme = address.indexOf(QStringLiteral("://")); scheme > 0) {
            const bool named = std::all_of(address.begin(), address.begin() + scheme, [](QChar c) {
                return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'+' ||
                       c == u'-' || c == u'.';
            });
            if (named)
                hostStart = scheme + 3;
        }
        qsizetype hostEnd = address.size();
        for (const QChar end : {u'/', u'?', u'#'}) {
            if (const qsizetype at = address.indexOf(end, hostStart); at >= 0)
                hostEnd = std::min(hostEnd, at);
        }
        const qsizetype login = hostEnd > hostStart ? address.lastIndexOf(u'@', hostEnd - 1) : -1;
        if (login < hostStart)
            return address;
        address.remove(hostStart, login + 1 - hostStart);
    }
}

QByteArray renderPage(const std::vector<SiteSample>& sites, const ProgramSample& program, Format format)
{
    PageWriter page(format, qsizetype(sites.size()) * 3200 + 4096);
    const QByteArray none;

    std::vector<QByteArray> labels;
    labels.reserve(sites.size());
    for (const SiteSample& site : sites) {
        QByteArray label = "site=\"" + QByteArray::number(site.site) + "\",address=\"";
        appendEscaped(label, addressLabel(site.address).toUtf8());
        label += '"';
        labels.push_back(std::move(label));
    }
    // One pass over the sites per family, for the samples of a family stay together.
    const auto eachSite = [&](auto&& write) {
        for (std::size_t i = 0; i < sites.size(); ++i)
            write(sites[i], labels[i]);
    };

    page.family("probe_success", Type::Gauge,
                "Whether the latest check of the site got an answer to its echo (1) or not (0), a failed "
                "connection included.");
    eachSite([&](const SiteSample& site, const QByteArray& label) {
        if (site.figures.answered)
            page.sample("", label, none, quint64(*site.figures.answered ? 1 : 0));
    });
    page.family("probe_icmp_duration_seconds", Type::Gauge, "Trip time of the latest answered echo.");
    const QByteArray rtt = "phase=\"rtt\"";
    eachSite([&](const SiteSample& site, const QByteArray& label) {
        if (site.figures.tripMs)
            page.sample("", label, rtt, seconds(*site.figures.tripMs));
    });
    page.family("probe_http_duration_seconds", Type::Gauge,
                "Time from the request of the latest page check to the last byte of its page.");
    eachSite([&](const SiteSample& site, const QByteArray& label) {
        if (site.figures.pageFetchMs)
            page.sample("", label, none, seconds(*site.figures.pageFetchMs));
    });
    page.family("probe_ssl_earliest_cert_expiry", Type::Gauge,
                "Earliest expiry, in Unix time, of the certificates an https site presented at its latest page "
                "check.");
    eachSite([&](const SiteSample& site, const QByteArray& label) {
        if (site.figures.certificateExpiry.isValid())
            page.sample("", label, none, site.figures.certificateExpiry.toSecsSinceEpoch());
    });

    page.family("sondrel_checks", Type::Counter, "Checks of the site since its run started.");
    eachSite([&](const SiteSample& site, const QByteArray& label) {
        page.sample("_total", label, none, site.figures.checks);
    });
    page.family("sondrel_checks_failed", Type::Counter, "Checks of the site that got no answer to their echo.");
    eachSite([&](const SiteSample& site, const QByteArray& label) {
        page.sample("_total", label, none, site.figures.failedChecks);
    });
    page.family("sondrel_trip_time_seconds", Type::Histogram, "Trip times of the site's answered echoes.");
    static const auto bounds = bucketLabels();
    const QByteArray infinity = "le=\"+Inf\"";
    eachSite([&](const SiteSample& site, const QByteArray& label) {
        quint64 below = 0;
        for (std::size_t i = 0; i < bounds.size(); ++i) {
            below += site.figures.tripCounts[i];
            page.sample("_bucket", label, bounds[i], below);
        }
        page.sample("_bucket", label, infinity, site.figures.answeredChecks);
        page.sample("_sum", label, none, seconds(site.figures.tripTotalMs));
        page.sample("_count", label, none, site.figures.answeredChecks);
    });
    page.family("sondrel_page_state", Type::StateSet,
                "The token of the latest page check: WSOK found the text, WSNF did not, WSFL failed, WSTO timed "
                "out; off while the page check is off.");
    std::array<QByteArray, kPageStates.size()> states;
    for (std::size_t i = 0; i < states.size(); ++i)
        states[i] = QByteArray("sondrel_page_state=\"") + kPageStates[i] + '"';
    eachSite([&](const SiteSample& site, const QByteArray& label) {
        const QString token = site.pageToken.trimmed();
        for (std::size_t i = 0; i < states.size(); ++i) {
            const bool now = token.isEmpty() ? i == states.size() - 1 : token == QLatin1String(kPageStates[i]);
            page.sample("", label, states[i], quint64(now ? 1 : 0));
        }
    });
    page.family("sondrel_notified_ping_ok", Type::Gauge,
                "The ping state the notification decision last acted on: 1 answering, 0 failing.");
    eachSite([&](const SiteSample& site, const QByteArray& label) {
        page.sample("", label, none, quint64(site.notifiedPingOk ? 1 : 0));
    });
    page.family("sondrel_notified_page_ok", Type::Gauge,
                "The page state the notification decision last acted on: 1 text found, 0 not found.");
    eachSite([&](const SiteSample& site, const QByteArray& label) {
        page.sample("", label, none, quint64(site.notifiedPageOk ? 1 : 0));
    });

    page.family("sondrel_watched_sites", Type::Gauge, "Sites being watched.");
    page.sample("", none, none, quint64(sites.size()));
    page.family("sondrel_emails_sent", Type::Counter, "E-mails a mail server took, retries included.");
    page.sample("_total", none, none, program.emailsSent);
    page.family("sondrel_emails_failed", Type::Counter, "Attempts to send an e-mail that failed, retries included.");
    page.sample("_total", none, none, program.emailsFailed);
    page.family("sondrel_outbox_waiting", Type::Gauge, "E-mails waiting in the outbox to be sent again.");
    page.sample("", none, none, quint64(std::max(program.outboxWaiting, 0)));
    page.family("sondrel_build", Type::Info, "The program's version.");
    QByteArray version = "version=\"";
    appendEscaped(version, program.version.toUtf8());
    version += '"';
    page.sample("_info", version, none, quint64(1));
    return page.finish();
}

std::vector<SiteSample> sampleSites(const core::MonitorHub& hub)
{
    std::vector<SiteSample> sites;
    const auto running = hub.runningRuns();
    sites.reserve(running.size());
    for (const auto& [site, run] : running) {
        sites.push_back(SiteSample{site, run->settings().webAddress, run->figures(), run->state().PageToken,
                                   run->state().LastPingOk, run->state().LastPageOk});
    }
    return sites;
}

ProgramSample sampleProgram(core::MonitorHub& hub, const QString& version)
{
    core::NotificationQueue& queue = hub.notifications();
    return ProgramSample{version, queue.sentCount(), queue.failedCount(), queue.waitingCount()};
}

} // namespace sondrel::metrics
