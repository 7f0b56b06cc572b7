#include "probe/ResultLine.h"

#include "platform/NumberText.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace sondrel::probe {

QString recordNumberFor(const QString& noOfPingsText)
{
    const double n = platform::leadingNumber(noOfPingsText);
    QString prefix;
    if (n > 9)
        prefix = QStringLiteral("0000");
    if (n > 99)
        prefix = QStringLiteral("000");
    if (n > 999)
        prefix = QStringLiteral("00");
    if (n > 9999)
        prefix = QStringLiteral("0");
    if (n < 10)
        prefix = QStringLiteral("00000");
    QStringView text(noOfPingsText);
    while (!text.isEmpty() && text.front() == u' ')
        text = text.sliced(1);
    while (!text.isEmpty() && text.back() == u' ')
        text.chop(1);
    return prefix + text.toString();
}

qint64 averageTripTime(qint64 tripTimeTotal, qint64 replyCount)
{
    if (replyCount <= 0)
        return 0;
    return qint64(std::floor(double(tripTimeTotal) / double(replyCount)));
}

namespace {

struct LineFormats {
    QLocale locale;
    QString date;
    QString time;
};

// Widens a two-digit year to four digits and drops the time zone, which a result line does not carry.
LineFormats chooseFormats()
{
    const QLocale system = QLocale::system();
    if (system.language() == QLocale::C)
        return {QLocale(QLocale::English, QLocale::UnitedStates), QStringLiteral("M/d/yyyy"),
                QStringLiteral("h:mm:ss AP")};
    QString date = system.dateFormat(QLocale::ShortFormat);
    if (!date.contains(QLatin1String("yyyy")))
        date.replace(QRegularExpression(QStringLiteral("y+")), QStringLiteral("yyyy"));
    QString time = system.timeFormat(QLocale::LongFormat);
    time.remove(QRegularExpression(QStringLiteral("\\s*\\(?t+\\)?")));
    return {system, date.trimmed(), time.trimmed()};
}

const LineFormats& formats()
{
    static const LineFormats chosen = chooseFormats();
    return chosen;
}

} // namespace

QString lineDate(const QDateTime& when)
{
    return formats().locale.toString(when.date(), formats().date);
}

QString lineTime(const QDateTime& when)
{
    return formats().locale.toString(when.time(), formats().time);
}

QString replyLine(const QString& recordNumber, const QString& date, const QString& time, const QString& tripTimeText,
                  qint64 average, const QString& pageToken)
{
    return recordNumber + u' ' + date + u' ' + time + QStringLiteral(" Trip Time=") + tripTimeText +
           QStringLiteral(" Average=") + QString::number(average) + pageToken;
}

QString failureLine(const QString& recordNumber, const QString& date, const QString& time, const QString& pageToken)
{
    return recordNumber + u' ' + date + u' ' + time + kFailureText + pageToken;
}

} // namespace sondrel::probe
