#pragma once

#include <QDateTime>
#include <QtGlobal>

#include <array>
#include <optional>

namespace sondrel::core {

// What one run has measured since its Start, in a fixed amount of memory: the latest check's outcome and counters
// over all checks, for monitoring systems that scrape the program.
struct RunFigures {
    // Upper bounds, in milliseconds, of the trip-time buckets; an echo waits at most 500 ms.
    static constexpr std::array<qint64, 9> kTripBoundsMs = {1, 2, 5, 10, 25, 50, 100, 250, 500};

    quint64 checks = 0;       // checks that sent an echo or found no ICMP socket
    quint64 failedChecks = 0; // of those, the ones that got no answer
    // The latest attempt got an answer: none before the first, false after a check that failed or found no
    // connection.
    std::optional<bool> answered;
    std::optional<qint64> tripMs;      // the latest answer's trip time; none when the latest check failed
    std::optional<qint64> pageFetchMs; // request to last byte of the latest check's page, when the whole page came
    QDateTime certificateExpiry;       // earliest expiry in the chain of the latest fetched https page, else invalid
    // Answered checks by trip time: tripCounts[i] counts trips of at most kTripBoundsMs[i] and more than the bound
    // before; trips beyond the last bound are answered checks that no bucket counts.
    std::array<quint64, kTripBoundsMs.size()> tripCounts{};
    quint64 answeredChecks = 0;
    qint64 tripTotalMs = 0;

    // A check that reached the echo ended; tripMs is none when it failed.
    void checked(std::optional<qint64> trip)
    {
        ++checks;
        answered = trip.has_value();
        tripMs = trip;
        if (!trip) {
            ++failedChecks;
            return;
        }
        ++answeredChecks;
        tripTotalMs += *trip;
        for (std::size_t i = 0; i < kTripBoundsMs.size(); ++i) {
            if (*trip <= kTripBoundsMs[i]) {
                ++tripCounts[i];
                break;
            }
        }
    }
    // The connection check failed: the site could not be asked.
    void unreachable()
    {
        answered = false;
        tripMs.reset();
    }
};

} // namespace sondrel::core
