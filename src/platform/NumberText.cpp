#include "platform/NumberText.h"

#include <QByteArray>

#include <charconv>
#include <limits>

namespace sondrel::platform {

double leadingNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    QByteArray number;
    auto digitAt = [&](qsizetype at) { return at < text.size() && text[at] >= u'0' && text[at] <= u'9'; };
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        number.append(char(text[i++].unicode()));
    bool digits = false;
    while (digitAt(i)) {
        number.append(char(text[i++].unicode()));
        digits = true;
    }
    if (i < text.size() && text[i] == u'.') {
        number.append('.');
        ++i;
        while (digitAt(i)) {
            number.append(char(text[i++].unicode()));
            digits = true;
        }
    }
    if (!digits)
        return 0;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-'))
            ++j;
        if (digitAt(j)) {
            number.append('e');
            number.append(QStringView(text).sliced(i + 1, j - i - 1).toLatin1());
            while (digitAt(j))
                number.append(char(text[j++].unicode()));
        }
    }
    // Read in the C locale whatever the user's locale is; a number too large for a double saturates.
    const char* begin = number.constData();
    if (*begin == '+')
        ++begin;
    double value = 0;
    const auto [end, error] = std::from_chars(begin, number.constData() + number.size(), value);
    Q_UNUSED(end);
    if (error == std::errc::result_out_of_range) {
        const bool tiny = number.contains("e-");
        if (tiny)
            return 0;
        return number.startsWith('-') ? std::numeric_limits<double>::lowest() : std::numeric_limits<double>::max();
    }
    return value;
}

} // namespace sondrel::platform
