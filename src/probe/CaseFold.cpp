#include "probe/CaseFold.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <cstring>

namespace sondrel::probe {

namespace {

struct MultiFold {
    char32_t from;
    std::array<char16_t, 3> to; // zero-terminated when shorter than three
};

// The code points whose full case folding has more than one character (Unicode 14); every other
// code point folds to the single character that Qt's simple case folding gives.
constexpr MultiFold kMultiFolds[] = {
    {0x00DF, {0x0073, 0x0073}},         {0x0130, {0x0069, 0x0307}},         {0x0149, {0x02BC, 0x006E}},
    {0x01F0, {0x006A, 0x030C}},         {0x0390, {0x03B9, 0x0308, 0x0301}}, {0x03B0, {0x03C5, 0x0308, 0x0301}},
    {0x0587, {0x0565, 0x0582}},         {0x1E96, {0x0068, 0x0331}},         {0x1E97, {0x0074, 0x0308}},
    {0x1E98, {0x0077, 0x030A}},         {0x1E99, {0x0079, 0x030A}},         {0x1E9A, {0x0061, 0x02BE}},
    {0x1E9E, {0x0073, 0x0073}},         {0x1F50, {0x03C5, 0x0313}},         {0x1F52, {0x03C5, 0x0313, 0x0300}},
    {0x1F54, {0x03C5, 0x0313, 0x0301}}, {0x1F56, {0x03C5, 0x0313, 0x0342}}, {0x1F80, {0x1F00, 0x03B9}},
    {0x1F81, {0x1F01, 0x03B9}},         {0x1F82, {0x1F02, 0x03B9}},         {0x1F83, {0x1F03, 0x03B9}},
    {0x1F84, {0x1F04, 0x03B9}},         {0x1F85, {0x1F05, 0x03B9}},         {0x1F86, {0x1F06, 0x03B9}},
    {0x1F87, {0x1F07, 0x03B9}},         {0x1F88, {0x1F00, 0x03B9}},         {0x1F89, {0x1F01, 0x03B9}},
    {0x1F8A, {0x1F02, 0x03B9}},         {0x1F8B, {0x1F03, 0x03B9}},         {0x1F8C, {0x1F04, 0x03B9}},
    {0x1F8D, {0x1F05, 0x03B9}},         {0x1F8E, {0x1F06, 0x03B9}},         {0x1F8F, {0x1F07, 0x03B9}},
    {0x1F90, {0x1F20, 0x03B9}},         {0x1F91, {0x1F21, 0x03B9}},         {0x1F92, {0x1F22, 0x03B9}},
    {0x1F93, {0x1F23, 0x03B9}},         {0x1F94, {0x1F24, 0x03B9}},         {0x1F95, {0x1F25, 0x03B9}},
    {0x1F96, {0x1F26, 0x03B9}},         {0x1F97, {0x1F27, 0x03B9}},         {0x1F98, {0x1F20, 0x03B9}},
    {0x1F99, {0x1F21, 0x03B9}},         {0x1F9A, {0x1F22, 0x03B9}},         {0x1F9B, {0x1F23, 0x03B9}},
    {0x1F9C, {0x1F24, 0x03B9}},         {0x1F9D, {0x1F25, 0x03B9}},         {0x1F9E, {0x1F26, 0x03B9}},
    {0x1F9F, {0x1F27, 0x03B9}},         {0x1FA0, {0x1F60, 0x03B9}},         {0x1FA1, {0x1F61, 0x03B9}},
    {0x1FA2, {0x1F62, 0x03B9}},         {0x1FA3, {0x1F63, 0x03B9}},         {0x1FA4, {0x1F64, 0x03B9}},
    {0x1FA5, {0x1F65, 0x03B9}},         {0x1FA6, {0x1F66, 0x03B9}},         {0x1FA7, {0x1F67, 0x03B9}},
    {0x1FA8, {0x1F60, 0x03B9}},         {0x1FA9, {0x1F61, 0x03B9}},         {0x1FAA, {0x1F62, 0x03B9}},
    {0x1FAB, {0x1F63, 0x03B9}},         {0x1FAC, {0x1F64, 0x03B9}},         {0x1FAD, {0x1F65, 0x03B9}},
    {0x1FAE, {0x1F66, 0x03B9}},         {0x1FAF, {0x1F67, 0x03B9}},         {0x1FB2, {0x1F70, 0x03B9}},
    {0x1FB3, {0x03B1, 0x03B9}},         {0x1FB4, {0x03AC, 0x03B9}},         {0x1FB6, {0x03B1, 0x0342}},
    {0x1FB7, {0x03B1, 0x0342, 0x03B9}}, {0x1FBC, {0x03B1, 0x03B9}},         {0x1FC2, {0x1F74, 0x03B9}},
    {0x1FC3, {0x03B7, 0x03B9}},         {0x1FC4, {0x03AE, 0x03B9}},         {0x1FC6, {0x03B7, 0x0342}},
    {0x1FC7, {0x03B7, 0x0342, 0x03B9}}, {0x1FCC, {0x03B7, 0x03B9}},         {0x1FD2, {0x03B9, 0x0308, 0x0300}},
    {0x1FD3, {0x03B9, 0x0308, 0x0301}}, {0x1FD6, {0x03B9, 0x0342}},         {0x1FD7, {0x03B9, 0x0308, 0x0342}},
    {0x1FE2, {0x03C5, 0x0308, 0x0300}}, {0x1FE3, {0x03C5, 0x0308, 0x0301}}, {0x1FE4, {0x03C1, 0x0313}},
    {0x1FE6, {0x03C5, 0x0342}},         {0x1FE7, {0x03C5, 0x0308, 0x0342}}, {0x1FF2, {0x1F7C, 0x03B9}},
    {0x1FF3, {0x03C9, 0x03B9}},         {0x1FF4, {0x03CE, 0x03B9}},         {0x1FF6, {0x03C9, 0x0342}},
    {0x1FF7, {0x03C9, 0x0342, 0x03B9}}, {0x1FFC, {0x03C9, 0x03B9}},         {0xFB00, {0x0066, 0x0066}},
    {0xFB01, {0x0066, 0x0069}},         {0xFB02, {0x0066, 0x006C}},         {0xFB03, {0x0066, 0x0066, 0x0069}},
    {0xFB04, {0x0066, 0x0066, 0x006C}}, {0xFB05, {0x0073, 0x0074}},         {0xFB06, {0x0073, 0x0074}},
    {0xFB13, {0x0574, 0x0576}},         {0xFB14, {0x0574, 0x0565}},         {0xFB15, {0x0574, 0x056B}},
    {0xFB16, {0x057E, 0x0576}},         {0xFB17, {0x0574, 0x056D}},
};

const MultiFold* multiFoldOf(char32_t c)
{
    const auto* end = std::end(kMultiFolds);
    const auto* it =
        std::lower_bound(std::begin(kMultiFolds), end, c, [](const MultiFold& m, char32_t v) { return m.from < v; });
    return it != end && it->from == c ? it : nullptr;
}

constexpr char16_t asciiFolded(char16_t c)
{
    return static_cast<unsigned>(c - u'A') < 26u ? static_cast<char16_t>(c | 0x20) : c;
}

// The units that codePoint folds to; a lone surrogate stays as it is.
std::size_t foldedUnits(char32_t codePoint, std::array<char16_t, 3>& units)
{
    if (codePoint < 0x80) {
        units[0] = asciiFolded(static_cast<char16_t>(codePoint));
        return 1;
    }
    // Below U+0130 only "ß" folds to more than one character; Latin-1 text skips the table.
    const MultiFold* multi = codePoint >= 0x130 || codePoint == 0xDF ? multiFoldOf(codePoint) : nullptr;
    if (multi) {
        std::size_t count = 0;
        while (count < multi->to.size() && multi->to[count] != 0) {
            units[count] = multi->to[count];
            ++count;
        }
        return count;
    }
    const char32_t folded = QChar::isSurrogate(codePoint) ? codePoint : QChar::toCaseFolded(codePoint);
    if (folded > 0xFFFF) {
        units[0] = QChar::highSurrogate(folded);
        units[1] = QChar::lowSurrogate(folded);
        return 2;
    }
    units[0] = static_cast<char16_t>(folded);
    return 1;
}

} // namespace

void appendCaseFolded(std::u16string& out, char32_t codePoint)
{
    std::array<char16_t, 3> units{};
    out.append(units.data(), foldedUnits(codePoint, units));
}

void appendCaseFolded(std::u16string& out, QStringView text)
{
    const char16_t* in = text.utf16();
    const qsizetype size = text.size();
    // Room for one unit per input unit; the rare characters that fold to more grow it as they come.
    std::size_t w = out.size();
    out.resize(w + static_cast<std::size_t>(size));
    char16_t* o = out.data();
    constexpr qsizetype kBlock = 16;
    qsizetype i = 0;
    while (i < size) {
        // Plain ASCII is by far the most common text; fold it a block at a time so the compiler can vectorise.
        while (size - i >= kBlock) {
            std::array<char16_t, kBlock> block;
            std::memcpy(block.data(), in + i, sizeof block);
            char16_t any = 0;
            for (const char16_t unit : block)
                any |= unit;
            if (any >= 0x80)
                break;
            for (char16_t& unit : block)
                unit = asciiFolded(unit);
            std::memcpy(o + w, block.data(), sizeof block);
            i += kBlock;
            w += kBlock;
        }
        // A block with other characters in it, or the last few units, one character at a time.
        const qsizetype stop = std::min(size, i + kBlock);
        while (i < stop) {
            const char16_t c = in[i++];
            if (c < 0x80) {
                o[w++] = asciiFolded(c);
                continue;
            }
            char32_t codePoint = c;
            if (QChar::isHighSurrogate(c) && i < size && QChar::isLowSurrogate(in[i]))
                codePoint = QChar::surrogateToUcs4(c, in[i++]);
            std::array<char16_t, 3> units{};
            const std::size_t count = foldedUnits(codePoint, units);
            const std::size_t needed = w + count + static_cast<std::size_t>(size - i);
            if (needed > out.size()) {
                out.resize(needed + 64);
                o = out.data();
            }
            for (std::size_t u = 0; u < count; ++u)
                o[w++] = units[u];
        }
    }
    out.resize(w);
}

} // namespace sondrel::probe
