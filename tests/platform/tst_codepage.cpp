#include "platform/CodePage.h"

#include <QTest>

using namespace sondrel::platform;

class TestCodePage : public QObject {
    Q_OBJECT
private slots:
    void everyByteSurvivesARoundTrip()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(static_cast<char>(b));
        QCOMPARE(toCodePage(fromCodePage(all)), all);
    }
    void windowsCharactersMapToTheirBytes()
    {
        QCOMPARE(toCodePage(u"\u20AC caf\u00E9 \u201Cq\u201D \u2122"), QByteArray("\x80 caf\xE9 \x93q\x94 \x99"));
        QCOMPARE(fromCodePage("\x80\x9F\xFF"), QStringView(u"\u20AC\u0178\u00FF").toString());
    }
    void charactersOutsideTheCodePageBecomeQuestionMarks()
    {
        QCOMPARE(toCodePage(u"a\u0416b\U0001F600c"), QByteArray("a?b?c"));
    }
};

QTEST_APPLESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
