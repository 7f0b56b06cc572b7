#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace sondrel::fuzz {

// Stops the run with the failed condition when a fuzz target finds a result that disagrees with its reference;
// libFuzzer then keeps the input that caused it.
[[noreturn]] inline void oracleFailed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: oracle failed: %s\n", file, line, condition);
    std::abort();
}

#define SONDREL_FUZZ_CHECK(condition)                                                                                  \
    ((condition) ? void() : sondrel::fuzz::oracleFailed(#condition, __FILE__, __LINE__))

// Reads a fuzzer's input from the front: the small values that steer a target first, then the bytes it parses.
// Reading past the end gives zeros and empty views, so every input is a valid one.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : m_rest(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))
    {
    }

    quint8 byte()
    {
        if (m_rest.isEmpty())
            return 0;
        const auto b = static_cast<quint8>(m_rest.front());
        m_rest = m_rest.sliced(1);
        return b;
    }
    // Big-endian, as the bytes would stand in a packet.
    quint16 word()
    {
        const quint16 high = byte();
        return static_cast<quint16>(high << 8 | byte());
    }
    quint32 number32()
    {
        const quint32 high = word();
        return high << 16 | word();
    }
    QByteArrayView take(qsizetype count)
    {
        const QByteArrayView taken = m_rest.first(qMin(count, m_rest.size()));
        m_rest = m_rest.sliced(taken.size());
        return taken;
    }
    QByteArrayView rest() { return take(m_rest.size()); }

    // Where to cut a later text: a count from 0 to 15, then the length of each of that many pieces (1 to 256).
    std::vector<qsizetype> pieceLengths()
    {
        std::vector<qsizetype> lengths(byte() % 16);
        for (qsizetype& length : lengths)
            length = byte() + 1;
        return lengths;
    }

private:
    QByteArrayView m_rest;
};

// The view cut into pieces of the given lengths, the last piece holding whatever is left; pieces past the end
// are empty, as a read that returns nothing.
template <typename View> std::vector<View> cutInPieces(View whole, const std::vector<qsizetype>& lengths)
{
    std::vector<View> pieces;
    for (const qsizetype length : lengths) {
        const qsizetype size = qMin(length, whole.size());
        pieces.push_back(whole.first(size));
        whole = whole.sliced(size);
    }
    pieces.push_back(whole);
    return pieces;
}

// Text taken from bytes as UTF-16, two bytes a unit, so that it may hold any unit including lone surrogates.
// Copied, since fuzz input has no alignment.
inline QString utf16Text(QByteArrayView bytes)
{
    QString text(bytes.size() / 2, Qt::Uninitialized);
    std::memcpy(text.data(), bytes.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    return text;
}

} // namespace sondrel::fuzz
