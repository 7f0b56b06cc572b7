#pragma once

#include <QString>
#include <QtGlobal>

namespace sondrel::core {

// Five blanks: the page token while the page check is off.
inline const QString kBlankToken = QStringLiteral("     ");

// The counters and status flags of one monitoring run, shared by the run, the check cycle and the
// notification decision.
struct RunState {
    bool PingOk = true;     // no check of this run has failed
    bool PageOk = true;     // the last page check found the main site string
    bool LastPingOk = true; // the values the notification decision last acted on
    bool LastPageOk = true;
    bool StopScan = false;
    qint64 ReplyCount = 0;    // checks of this run that did not fail
    qint64 TripTimeTotal = 0; // their trip times added up, in milliseconds
    double CheckCounter = 1;
    QString CheckNumberText; // the check number as shown, from which RecordNumber is made
    QString PageToken = kBlankToken;
    QString RecordNumber; // the current check's number with leading zeros
};

} // namespace sondrel::core
