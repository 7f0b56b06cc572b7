#include "core/SiteImport.h"

#include <QTest>

using sondrel::core::parseSiteList;
using sondrel::core::SiteImport;

class TestSiteImport : public QObject {
    Q_OBJECT
private slots:
    // Refused lines read "line number, text: reason".
    void siteList_takesWebAddressesAsTheyStand_andRefusesTheRest_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("alreadySaved");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QStringList>("refused");

        QTest::newRow("byte order mark, CRLF, blanks and comments")
            << QByteArray("\xEF\xBB\xBFwww.example.com\r\n\r\n# a comment\r\n  https://Example.org/status  \r\n"
                          "\t \r\n   # an indented comment\n127.0.0.1\n::1\n[2001:db8::1]:8080/x\nfe80::1%eth0\n"
                          "localhost:8080")
            << QStringList{} << QStringList{"www.example.com",
                                            "https://Example.org/status",
                                            "127.0.0.1",
                                            "::1",
                                            "[2001:db8::1]:8080/x",
                                            "fe80::1%eth0",
                                            "localhost:8080"}
            << QStringList{};

        // 255 bytes fit the web address field, whether the code page holds the text or it is kept as UTF-8.
        const QString site = QStringLiteral("example.com/");
        const QString fits = site + QString(243, u'x');
        const QString eAcute = site + QString(243, u'\u00e9');
        const QString zhe = site + QString(121, u'\u0436'); // two bytes each in UTF-8
        const QString cyrillicHost = QStringLiteral(u"\u043f\u0440\u0438\u043c\u0435\u0440.\u0440\u0444");
        const QByteArray lines = QStringList{"example.com/a b",
                                             "ftp://ftp.example.com/",
                                             "mailto:someone@example.com",
                                             "/etc/passwd",
                                             "example.com:99999",
                                             fits,
                                             fits + u'y',
                                             "\x01x.example",
                                             "bad\uffff.example",
                                             eAcute,
                                             eAcute + u'\u00e9',
                                             cyrillicHost,
                                             zhe,
                                             zhe + u'\u0436'}
                                     .join(u'\n')
                                     .toUtf8()
                                     .replace("\xef\xbf\xbf", "\xff"); // U+FFFF stands for a byte that is not UTF-8
        QTest::newRow("refused, each with its reason")
            << lines << QStringList{} << QStringList{fits, eAcute, cyrillicHost, zhe}
            << QStringList{"1 example.com/a b: contains a space",
                           "2 ftp://ftp.example.com/: not a web address",
                           "3 mailto:someone@example.com: not a web address",
                           "4 /etc/passwd: not a web address",
                           "5 example.com:99999: not a web address",
                           "7 " + fits + "y: longer than 255 bytes",
                           "8 \x01x.example: contains a control character",
                           u"9 bad\ufffd.example: not UTF-8 text"_qs,
                           "11 " + eAcute + u"\u00e9: longer than 255 bytes"_qs,
                           "14 " + zhe + u"\u0436: longer than 255 bytes"_qs};

        QTest::newRow("duplicates, ignoring case")
            << QByteArray("www.example.com\nsite.example\nSITE.example\n  site.example\nhttp://site.example\n")
            << QStringList{" WWW.Example.COM ", "other.example"} << QStringList{"site.example", "http://site.example"}
            << QStringList{"1 www.example.com: already a site", "3 SITE.example: listed twice",
                           "4 site.example: listed twice"};

        QTest::newRow("empty file") << QByteArray() << QStringList{"www.example.com"} << QStringList{} << QStringList{};
    }
    void siteList_takesWebAddressesAsTheyStand_andRefusesTheRest()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, alreadySaved);
        QFETCH(QStringList, addresses);
        QFETCH(QStringList, refused);
        const SiteImport result = parseSiteList(content, alreadySaved);
        QCOMPARE(result.addresses, addresses);
        QStringList told;
        for (const auto& line : result.refused)
            told.append(QStringLiteral("%1 %2: %3").arg(line.lineNumber).arg(line.text, line.reason));
        QCOMPARE(told, refused);
    }
};

QTEST_APPLESS_MAIN(TestSiteImport)
#include "tst_siteimport.moc"
