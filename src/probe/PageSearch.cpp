#include "probe/PageSearch.h"

#include "probe/CaseFold.h"

#include <algorithm>
#include <string_view>

namespace sondrel::probe {

namespace {

QStringView trimmedOfSpaces(QStringView text)
{
    while (!text.isEmpty() && text.front() == u' ')
        text = text.sliced(1);
    while (!text.isEmpty() && text.back() == u' ')
        text.chop(1);
    return text;
}

// Characters ranked from most to least common in web pages; anything not listed is rarer still.
constexpr std::u16string_view kCommonCharacters = u" etaoinsrlhdc<>/=\"umpf.gbywv-k:,\n0x12";

std::size_t rarestPosition(const std::u16string& text)
{
    std::size_t best = 0;
    std::size_t bestRank = std::u16string_view::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t found = kCommonCharacters.find(text[i]);
        const std::size_t rank = found == std::u16string_view::npos ? 0 : kCommonCharacters.size() - found;
        if (bestRank == std::u16string_view::npos || rank <= bestRank) {
            best = i;
            bestRank = rank;
        }
    }
    return best;
}

} // namespace

PageSearch::PageSearch(QStringView text)
{
    const QStringView trimmed = trimmedOfSpaces(text);
    m_keepLength = trimmed.size();
    appendCaseFolded(m_needle, trimmed);
    m_found = m_needle.empty();
    m_anchor = rarestPosition(m_needle);

    // m_next[k] is the length of the longest proper border of the needle's first k + 1 units.
    m_next.assign(m_needle.size(), 0);
    std::size_t border = 0;
    for (std::size_t i = 1; i < m_needle.size(); ++i) {
        while (border > 0 && m_needle[i] != m_needle[border])
            border = m_next[border - 1];
        if (m_needle[i] == m_needle[border])
            ++border;
        m_next[i] = border;
    }
}

void PageSearch::feed(QStringView piece)
{
    if (m_found || piece.isEmpty())
        return;
    if (!m_pageStarted) {
        while (!piece.isEmpty() && piece.front() == u' ')
            piece = piece.sliced(1);
        if (piece.isEmpty())
            return;
        m_pageStarted = true;
    }
    keep(piece);

    // A surrogate pair split between pieces is folded once both halves are here.
    m_folded.clear();
    QString joined;
    if (m_heldSurrogate != 0) {
        joined = QChar(m_heldSurrogate) + piece.toString();
        piece = joined;
        m_heldSurrogate = 0;
    }
    if (QChar::isHighSurrogate(piece.back().unicode())) {
        m_heldSurrogate = piece.back().unicode();
        piece.chop(1);
    }
    appendCaseFolded(m_folded, piece);
    search(m_folded);
}

void PageSearch::finish()
{
    if (m_heldSurrogate != 0 && !m_found) {
        m_folded.assign(1, m_heldSurrogate);
        search(m_folded);
    }
    m_heldSurrogate = 0;
    m_kept = trimmedOfSpaces(m_kept).toString();
}

void PageSearch::search(const std::u16string& folded)
{
    const std::size_t size = folded.size();
    const std::size_t length = m_needle.size();
    const QStringView view(folded.data(), static_cast<qsizetype>(size));
    const QChar anchor(m_needle[m_anchor]);
    std::size_t k = m_matched;
    std::size_t i = 0;
    while (i < size) {
        if (k == 0) {
            // No match starts before the next place where the anchor character stands at its offset.
            // When there is none in this piece, only the last few positions can still begin a match
            // that ends in the next piece.
            const qsizetype at =
                i + m_anchor < size ? view.indexOf(anchor, static_cast<qsizetype>(i + m_anchor)) : qsizetype(-1);
            i = at >= 0 ? static_cast<std::size_t>(at) - m_anchor : std::max(i, size - std::min(size, m_anchor));
            if (i >= size)
                break;
        }
        const char16_t c = folded[i++];
        while (k > 0 && c != m_needle[k])
            k = m_next[k - 1];
        if (c == m_needle[k])
            ++k;
        if (k == length) {
            m_found = true;
            return;
        }
    }
    m_matched = k;
}

void PageSearch::keep(QStringView piece)
{
    if (m_keepLength == 0)
        return;
    if (piece.size() >= m_keepLength) {
        m_kept = piece.last(m_keepLength).toString();
        return;
    }
    m_kept.append(piece);
    if (m_kept.size() > m_keepLength)
        m_kept.remove(0, m_kept.size() - m_keepLength);
}

} // namespace sondrel::probe
