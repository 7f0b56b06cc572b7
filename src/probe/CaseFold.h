#pragma once

#include <QStringView>

#include <string>

namespace sondrel::probe {

// Full Unicode case folding, as used for caseless matching: every code point is replaced by its
// folded form, which for a few characters is longer than the original ("ß" becomes "ss", the "ﬁ"
// ligature "fi"), so "STRASSE" and "straße" fold to the same text. No normalisation is applied and
// no language-specific (Turkic) mappings are used. A lone surrogate is kept as it is.
void appendCaseFolded(std::u16string& out, char32_t codePoint);
void appendCaseFolded(std::u16string& out, QStringView text);

} // namespace sondrel::probe
