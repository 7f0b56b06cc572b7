#pragma once

#include <QString>

#include <string>
#include <vector>

namespace sondrel::probe {

// Looks for a text in a page that arrives in pieces, regardless of letter case (full Unicode case
// folding, see CaseFold.h). The text is trimmed of its surrounding spaces, the page of its leading
// and trailing spaces, as a whole. An empty text is found in every page.
//
// Each piece is searched as it comes, in time linear in its size, and memory stays the size of the
// text: Knuth-Morris-Pratt over the folded page carries a partial match from one piece to the next.
// Outside a partial match the search jumps ahead to the next occurrence of the text's least common
// character (a vectorised scan), since no match can start where that character is not in its place.
class PageSearch {
public:
    explicit PageSearch(QStringView text);

    // The next piece of the page, in order. Does nothing once the text has been found.
    void feed(QStringView piece);
    // The page has ended.
    void finish();

    bool found() const { return m_found; }
    // The last characters of the page seen so far, at most as many as the trimmed text has,
    // without the page's leading spaces (and after finish() without its trailing ones).
    QString kept() const { return m_kept; }

private:
    void search(const std::u16string& folded);
    void keep(QStringView piece);

    std::u16string m_needle; // folded
    std::vector<std::size_t> m_next;
    std::size_t m_anchor = 0; // position in m_needle of the character the scan looks for
    std::size_t m_matched = 0;
    bool m_found = false;
    bool m_pageStarted = false;
    qsizetype m_keepLength = 0;
    QString m_kept;
    char16_t m_heldSurrogate = 0;
    std::u16string m_folded; // reused between pieces
};

} // namespace sondrel::probe
