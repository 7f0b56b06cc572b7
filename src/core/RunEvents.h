#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace sondrel::core {

// What the site looks like after the latest step of the run.
enum class SiteStatus {
    Working,      // connected, and the site answered (or has not been asked yet)
    NoConnection, // no Internet connection, no ICMP socket, or the line could not be hung up
    NotAnswering, // the latest echo failed
};

// What one echo brought back, as the window shows it.
struct EchoReport {
    QString statusText;                    // "0   [ success ]" and the like
    QString tripTimeText;                  // "12 ms"
    QString bytesUsed;                     // the size of the reply's data
    std::optional<QString> packetReturned; // the data that came back, when there was any
};

// One echo as a measurement, for pictures of the run: when it was taken, its trip time (none when the
// check failed), the run's average trip time as the result lines show it, and the check's page token.
struct EchoSample {
    QDateTime at;
    std::optional<qint64> tripMs;
    qint64 averageMs = 0;
    QString pageToken;
};

// A change of the site's state that the notification decision acted on, whether or not it was e-mailed.
enum class SiteChange { PingFailing, PingAnswering, PageTextFound, PageTextLost };

// Why a run has ended.
enum class RunEnd {
    Stopped,      // Stop was pressed: "Scan Stopped" has been told
    NoConnection, // a check found no Internet connection
};

} // namespace sondrel::core
