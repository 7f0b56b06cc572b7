#include "mail/SmtpProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

using namespace sondrel::mail;

namespace {

// The lines of message data as the server stores them: split at every CR LF, with the dot-stuffing undone.
QByteArrayList receivedLines(QByteArrayView data)
{
    QByteArrayList lines;
    for (qsizetype start = 0; start < data.size();) {
        qsizetype end = data.indexOf("\r\n", start);
        if (end < 0)
            end = data.size();
        const QByteArrayView line = data.sliced(start, end - start);
        lines.append((line.startsWith('.') ? line.sliced(1) : line).toByteArray());
        start = end + 2;
    }
    return lines;
}

} // namespace

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

    void ehloReply_announcesExtensions_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("announced");
        QTest::newRow("all, mechanisms among others")
            << QByteArray("250-mail.example.org greets you\r\n250-SIZE 1000\r\n250-STARTTLS\r\n"
                          "250-AUTH CRAM-MD5 PLAIN XOAUTH2 LOGIN\r\n250 8BITMIME\r\n")
            << "tls plain login xoauth2 8bit";
        QTest::newRow("OAuth2 mechanisms")
            << QByteArray("250-x\r\n250-AUTH LOGIN oauthbearer XOAUTH2\r\n250 OK\r\n") << "login xoauth2 oauthbearer";
        QTest::newRow("OAUTHBEARER alone, older form")
            << QByteArray("250-x\r\n250 AUTH=OAUTHBEARER\r\n") << "oauthbearer";
        QTest::newRow("old AUTH= form, lower case, bare LF")
            << QByteArray("250-x\n250-auth=login\n250-starttls\n250 8bitmime\n") << "tls login 8bit";
        QTest::newRow("keywords must match whole")
            << QByteArray("250-x\r\n250-STARTTLSX\r\n250-AUTHPLAIN\r\n250-AUTH PLAINX LOGINS\r\n250 X-8BITMIME\r\n")
            << "";
        QTest::newRow("greeting only") << QByteArray("250 STARTTLS\r\n") << "";
        QTest::newRow("refused") << QByteArray("502-STARTTLS\r\n502 AUTH PLAIN\r\n") << "";
    }
    void ehloReply_announcesExtensions()
    {
        QFETCH(QByteArray, reply);
        const SmtpExtensions found = parseEhloReply(reply);
        QTEST(QStringList({found.startTls ? "tls" : "", found.authPlain ? "plain" : "", found.authLogin ? "login" : "",
                           found.authXoauth2 ? "xoauth2" : "", found.authOauthBearer ? "oauthbearer" : "",
                           found.eightBitMime ? "8bit" : ""})
                  .join(u' ')
                  .simplified(),
              "announced");
    }

    void loginAndExtensionCommands()
    {
        QCOMPARE(ehloCommand(u"mail.example.org\r\nQUIT"), QByteArray("EHLO mail.example.org  QUIT\r\n"));
        QCOMPARE(startTlsCommand(), QByteArray("STARTTLS\r\n"));
        QCOMPARE(authPlainCommand(u"me@example.org", u"s\u00E9cret"),
                 QByteArray("AUTH PLAIN AG1lQGV4YW1wbGUub3JnAHPDqWNyZXQ=\r\n"));
        QCOMPARE(authLoginCommand(), QByteArray("AUTH LOGIN\r\n"));
        QCOMPARE(base64Line(u"me@example.org"), QByteArray("bWVAZXhhbXBsZS5vcmc=\r\n"));
        QCOMPARE(base64Line(u"s\u00E9cret"), QByteArray("c8OpY3JldA==\r\n"));
        QCOMPARE(mailFromCommand(u" joe@example.org ", true),
                 QByteArray("MAIL FROM:<joe@example.org> BODY=8BITMIME\r\n"));
        QCOMPARE(mailFromCommand(u" joe@example.org ", false), mailFromCommand(u" joe@example.org "));
    }

    // The client responses of both OAuth2 mechanisms, byte for byte, and the user name as an escaped saslname.
    void oauthLoginCommands()
    {
        QCOMPARE(xoauth2Command(u"me@example.org", u"ya29.tok"),
                 QByteArray("AUTH XOAUTH2 dXNlcj1tZUBleGFtcGxlLm9yZwFhdXRoPUJlYXJlciB5YTI5LnRvawEB\r\n"));
        QCOMPARE(
            oauthBearerCommand(u"me@example.org", u"smtp.example.org", 587, u"ya29.tok"),
            QByteArray("AUTH OAUTHBEARER bixhPW1lQGV4YW1wbGUub3JnLAFob3N0PXNtdHAuZXhhbXBsZS5vcmcBcG9ydD01ODcBYXV0aD1"
                       "CZWFyZXIgeWEyOS50b2sBAQ==\r\n"));
        const auto response = [](const QByteArray& command) {
            return QByteArray::fromBase64(command.sliced(command.indexOf(' ', 5) + 1).chopped(2));
        };
        QCOMPARE(response(oauthBearerCommand(u"a=b,c", u"h", 465, u"t")),
                 QByteArray("n,a=a=3Db=2Cc,\x01host=h\x01port=465\x01"
                            "auth=Bearer t\x01\x01"));
        QCOMPARE(response(oauthBearerCommand(u"", u"h", 25, u"t")), QByteArray("n,,\x01host=h\x01port=25\x01"
                                                                               "auth=Bearer t\x01\x01"));
        QCOMPARE(response(xoauth2Command(u"j\u00F6rg", u"t")), QByteArray("user=j\xC3\xB6rg\x01"
                                                                          "auth=Bearer t\x01\x01"));
        QCOMPARE(xoauth2ErrorAnswer(), QByteArray("\r\n"));
        QCOMPARE(QByteArray::fromBase64(oauthBearerErrorAnswer().chopped(2)), QByteArray("\x01"));
        QVERIFY(oauthBearerErrorAnswer().endsWith("\r\n"));
    }

    // The error challenge of a refused token, read into words; whatever the server sends, it is read without harm.
    void oauthChallenge_isReadIntoWords_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("tokenRejected");
        QTest::newRow("Google, expired token")
            << QByteArray(
                   "334 eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIG1hYyIsInNjb3BlIjoiaHR0cHM6Ly9tYWlsLmdvb2dsZS5j"
                   "b20vIn0K\r\n")
            << "The server refused the access token (status 401; scope https://mail.google.com/)." << true;
        QTest::newRow("RFC 7628 invalid_token")
            << QByteArray(
                   "334 eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIiwic2NvcGUiOiJleGFtcGxlX3Njb3BlIiwib3BlbmlkLWNvbmZpZ3VyYXRp"
                   "b24iOiJodHRwczovL2V4YW1wbGUuY29tLy53ZWxsLWtub3duL29wZW5pZC1jb25maWd1cmF0aW9uIn0=\r\n")
            << "The server refused the access token (status invalid_token; scope example_scope)." << true;
        QTest::newRow("insufficient scope")
            << QByteArray("334 eyJzdGF0dXMiOiJpbnN1ZmZpY2llbnRfc2NvcGUiLCJzY29wZSI6IlNNVFAuU2VuZCJ9\r\n")
            << "The access token lacks the permission to send mail (status insufficient_scope; scope SMTP.Send)."
            << false;
        QTest::newRow("another status, numbers as JSON numbers")
            << QByteArray("334 ") + QByteArray(R"({"status":400})").toBase64() + "\r\n"
            << "The server refused the login (status 400)." << false;
        QTest::newRow("control characters blanked")
            << QByteArray("334 eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIiwic2NvcGUiOiJhB2IifQ==\r\n")
            << "The server refused the access token (status invalid_token; scope a b)." << true;
        const QString unreadable = "The server refused the login with a challenge that could not be read.";
        QTest::newRow("garbage base64") << QByteArray("334 eyJz*dGF0dXM?\r\n") << unreadable << false;
        QTest::newRow("empty challenge") << QByteArray("334 \r\n") << unreadable << false;
        QTest::newRow("JSON that is not an object") << QByteArray("334 WyI0MDEiXQ==\r\n") << unreadable << false;
        QTest::newRow("base64 of binary")
            << QByteArray("334 ") + QByteArray("\xFF\x00{\"status\"", 10).toBase64() + "\r\n"
            << unreadable << false;
        QTest::newRow("not a challenge") << QByteArray("535 5.7.8 no\r\n") << unreadable << false;
    }
    void oauthChallenge_isReadIntoWords()
    {
        QFETCH(QByteArray, reply);
        const OAuthChallenge challenge = readOAuthChallenge(reply);
        QTEST(challenge.reason, "reason");
        QTEST(challenge.tokenRejected, "tokenRejected");
    }

    void recipientText_isSplitIntoAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("addresses");
        QTest::newRow("single, trimmed") << "  ann@example.org " << QStringList{"ann@example.org"};
        QTest::newRow("comma and blank") << "ann@x.org, bob@y.org" << QStringList{"ann@x.org", "bob@y.org"};
        QTest::newRow("semicolons, empties and blanks")
            << " ;ann@x.org;; , bob@y.org ;cy@z.org, " << QStringList{"ann@x.org", "bob@y.org", "cy@z.org"};
        QTest::newRow("nothing") << " , ; " << QStringList{};
    }
    void recipientText_isSplitIntoAddresses()
    {
        QFETCH(QString, text);
        QTEST(splitRecipients(text), "addresses");
    }

    // An ASCII message is sent as before, whatever the server announced; only the To line names every recipient.
    void asciiMessage_keepsTodaysBytes_data()
    {
        QTest::addColumn<QString>("recipients");
        QTest::addColumn<QByteArray>("toLine");
        QTest::newRow("one recipient") << "ann@example.org" << QByteArray("To:Ann <ann@example.org>\r\n");
        QTest::newRow("several") << "ann@example.org, bob@example.org;; cy@example.org ,"
                                 << QByteArray("To:Ann <ann@example.org>, <bob@example.org>, <cy@example.org>\r\n");
        QTest::newRow("a long list folds between addresses")
            << "annabel.longname@example.org,bob.longername@example.org,cy.evenlongername@example.org"
            << QByteArray("To:Ann <annabel.longname@example.org>, <bob.longername@example.org>,\r\n"
                          " <cy.evenlongername@example.org>\r\n");
    }
    void asciiMessage_keepsTodaysBytes()
    {
        QFETCH(QString, recipients);
        QFETCH(QByteArray, toLine);
        const SmtpMessage message{"N", "a@b", "Ann", recipients, "Hi\r\nBcc: evil@c", ".body\nline \n"};
        QVERIFY(isAsciiMessage(message));
        const QByteArray before = messageData(message, "D", "<I>");
        const qsizetype to = before.indexOf("\r\nTo:") + 2;
        const QByteArray expected = before.first(to) + toLine + before.sliced(before.indexOf("\r\nSubject:") + 2);
        QCOMPARE(messageData(message, "D", "<I>", {false}), expected);
        QCOMPARE(messageData(message, "D", "<I>", {true}), expected);
    }

    // What is typed in any script reaches the reader unchanged: Python's email package reads the message back.
    // The subject spans several encoded words, with a boundary inside its run of four-byte characters. The name
    // fits one word: Python 3.11 keeps the blank between two encoded words of a display name.
    void mimeMessage_readsBackAsTyped_data()
    {
        QTest::addColumn<bool>("eightBit");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("transfer");
        const QString body = QStringLiteral("Сайт снова отвечает.\n.точка в начале строки\nпробел в конце \n"
                                            "равно = и\tтаб\n\n") +
                             QString(30, u'ж') + QStringLiteral(" длинная строка ") + QString(60, u'ы') +
                             QStringLiteral("\r\nконец");
        QTest::newRow("quoted-printable") << false << body << "quoted-printable";
        QTest::newRow("8bit") << true << body << "8bit";
        QTest::newRow("8bit, but a line too long for it")
            << true << QStringLiteral("начало\n") + QString(500, u'ы') << "quoted-printable";
    }
    void mimeMessage_readsBackAsTyped()
    {
        QFETCH(bool, eightBit);
        QFETCH(QString, body);
        QFETCH(QString, transfer);
        const SmtpMessage message{QStringLiteral("Nadia Орлова 🌻"),
                                  "nadia@example.org",
                                  QStringLiteral("Борис"),
                                  "boris@example.org; anna@example.org",
                                  QStringLiteral("Сайт example.org снова доступен 🌻🌻🌻🌻🌻🌻🌻🌻🌻🌻🌻🌻\r\n"
                                                 "Bcc: evil@example.org\r\nпроверка прошла успешно"),
                                  body};
        QVERIFY(!isAsciiMessage(message));
        const QByteArray data =
            messageData(message, "Tue, 05 Mar 2024 07:08:09 +0000", "<1.2@example.org>", {eightBit});
        QVERIFY(data.endsWith("\r\n.\r\n"));
        const QByteArrayList lines = receivedLines(QByteArrayView(data).chopped(3));
        const qsizetype headEnd = lines.indexOf(QByteArray());
        QVERIFY(headEnd > 0);
        qsizetype softBreaks = 0;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QByteArray& line = lines[i];
            const bool eightBitLine = i > headEnd && transfer == u"8bit";
            QVERIFY2(line.size() <= (eightBitLine ? 998 : 76), line.constData());
            QVERIFY2(!line.contains('\r') && !line.contains('\n'), line.constData());
            // Anything but 8bit is ASCII, with no blank at the end of a line for a relay to trim.
            const bool sevenBit = std::all_of(line.cbegin(), line.cend(), [](char c) { return c > 0; }) &&
                                  !line.endsWith(' ') && !line.endsWith('\t');
            QVERIFY2(eightBitLine || sevenBit, line.constData());
            softBreaks += i > headEnd && line.endsWith('=');
        }
        QCOMPARE(softBreaks > 0, transfer != u"8bit");

        if (!QFile::exists("/usr/bin/python3"))
            QSKIP("python3 is not installed");
        QProcess python;
        QSignalSpy ended(&python, &QProcess::finished);
        python.start("/usr/bin/python3",
                     {"-c", "import email, email.policy, json, sys\n"
                            "m = email.message_from_bytes(sys.stdin.buffer.read(), policy=email.policy.default)\n"
                            "print(json.dumps({'headers': list(m.keys()), 'subject': str(m['Subject']),\n"
                            "  'from': [[a.display_name, a.addr_spec] for a in m['From'].addresses],\n"
                            "  'to': [[a.display_name, a.addr_spec] for a in m['To'].addresses],\n"
                            "  'transfer': str(m['Content-Transfer-Encoding']),\n"
                            "  'body': m.get_content().replace('\\r\\n', '\\n'),\n"
                            "  'defects': len(m.defects) + sum(len(m[h].defects) for h in m.keys())}))\n"});
        python.write(lines.join("\r\n") + "\r\n");
        python.closeWriteChannel();
        QVERIFY(ended.wait(20000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());

        const QString typedBody = QString(body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) + "\n\n\n";
        const QJsonObject expected{
            {"headers", QJsonArray{"From", "To", "Subject", "Date", "Message-ID", "MIME-Version", "Content-Type",
                                   "Content-Transfer-Encoding"}},
            {"subject", QString(message.subject).replace(QStringLiteral("\r\n"), QStringLiteral("  "))},
            {"from", QJsonArray{QJsonArray{message.senderName, "nadia@example.org"}}},
            {"to",
             QJsonArray{QJsonArray{QStringLiteral("Борис"), "boris@example.org"}, QJsonArray{"", "anna@example.org"}}},
            {"transfer", transfer},
            {"body", typedBody},
            {"defects", 0}};
        QCOMPARE(QJsonDocument::fromJson(python.readAllStandardOutput()).toJson(), QJsonDocument(expected).toJson());
    }
};

QTEST_GUILESS_MAIN(TestSmtpProtocol)
#include "tst_smtpprotocol.moc"
