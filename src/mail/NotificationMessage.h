#pragma once

#include <QString>
#include <QStringList>

namespace sondrel::mail {

// The line that sets the attached log apart from the message.
inline const QString kSeparatorLine = QStringLiteral("*************************");

// What loading a notification adds to the stored message before sending: LF, separator, LF.
QString withLoadSeparator(const QString& message);

// What sending adds when the log is attached: CR LF, separator, CR LF.
QString withSendSeparator(const QString& message);

// The result lines as attached: each one framed by CR LF before and after.
QString attachedLines(const QStringList& lines);

// How many records of the run are attached for a check number text: its leading number, at most 32767.
int attachedRecordCount(QStringView recordNumber);

// The whole text of a notification with the log attached: the stored message, both separators, then the lines.
QString notificationText(const QString& storedMessage, const QStringList& lines);

} // namespace sondrel::mail
