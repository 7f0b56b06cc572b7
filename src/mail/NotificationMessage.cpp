#include "mail/NotificationMessage.h"

#include "store/LogFormat.h"

#include <limits>

namespace sondrel::mail {

QString withLoadSeparator(const QString& message)
{
    return message + u'\n' + kSeparatorLine + u'\n';
}

QString withSendSeparator(const QString& message)
{
    return message + QStringLiteral("\r\n") + kSeparatorLine + QStringLiteral("\r\n");
}

QString attachedLines(const QStringList& lines)
{
    qsizetype size = 0;
    for (const QString& line : lines)
        size += line.size() + 4;
    QString text;
    text.reserve(size);
    for (const QString& line : lines) {
        text += u"\r\n";
        text += line;
        text += u"\r\n";
    }
    return text;
}

// The count is a 16-bit number, as the record numbers of the run are.
int attachedRecordCount(QStringView recordNumber)
{
    return qMin(store::recordNumberValue(recordNumber), int(std::numeric_limits<qint16>::max()));
}

QString notificationText(const QString& storedMessage, const QStringList& lines)
{
    return withSendSeparator(withLoadSeparator(storedMessage)) + attachedLines(lines);
}

} // namespace sondrel::mail
