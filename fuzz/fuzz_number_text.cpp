// The readers of numbers typed into fields: the leading number, the interval as stored (rounded half away from
// zero) and the disconnect delay (rounded half to even). Where the interval's own digit reading and the leading
// number must agree, they do.
#include "FuzzInput.h"

#include "mail/EmailSettings.h"
#include "platform/NumberText.h"
#include "store/SiteSettings.h"

#include <algorithm>
#include <cmath>

namespace {

// Whether the number the text begins with has no exponent and at most 15 digits, so that a double holds it closely
// enough that its rounding cannot differ from the rounding of its decimal digits.
bool isPlainShortNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    int digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= u'0' && text[i] <= u'9')
            ++digits;
        else if (text[i] == u'.' && !point)
            point = true;
        else
            break;
    }
    return digits <= 15 && !(i < text.size() && (text[i] == u'e' || text[i] == u'E'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sondrel::fuzz::FuzzInput input(data, size);
    const QString text = input.byte() % 2 ? sondrel::fuzz::utf16Text(input.rest()) : QString::fromUtf8(input.rest());

    const double value = sondrel::platform::leadingNumber(text);
    SONDREL_FUZZ_CHECK(!std::isnan(value) && !std::isinf(value));

    const qint16 interval = sondrel::store::intervalToStore(text);
    if (isPlainShortNumber(text)) {
        const double halfAwayFromZero = std::clamp(std::round(value), -32768.0, 32767.0);
        SONDREL_FUZZ_CHECK(interval == halfAwayFromZero);
    }

    // The trimmed text's leading number held to the 16-bit range and rounded to the nearest whole number, a half to
    // the even one.
    const qint16 delay = sondrel::mail::disconnectDelayValue(text);
    const double held = std::clamp(value, -32768.0, 32767.0);
    SONDREL_FUZZ_CHECK(std::fabs(delay - held) <= 0.5);
    if (std::fabs(delay - held) == 0.5)
        SONDREL_FUZZ_CHECK(delay % 2 == 0);
    return 0;
}
