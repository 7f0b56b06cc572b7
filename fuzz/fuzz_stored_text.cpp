// The rule every file's text follows: any text stored in a field of any width reads back as the start of that text,
// cut at a character boundary and only when it does not fit; and any bytes read from a file store back as the same
// text.
#include "FuzzInput.h"

#include "store/StoredText.h"

using namespace sondrel::store;

namespace {

// No lone surrogate: a text that UTF-8 can hold exactly.
bool isWellFormed(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sondrel::fuzz::FuzzInput input(data, size);
    const qsizetype width = input.byte();
    const bool asText = input.byte() % 2;
    const QByteArrayView rest = input.rest();

    if (asText) {
        const QString text = sondrel::fuzz::utf16Text(rest);
        const QByteArray stored = encodeStoredText(text, width);
        SONDREL_FUZZ_CHECK(stored.size() <= width);
        if (isWellFormed(text)) {
            const QString read = decodeStoredText(stored);
            SONDREL_FUZZ_CHECK(text.startsWith(read) && isWellFormed(read));
            if (text.toUtf8().size() <= width)
                SONDREL_FUZZ_CHECK(read == text);
        }
    } else {
        const QString read = decodeStoredText(rest);
        SONDREL_FUZZ_CHECK(decodeStoredText(encodeStoredText(read, rest.size())) == read);
    }
    return 0;
}
