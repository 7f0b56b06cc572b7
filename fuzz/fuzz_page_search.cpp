// The page decoder and the caseless page search over a body that arrives in arbitrary pieces, under each charset.
// The pieces must decode to the text of the whole body, and the search must find the text exactly where a plain
// search of the folded text in the whole folded page does.
#include "FuzzInput.h"

#include "probe/CaseFold.h"
#include "probe/PageDecoder.h"
#include "probe/PageSearch.h"
#include "store/FixedText.h"

#include <QStringList>

#include <algorithm>
#include <array>

using namespace sondrel::probe;

namespace {

constexpr std::array<const char*, 5> kContentTypes = {"text/html; charset=utf-8", "text/html; charset=windows-1252",
                                                      "text/html; charset=koi8-r", "text/html",
                                                      "text/plain; charset=utf-16"};

std::u16string folded(QStringView text)
{
    std::u16string out;
    appendCaseFolded(out, text);
    return out;
}

bool isAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 128; });
}

QString withoutLeadingSpaces(const QString& text)
{
    qsizetype start = 0;
    while (start < text.size() && text[start] == u' ')
        ++start;
    return text.sliced(start);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sondrel::fuzz::FuzzInput input(data, size);
    const quint8 choice = input.byte();
    const QByteArrayView contentType = kContentTypes[choice % kContentTypes.size()];
    // The text to look for: typed, or a part of the page as it is or in upper case, so that matches are common.
    const int needleFrom = choice / kContentTypes.size() % 3;
    const qsizetype partStart = input.byte();
    const qsizetype partLength = input.byte() % 32;
    const QString typed = QString::fromUtf8(input.take(input.byte() % 32));
    const auto lengths = input.pieceLengths();
    const QByteArrayView body = input.rest();

    PageDecoder wholeDecoder(contentType);
    QString page = wholeDecoder.decode(body);
    page += wholeDecoder.finish();
    PageDecoder decoder(contentType);
    QStringList pieces;
    for (const QByteArrayView piece : sondrel::fuzz::cutInPieces(body, lengths))
        pieces.append(decoder.decode(piece));
    pieces.append(decoder.finish());
    SONDREL_FUZZ_CHECK(pieces.join(QString()) == page);

    QString needle = needleFrom == 0 ? typed : page.mid(qMin(partStart, page.size()), partLength);
    if (needleFrom == 2)
        needle = needle.toUpper();
    PageSearch search(needle);
    for (const QString& piece : std::as_const(pieces))
        search.feed(piece);
    search.finish();

    const QString trimmed = sondrel::store::trimSpaces(needle);
    const bool expected = folded(page).find(folded(trimmed)) != std::u16string::npos;
    SONDREL_FUZZ_CHECK(search.found() == expected);
    // Qt's caseless comparison folds each character to one: the same as the full folding on ASCII, and never finding
    // what the full folding misses.
    if (isAscii(page) && isAscii(trimmed))
        SONDREL_FUZZ_CHECK(expected == page.contains(trimmed, Qt::CaseInsensitive));
    else if (page.contains(trimmed, Qt::CaseInsensitive))
        SONDREL_FUZZ_CHECK(expected);
    if (!expected)
        SONDREL_FUZZ_CHECK(search.kept() ==
                           sondrel::store::trimSpaces(withoutLeadingSpaces(page).right(trimmed.size())));
    return 0;
}
