#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace sondrel::probe {

// The check number with leading zeros: six digits up to 99999, and "0" in front of every larger number.
// noOfPingsText is the text of "No of Pings"; its numeric value chooses the prefix.
QString recordNumberFor(const QString& noOfPingsText);

// The whole-number part of the running average in milliseconds: the true mean of every reply of the run,
// however long it runs.
qint64 averageTripTime(qint64 tripTimeTotal, qint64 replyCount);

// The date and time pieces of a result line, in the user's locale: the short date with a four-digit
// year and the long time with seconds and without time zone; M/d/yyyy and h:mm:ss AP in the C locale.
// The formats are chosen once for the life of the process.
QString lineDate(const QDateTime& when);
QString lineTime(const QDateTime& when);

inline const QString kFailureText = QStringLiteral(" Failed to ping! - Site Problem");

// "000012 12/7/2026 3:04:05 AM Trip Time=23 ms Average=25 WSOK" and its failure form.
QString replyLine(const QString& recordNumber, const QString& date, const QString& time, const QString& tripTimeText,
                  qint64 average, const QString& pageToken);
QString failureLine(const QString& recordNumber, const QString& date, const QString& time, const QString& pageToken);

} // namespace sondrel::probe
