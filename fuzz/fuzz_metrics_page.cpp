// What a scraper and the command line hand the metrics endpoint: a site's web address as a label, the Accept header
// and the listening address. Every page line stays a HELP, TYPE or EOF line or one well-formed sample whatever the
// address holds, a label never keeps the login an address carries, and an accepted listening address reads back as
// itself from its own text.
#include "FuzzInput.h"

#include "metrics/MetricsPage.h"
#include "platform/MetricsServer.h"

using namespace sondrel;

namespace {

bool nameChar(char c, bool first)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || (!first && c >= '0' && c <= '9');
}

// A metric or label name from position i; false when there is none.
bool readName(const QByteArray& line, qsizetype& i)
{
    const qsizetype start = i;
    while (i < line.size() && nameChar(line[i], i == start))
        ++i;
    return i > start;
}

bool wellFormedSample(const QByteArray& line)
{
    qsizetype i = 0;
    if (!readName(line, i))
        return false;
    if (i < line.size() && line[i] == '{') {
        ++i;
        for (;;) {
            if (!readName(line, i) || i + 1 >= line.size() || line[i] != '=' || line[i + 1] != '"')
                return false;
            for (i += 2; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && (++i >= line.size() || (line[i] != '\\' && line[i] != '"' && line[i] != 'n')))
                    return false;
            }
            if (++i >= line.size())
                return false;
            if (line[i] == '}')
                break;
            if (line[i++] != ',')
                return false;
        }
        ++i;
    }
    if (i >= line.size() || line[i] != ' ')
        return false;
    const QByteArray value = line.mid(i + 1);
    return !value.isEmpty() && !value.contains(' ');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const bool open = input.byte() & 1;
    const QString address = QString::fromUtf8(input.take(input.byte()));
    const QByteArray accept = input.take(input.byte()).toByteArray();
    const QString listen = QString::fromUtf8(input.rest());

    const QString label = metrics::addressLabel(address);
    // Past "letters://" at the front, the label holds no "@" before its first "/", "?" or "#".
    qsizetype host = 0;
    while (host < label.size() && label[host].unicode() < 128 &&
           (label[host].isLetterOrNumber() || QStringView(u"+-.").contains(label[host])))
        ++host;
    host = host > 0 && label.mid(host, 3) == u"://" ? host + 3 : 0;
    qsizetype hostEnd = label.size();
    for (const QChar end : {u'/', u'?', u'#'}) {
        if (const qsizetype at = label.indexOf(end, host); at >= 0)
            hostEnd = std::min(hostEnd, at);
    }
    SONDREL_FUZZ_CHECK(!label.mid(host, hostEnd - host).contains(u'@'));

    metrics::SiteSample site;
    site.site = 1;
    site.address = address;
    site.pageToken = address.left(5);
    site.figures.checked(input.byte());
    const metrics::ProgramSample program{address, 1, 2, 3};
    const QByteArray page =
        metrics::renderPage({site}, program, open ? metrics::Format::OpenMetrics : metrics::Format::Prometheus);
    SONDREL_FUZZ_CHECK(page.endsWith('\n'));
    SONDREL_FUZZ_CHECK(page.endsWith("# EOF\n") == open);
    for (const QByteArray& line : page.chopped(1).split('\n')) {
        if (line.startsWith('#'))
            SONDREL_FUZZ_CHECK(line.startsWith("# HELP ") || line.startsWith("# TYPE ") || line == "# EOF");
        else
            SONDREL_FUZZ_CHECK(wellFormedSample(line));
    }

    if (!accept.toLower().contains("application/openmetrics-text"))
        SONDREL_FUZZ_CHECK(platform::MetricsServer::formatFor(accept) == metrics::Format::Prometheus);
    else
        (void)platform::MetricsServer::formatFor(accept);

    if (const auto at = platform::parseListenAddress(listen, nullptr)) {
        const auto again = platform::parseListenAddress(at->text(), nullptr);
        SONDREL_FUZZ_CHECK(again && again->address == at->address && again->port == at->port);
    }
    return 0;
}
