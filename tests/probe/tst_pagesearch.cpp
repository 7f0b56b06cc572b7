#include "probe/PageSearch.h"

#include <QRandomGenerator>
#include <QTest>

using namespace sondrel::probe;

namespace {

// Feeds the page cut at the given positions and reports whether the text was found.
bool foundInPieces(const QString& page, const QString& text, const QList<qsizetype>& cuts)
{
    PageSearch search(text);
    qsizetype from = 0;
    for (const qsizetype cut : cuts) {
        search.feed(QStringView(page).sliced(from, cut - from));
        from = cut;
    }
    search.feed(QStringView(page).sliced(from));
    search.finish();
    return search.found();
}

} // namespace

class TestPageSearch : public QObject {
    Q_OBJECT
private slots:
    void matchAcrossPieces_isFoundAtEverySplit()
    {
        const QString page = QStringLiteral("<p>xx SonDREL  moniTor</p>");
        for (qsizetype a = 0; a <= page.size(); ++a) {
            for (qsizetype b = a; b <= page.size(); ++b) {
                QVERIFY2(foundInPieces(page, QStringLiteral("sondrel  monitor"), {a, b}),
                         qPrintable(QString::number(a)));
                QVERIFY(!foundInPieces(page, QStringLiteral("sondrel monitor"), {a, b}));
            }
        }
    }

    // Self-overlapping texts are where a streaming search that forgets a partial match goes wrong.
    void randomPagesAndCuts_agreeWithAWholePageSearch()
    {
        QRandomGenerator random(20240531);
        for (int round = 0; round < 3000; ++round) {
            const auto randomText = [&](int length) {
                QString s;
                for (int i = 0; i < length; ++i)
                    s.append(QChar(u"aAbB7"[random.bounded(5)]));
                return s;
            };
            const QString page = randomText(random.bounded(1, 40));
            const QString text = randomText(random.bounded(1, 6));
            QList<qsizetype> cuts;
            for (qsizetype at = 0; at < page.size(); at += random.bounded(1, 7))
                cuts.append(at);
            const bool expected = page.contains(text, Qt::CaseInsensitive);
            QVERIFY2(foundInPieces(page, text, cuts) == expected, qPrintable(page + QStringLiteral(" / ") + text));
        }
    }

    void letterCase_isIgnoredBeyondAscii_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("found");
        QTest::newRow("accented capitals") << u"ÉCOLE FERMÉE"_qs << u"école fermée"_qs << true;
        QTest::newRow("sharp s against double s") << u"Gruß aus der Straße"_qs << u"STRASSE"_qs << true;
        QTest::newRow("double s against sharp s") << u"GRUSS"_qs << u"gruß"_qs << true;
        QTest::newRow("capital sharp s") << u"STRAẞE"_qs << u"straße"_qs << true;
        QTest::newRow("ligature") << u"the ﬁle"_qs << u"FILE"_qs << true;
        QTest::newRow("Greek final sigma") << u"ΟΔΟΣ"_qs << u"οδος"_qs << true;
        QTest::newRow("Kelvin sign") << u"300 \u212A"_qs << u"300 k"_qs << true;
        QTest::newRow("outside the BMP") << u"x\U00010400y"_qs << u"\U00010428"_qs << true;
        QTest::newRow("past the first blocks")
            << u"plain ascii text to fill blocks, then ÉCOLE ẞ"_qs << u"école ss"_qs << true;
        QTest::newRow("different letters") << u"Köln"_qs << u"koln"_qs << false;
    }
    void letterCase_isIgnoredBeyondAscii()
    {
        QFETCH(QString, page);
        QFETCH(QString, text);
        QFETCH(bool, found);
        for (qsizetype cut = 0; cut <= page.size(); ++cut)
            QCOMPARE(foundInPieces(page, text, {cut}), found);
    }

    void surroundingSpaces_areIgnored_andKeptTextIsTheTrimmedEnd()
    {
        PageSearch padded(u"  hello  ");
        padded.feed(u"   ");
        padded.feed(u" Hello");
        padded.finish();
        QVERIFY(padded.found());

        PageSearch short_(u"a text longer than the page");
        for (const auto piece : {u"   ", u"  Hello there ", u"  "})
            short_.feed(piece);
        short_.finish();
        QVERIFY(!short_.found());
        QCOMPARE(short_.kept(), u"Hello there"_qs);

        PageSearch tail(u"abcd");
        tail.feed(u"0123456");
        tail.feed(u"78");
        tail.finish();
        QCOMPARE(tail.kept(), u"5678"_qs);
    }

    void emptyTextOrPage_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("found");
        QTest::newRow("empty page") << QString() << u"x"_qs << false;
        QTest::newRow("empty text") << u"page"_qs << QString() << true;
        QTest::newRow("blank text") << u"page"_qs << u"   "_qs << true;
        QTest::newRow("text with inner blank against blanks") << u"a     b"_qs << u"a b"_qs << false;
    }
    void emptyTextOrPage()
    {
        QFETCH(QString, page);
        QFETCH(QString, text);
        QFETCH(bool, found);
        QCOMPARE(foundInPieces(page, text, {}), found);
    }
};

QTEST_APPLESS_MAIN(TestPageSearch)
#include "tst_pagesearch.moc"
