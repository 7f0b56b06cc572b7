#include "mail/EmailSettings.h"

#include <QTest>

using namespace sondrel::mail;

namespace {

QByteArray padded(const QByteArray& text, int width)
{
    return text.leftJustified(width, ' ');
}

} // namespace

class TestEmailSettings : public QObject {
    Q_OBJECT
private slots:
    void record_byteForByte()
    {
        QByteArray record(kEmailRecordLength, '\0');
        record[3532] = '\xAB';
        record[3533] = '\xCD';
        EmailSettings s{"host:587", "Caf\u00E9 \u20AC", "me@x", "Ops", "ops@x", QString(300, u's'), "", -1, 300};
        encodeEmailSettings(record, s);
        // The empty message leaves its stored bytes; the reserved bytes stay as read; long values are cut.
        QCOMPARE(record, padded("host:587", 255) + padded("Caf\xE9 \x80", 255) + padded("me@x", 255) +
                             padded("Ops", 255) + padded("ops@x", 255) + QByteArray(255, 's') + QByteArray(2000, '\0') +
                             QByteArray("\xFF\xFF\xAB\xCD\x2C\x01", 6));
        s.MessageBody = QString(2500, u'm');
        encodeEmailSettings(record, s);
        QCOMPARE(record.mid(1530, 2000), QByteArray(2000, 'm'));

        record.replace(0, 10, QByteArray("  h  \0xyz ", 10));
        const EmailSettings back = decodeEmailSettings(record);
        QCOMPARE(back.SmtpHost, QStringLiteral("h"));
        QCOMPARE(back.SenderName, s.SenderName);
        QCOMPARE(back.AttachLog, qint16(-1));
        QCOMPARE(back.DisconnectDelay, qint16(300));
    }

    void textsInAnyScript_surviveEncodeAndDecode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("windows-1252 as before") << u"Café € Gruß"_qs << QByteArray("Caf\xe9 \x80 Gru\xdf");
        QTest::newRow("cyrillic") << u"Страница не найдена"_qs << u"Страница не найдена"_qs.toUtf8();
        QTest::newRow("arabic") << u"الصفحة غير موجودة"_qs << u"الصفحة غير موجودة"_qs.toUtf8();
        QTest::newRow("korean") << u"페이지를 찾을 수 없습니다"_qs << u"페이지를 찾을 수 없습니다"_qs.toUtf8();
        QTest::newRow("japanese") << u"ページが見つかりません"_qs << u"ページが見つかりません"_qs.toUtf8();
    }
    void textsInAnyScript_surviveEncodeAndDecode()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, stored);
        const EmailSettings s{"smtp.example.org", text, "me@x", text, "ops@x", text, text + u"\r\n"_qs + text, 0, 5};
        QByteArray record;
        encodeEmailSettings(record, s);
        QCOMPARE(record.mid(1275, 255), padded(stored, 255));
        QCOMPARE(record.mid(1530, 2000), padded(stored + "\r\n" + stored, 2000));
        const EmailSettings back = decodeEmailSettings(record);
        QCOMPARE((QStringList{back.SenderName, back.RecipientName, back.Subject, back.MessageBody}),
                 (QStringList{text, text, text, s.MessageBody}));
    }

    void missingValue_firstBlankInOrder()
    {
        EmailSettings s{"h", "n", "a", "rn", "ra", "", "", 0, 0};
        QCOMPARE(missingValueMessage(s), QStringLiteral("You must specify a Subject"));
        s.RecipientName.clear();
        QCOMPARE(missingValueMessage(s), QStringLiteral("You must specify a Recipient Name"));
        s.SenderAddress.clear();
        QCOMPARE(missingValueMessage(s), QStringLiteral("You must specify a Sender E-mail Address"));
        QCOMPARE(missingValueMessage(EmailSettings{}), QStringLiteral("You must specify an SMPT Host"));
        QCOMPARE(missingValueMessage(EmailSettings{"h", "n", "a", "rn", "ra", "s", "", 0, 0}), QString());
    }

    void delay_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("stored");
        const QList<std::pair<const char*, int>> rows = {
            {"7.5", 8},   {"6.5", 6},    {"-2.5", -2},     {"2.51", 3},        {"12abc", 12},     {"abc", 0},
            {"  9  ", 9}, {"1e3", 1000}, {"99999", 32767}, {"-40000", -32768}, {"32767.4", 32767}};
        for (const auto& [text, stored] : rows)
            QTest::newRow(text) << QString::fromLatin1(text) << stored;
    }
    void delay()
    {
        QFETCH(QString, text);
        QTEST(int(disconnectDelayValue(text)), "stored");
    }
};

QTEST_APPLESS_MAIN(TestEmailSettings)
#include "tst_emailsettings.moc"
