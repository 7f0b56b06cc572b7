#include "mail/SmtpProtocol.h"

#include <QTest>
#include <QTimeZone>

using namespace sondrel::mail;

class TestSmtpProtocol : public QObject {
    Q_OBJECT
private slots:
    void replyFraming_waitsForTheLastLineAndSplitsReplies()
    {
        SmtpReplyReader reader;
        for (const char* piece : {"22", "0-first\r\n220-sec", "ond\r", "\n"}) {
            reader.append(piece);
            QVERIFY(!reader.takeReply());
        }
        reader.append("220 last\r\n250\r\n221 bye\nhello\r\n354 go");
        QCOMPARE(reader.takeReply().value(), QByteArray("220-first\r\n220-second\r\n220 last\r\n"));
        QCOMPARE(reader.takeReply().value(), QByteArray("250\r\n"));
        QCOMPARE(reader.takeReply().value(), QByteArray("221 bye\n"));
        QCOMPARE(replyCode(reader.takeReply().value()), QByteArray("hel")); // a line without code ends a reply
        QVERIFY(!reader.takeReply());
        QVERIFY(isAcceptedCode("220") && isAcceptedCode("250") && isAcceptedCode("354"));
        QVERIFY(!isAcceptedCode("221") && !isAcceptedCode("421") && !isAcceptedCode("25"));
        QVERIFY(invitesMessage("354") && !invitesMessage("250") && !invitesMessage("220"));
        QVERIFY(acceptsRecipient("251") && acceptsRecipient("250") && !acceptsRecipient("550"));
    }

    // A peer cannot make the reader keep more than one bounded reply, however it cuts its bytes.
    void replyReader_boundsLinesAndReplies_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("overflows");
        const QByteArray longest(SmtpReplyReader::kMaxReplyLine - 4, 'a');
        QTest::newRow("line at the limit") << "250 " + longest + "\r\n" << false;
        QTest::newRow("line one byte over") << "250 " + longest + "a\r\n" << true;
        QTest::newRow("endless line") << "220-" + QByteArray(3 * SmtpReplyReader::kMaxReplyLine, 'a') << true;
        QByteArray manyLines;
        while (manyLines.size() <= SmtpReplyReader::kMaxReply)
            manyLines += "220-" + longest + "\r\n";
        QTest::newRow("endless reply") << manyLines << true;
        QTest::newRow("long reply that ends in time") << manyLines.left(60 * 1024).chopped(10) + "\r\n250 ok\r\n"
                                                      << false;
    }
    void replyReader_boundsLinesAndReplies()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, overflows);
        for (const qsizetype piece : {qsizetype(1), qsizetype(1000), bytes.size()}) {
            SmtpReplyReader reader;
            std::optional<QByteArray> reply;
            for (qsizetype at = 0; at < bytes.size() && !reply && !reader.overflowed(); at += piece) {
                reader.append(QByteArrayView(bytes).sliced(at, qMin(piece, bytes.size() - at)));
                reply = reader.takeReply();
            }
            QCOMPARE(reader.overflowed(), overflows);
            QCOMPARE(reply.has_value(), !overflows);
            if (overflows) {
                reader.append("250 ok\r\n"); // nothing more is kept or handed out
                QVERIFY(!reader.takeReply());
            }
        }
    }

    void hostText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port"); // 0: reported as a bad port
        QTest::newRow("trimmed, port 25") << "  mail.example.org  "
                                          << "mail.example.org" << 25;
        QTest::newRow("port after colon") << " 127.0.0.1 : 2525 "
                                          << "127.0.0.1" << 2525;
        QTest::newRow("highest port") << "h:65535"
                                      << "h" << 65535;
        for (const char* bad : {"h:", "h:0", "h:65536", "h:smtp", "h:25:26", "h:+25"})
            QTest::newRow(bad) << bad << "h" << 0;
    }
    void hostText()
    {
        QFETCH(QString, text);
        QFETCH(int, port);
        const SmtpEndpoint endpoint = parseSmtpHost(text);
        QTEST(endpoint.host, "host");
        QCOMPARE(endpoint.portValid, port != 0);
        QCOMPARE(endpoint.portValid ? int(endpoint.port) : 0, port);
    }

    void commandLines_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QByteArray>("helo");
        QTest::addColumn<QByteArray>("mailFrom");
        QTest::newRow("plain") << " joe@example.org " << QByteArray("HELO joe\r\n")
                               << QByteArray("MAIL FROM:<joe@example.org>\r\n");
        QTest::newRow("leading @") << "@x.org" << QByteArray("HELO \r\n") << QByteArray("MAIL FROM:<@x.org>\r\n");
        QTest::newRow("no @: whole address")
            << "joe" << QByteArray("HELO joe\r\n") << QByteArray("MAIL FROM:<joe>\r\n");
        QTest::newRow("line break cannot inject")
            << "a\r\nRSET@x" << QByteArray("HELO a  RSET\r\n") << QByteArray("MAIL FROM:<a  RSET@x>\r\n");
        QTest::newRow("code page") << QStringLiteral("j\u00F6@x") << QByteArray("HELO j\xF6\r\n")
                                   << QByteArray("MAIL FROM:<j\xF6@x>\r\n");
    }
    void commandLines()
    {
        QFETCH(QString, sender);
        QTEST(heloCommand(sender), "helo");
        QTEST(mailFromCommand(sender), "mailFrom");
        QCOMPARE(rcptToCommand(u" ann@x.org "), QByteArray("RCPT TO:<ann@x.org>\r\n"));
    }

    void messageText_isTransparent_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("line of only a dot") << "a\r\n.\r\nb" << QByteArray("a\r\n..\r\nb");
        QTest::newRow("leading dots") << ".x\n..y\n.z." << QByteArray("..x\r\n...y\r\n..z.");
        QTest::newRow("inner dot stays") << "a.b" << QByteArray("a.b");
        QTest::newRow("bare LF and CR") << "a\nb\rc\n\rd" << QByteArray("a\r\nb\r\nc\r\n\r\nd");
        QTest::newRow("dot after bare CR") << "a\r.b" << QByteArray("a\r\n..b");
    }
    void messageText_isTransparent()
    {
        QFETCH(QString, text);
        QTEST(encodeMessageText(text), "wire");
    }

    void headers_cannotBeInjectedAndDateIsEnglish()
    {
        const SmtpMessage message{"N", "a@b", "R", "r@b", "Hi\r\nBcc: evil@c", ".body"};
        QCOMPARE(messageData(message, "D", "<I>"),
                 QByteArray("From:N <a@b>\r\nTo:R <r@b>\r\nSubject:Hi  Bcc: evil@c\r\n"
                            "Date: D\r\nMessage-ID: <I>\r\n\r\n..body\r\n\r\n\r\n.\r\n"));
        QLocale::setDefault(QLocale(QLocale::German));
        QCOMPARE(dateHeaderValue(QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9), QTimeZone(-(5 * 3600 + 1800)))),
                 QStringLiteral("Tue, 05 Mar 2024 07:08:09 -0530"));
        QLocale::setDefault(QLocale::c());
        const QDateTime when(QDate(2024, 3, 5), QTime(7, 8, 9, 10), QTimeZone::utc());
        QCOMPARE(messageIdValue(u"joe@mail.example.org", when, 0xabc),
                 QStringLiteral("<20240305070809010.0000000000000abc@mail.example.org>"));
        QVERIFY(messageIdValue(u"joe@bad domain", when, 1).endsWith(u"@localhost>"));
    }
};

QTEST_APPLESS_MAIN(TestSmtpProtocol)
#include "tst_smtpprotocol.moc"
