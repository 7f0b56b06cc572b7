#include "probe/PageAddress.h"

#include <QTest>

using namespace sondrel::probe;

class TestPageAddress : public QObject {
    Q_OBJECT
private slots:
    void typedAddresses_becomeWhatABrowserFetches_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("fetched");
        QTest::newRow("bare host") << "www.example.com"
                                   << "http://www.example.com";
        QTest::newRow("blanks around") << "   www.example.com/a?b=1  "
                                       << "http://www.example.com/a?b=1";
        QTest::newRow("host and port") << "localhost:8080/status"
                                       << "http://localhost:8080/status";
        QTest::newRow("address and port") << "127.0.0.1:81"
                                          << "http://127.0.0.1:81";
        QTest::newRow("host that looks like ftp") << "ftp.example.com"
                                                  << "http://ftp.example.com";
        QTest::newRow("IPv6") << "::1"
                              << "http://[::1]";
        QTest::newRow("IPv6 with port") << "[::1]:8080/x"
                                        << "http://[::1]:8080/x";
        QTest::newRow("https kept") << "HTTPS://Example.COM/Path"
                                    << "https://example.com/Path";
        QTest::newRow("blank inside the path") << "example.com/a b"
                                               << "http://example.com/a%20b";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("blanks") << "    "
                                << "";
        QTest::newRow("local path") << "/etc/passwd"
                                    << "";
        QTest::newRow("file address") << "file:///etc/passwd"
                                      << "";
        QTest::newRow("drive path") << "C:\\sites\\index.htm"
                                    << "";
        QTest::newRow("ftp address") << "ftp://ftp.example.com/"
                                     << "";
        QTest::newRow("mail address") << "mailto:someone@example.com"
                                      << "";
        QTest::newRow("http without a host") << "http:///index.html"
                                             << "";
        QTest::newRow("port out of range") << "example.com:99999"
                                           << "";
    }
    void typedAddresses_becomeWhatABrowserFetches()
    {
        QFETCH(QString, typed);
        QFETCH(QString, fetched);
        QCOMPARE(pageAddress(typed).toString(QUrl::FullyEncoded), fetched);
    }

    // What is pinged: the host of an address with a scheme, port, path or brackets; any other text as typed.
    void typedAddresses_pingTheirHost_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("pinged");
        QTest::newRow("plain name, blanks kept") << " www.example.com "
                                                 << " www.example.com ";
        QTest::newRow("dotted address") << "127.0.0.1"
                                        << "127.0.0.1";
        QTest::newRow("short dotted address") << "127.1"
                                              << "127.1";
        QTest::newRow("bare IPv6") << "2001:db8::1"
                                   << "2001:db8::1";
        QTest::newRow("unreadable text") << "not a host!"
                                         << "not a host!";
        QTest::newRow("URL with path") << "https://example.com/status"
                                       << "example.com";
        QTest::newRow("host and port") << "127.0.0.1:8090"
                                       << "127.0.0.1";
        QTest::newRow("name and path") << "example.com/health"
                                       << "example.com";
        QTest::newRow("IPv6 in brackets") << "[2001:db8::1]"
                                          << "2001:db8::1";
        QTest::newRow("IPv6 URL with port") << "https://[::1]:8080/health"
                                            << "::1";
        QTest::newRow("other scheme") << "ftp://files.example.com/"
                                      << "files.example.com";
    }
    void typedAddresses_pingTheirHost()
    {
        QFETCH(QString, typed);
        QFETCH(QString, pinged);
        QCOMPARE(pingTarget(typed), pinged);
    }
};

QTEST_APPLESS_MAIN(TestPageAddress)
#include "tst_pageaddress.moc"
