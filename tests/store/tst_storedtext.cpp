#include "store/FixedText.h"
#include "store/StoredText.h"

#include <QTest>

using namespace sondrel::store;

class TestStoredText : public QObject {
    Q_OBJECT
private slots:
    void text_storedInItsFieldAndReadBack_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QByteArray>("bytes"); // before the padding
        QTest::addColumn<QString>("kept");     // what reads back

        const auto whole = [](const char* name, const QString& text, const QByteArray& bytes) {
            QTest::newRow(name) << text << 255 << bytes << text;
        };
        whole("ascii", u"www.example.org"_qs, "www.example.org");
        whole("windows-1252 as before", u"Café € Gruß"_qs, "Caf\xe9 \x80 Gru\xdf");
        whole("cyrillic", u"Добро пожаловать"_qs, u"Добро пожаловать"_qs.toUtf8());
        whole("arabic", u"مرحبا بكم"_qs, u"مرحبا بكم"_qs.toUtf8());
        whole("korean", u"환영합니다"_qs, u"환영합니다"_qs.toUtf8());
        whole("japanese", u"ようこそ"_qs, u"ようこそ"_qs.toUtf8());
        whole("one character past the code page", u"Café Ж"_qs, "Caf\xc3\xa9 \xd0\x96");
        whole("leading zero width no-break space", u"\uFEFFЖ"_qs, "\xef\xbb\xbf\xd0\x96");
        // These code page bytes are also valid UTF-8 ("é"), so they would not read back.
        whole("code page bytes that read as utf-8", u"Ã©"_qs, "\xc3\x83\xc2\xa9");

        QTest::newRow("windows-1252 cut as before") << u"Straße"_qs << 5 << QByteArray("Stra\xdf") << u"Straß"_qs;
        QTest::newRow("code page part kept, the rest cut") << u"abcdЖ"_qs << 4 << QByteArray("abcd") << u"abcd"_qs;
        QTest::newRow("2-byte character straddles") << u"abЖ"_qs << 3 << QByteArray("ab") << u"ab"_qs;
        QTest::newRow("3-byte character straddles") << u"ab환"_qs << 4 << QByteArray("ab") << u"ab"_qs;
        QTest::newRow("4-byte character straddles") << u"ab😀"_qs << 5 << QByteArray("ab") << u"ab"_qs;
        QTest::newRow("4-byte character ends the field")
            << u"ab😀c"_qs << 6 << QByteArray("ab\xf0\x9f\x98\x80") << u"ab😀"_qs;
    }
    void text_storedInItsFieldAndReadBack()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, kept);
        QCOMPARE(encodeStoredText(text, width), bytes);
        QCOMPARE(decodeStoredText(bytes), kept);

        QByteArray record = "<" + QByteArray(width, '\0') + ">";
        writeFixedText(record, 1, width, text);
        QCOMPARE(record, "<" + bytes.leftJustified(width, ' ') + ">");
        QCOMPARE(readFixedText(record, 1, width), kept);
    }

    void bytesThatAreNotUtf8_readAsWindows1252_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("earlier file") << QByteArray("Caf\xe9 \x80 Gru\xdf") << u"Café € Gruß"_qs;
        QTest::newRow("lead byte without its continuation") << QByteArray("\xc3(") << u"Ã("_qs;
        QTest::newRow("sequence cut off") << QByteArray("ab\xd0") << u"abÐ"_qs;
        QTest::newRow("overlong form") << QByteArray("\xc0\xaf") << u"À¯"_qs;
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80") << u"í\u00a0€"_qs;
        QTest::newRow("ascii") << QByteArray("plain text") << u"plain text"_qs;
    }
    void bytesThatAreNotUtf8_readAsWindows1252()
    {
        QFETCH(QByteArray, bytes);
        QTEST(decodeStoredText(bytes), "text");
    }
};

QTEST_APPLESS_MAIN(TestStoredText)
#include "tst_storedtext.moc"
