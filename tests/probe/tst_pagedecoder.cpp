#include "probe/PageDecoder.h"

#include <QTest>

using namespace sondrel::probe;

namespace {

QString decodeInPieces(const QByteArray& contentType, const QByteArray& body, const QList<qsizetype>& cuts)
{
    PageDecoder decoder(contentType);
    QString text;
    qsizetype from = 0;
    for (const qsizetype cut : cuts) {
        text += decoder.decode(QByteArrayView(body).sliced(from, cut - from));
        from = cut;
    }
    text += decoder.decode(QByteArrayView(body).sliced(from));
    return text + decoder.finish();
}

} // namespace

class TestPageDecoder : public QObject {
    Q_OBJECT
private slots:
    void bodies_decodeTheSameHoweverTheyAreCut_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::newRow("UTF-8 of every length")
            << QByteArray("text/html") << QByteArray("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z") << u"aé€\U0001F600z"_qs;
        QTest::newRow("bytes that are not UTF-8") << QByteArray("text/html") << QByteArray("Caf\xe9 \x80 \x93ok\x94")
                                                  << u"Caf\u00e9 \u20ac \u201cok\u201d"_qs;
        QTest::newRow("mixed, truncated at the end")
            << QByteArray("text/html") << QByteArray("\xc3\xa9-\xe9-\xe2\x82") << u"\u00e9-\u00e9-\u00e2\u201a"_qs;
        QTest::newRow("surrogate and overlong forms")
            << QByteArray("text/plain") << QByteArray("\xed\xa0\x80|\xc0\xaf") << u"í\u00a0€|À¯"_qs;
        QTest::newRow("declared Latin-1 reads as Windows-1252")
            << QByteArray("text/html; charset=\"ISO-8859-1\"") << QByteArray("\x80\xe9\xc3\xa9") << u"€éÃ©"_qs;
        QTest::newRow("declared UTF-8") << QByteArray("text/html;charset=UTF-8") << QByteArray("\xc3\xa9\xe9x")
                                        << u"ééx"_qs;
        QTest::newRow("declared KOI8-R") << QByteArray("text/html; charset=koi8-r") << QByteArray("\xf0\xd2\xc9")
                                         << u"При"_qs;
        QTest::newRow("declared UTF-16 without a mark")
            << QByteArray("text/html; charset=utf-16") << QByteArray("h\0i\0", 4) << u"hi"_qs;
        QTest::newRow("UTF-16 mark beats the header")
            << QByteArray("text/html; charset=iso-8859-1") << QByteArray("\xfe\xff\0h\0i", 6) << u"hi"_qs;
        QTest::newRow("UTF-8 mark is dropped") << QByteArray("text/html") << QByteArray("\xef\xbb\xbfhi") << u"hi"_qs;
        QTest::newRow("unknown charset") << QByteArray("text/html; charset=x-nonesuch") << QByteArray("\xc3\xa9\xe9")
                                         << u"éé"_qs;
        QTest::newRow("long ASCII runs around stray bytes")
            << QByteArray("text/html")
            << QByteArray("0123456789abcdefXYZ\xe9 0123456789abcdef\xc3\xa9\xf0\x9f\x98\x80 end")
            << u"0123456789abcdefXYZ\u00e9 0123456789abcdef\u00e9\U0001F600 end"_qs;
        QTest::newRow("shorter than a mark") << QByteArray("text/html") << QByteArray("\xc3") << u"Ã"_qs;
    }
    void bodies_decodeTheSameHoweverTheyAreCut()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        for (qsizetype a = 0; a <= body.size(); ++a) {
            for (qsizetype b = a; b <= body.size(); ++b)
                QCOMPARE(decodeInPieces(contentType, body, {a, b}), text);
        }
    }

    void charset_isReadFromTheContentType_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("charset");
        QTest::newRow("none") << QByteArray("text/html") << QByteArray();
        QTest::newRow("plain") << QByteArray("text/html; charset=UTF-8") << QByteArray("utf-8");
        QTest::newRow("quoted, spaced") << QByteArray("text/html ; Charset = \" Shift_JIS \" ")
                                        << QByteArray("shift_jis");
        QTest::newRow("after other parameters")
            << QByteArray("text/plain; format=flowed; charset=koi8-r") << QByteArray("koi8-r");
        QTest::newRow("not a charset") << QByteArray("text/plain; xcharset=koi8-r") << QByteArray();
    }
    void charset_isReadFromTheContentType()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, charset);
        QCOMPARE(PageDecoder::charsetOf(contentType), charset);
    }
};

QTEST_APPLESS_MAIN(TestPageDecoder)
#include "tst_pagedecoder.moc"
