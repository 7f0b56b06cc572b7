#include "mail/OAuth2.h"

#include <QTest>
#include <QUrlQuery>

using namespace sondrel::mail;

// The pieces of an OAuth2 login that are pure text: PKCE, the requests, and what comes back.
class TestOAuth2 : public QObject {
    Q_OBJECT
private slots:
    // The example of RFC 7636, appendix B.
    void pkce_matchesTheRfcExample()
    {
        const unsigned char octets[32] = {116, 24,  223, 180, 151, 153, 224, 37,  79, 250, 96, 125, 216, 173, 187, 186,
                                          22,  212, 37,  77,  105, 214, 191, 240, 91, 88,  5,  88,  83,  132, 141, 121};
        const Pkce pkce = makePkce(QByteArrayView(reinterpret_cast<const char*>(octets), 32));
        QCOMPARE(pkce.verifier, QByteArray("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"));
        QCOMPARE(pkce.challenge, QByteArray("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
    }

    void authorizationRequest_carriesEveryItem()
    {
        OAuthSettings google;
        google.provider = OAuthProvider::Google;
        google.clientId = " id.apps ";
        const QUrl url = authorizationRequestUrl(oauthEndpoints(google), google.clientId,
                                                 QUrl("http://127.0.0.1:5000/"), "st", {"v", "ch"}, "me+x@gmail.com");
        const QUrlQuery query(url);
        QCOMPARE(url.host(), QStringLiteral("accounts.google.com"));
        QCOMPARE(query.queryItemValue("client_id"), QStringLiteral("id.apps"));
        QCOMPARE(query.queryItemValue("redirect_uri", QUrl::FullyDecoded), QStringLiteral("http://127.0.0.1:5000/"));
        QCOMPARE(query.queryItemValue("scope", QUrl::FullyDecoded), QStringLiteral("https://mail.google.com/"));
        QCOMPARE(query.queryItemValue("login_hint", QUrl::FullyDecoded), QStringLiteral("me+x@gmail.com"));
        QCOMPARE(query.queryItemValue("code_challenge_method"), QStringLiteral("S256"));
        QCOMPARE(query.queryItemValue("access_type"), QStringLiteral("offline"));

        OAuthSettings custom;
        custom.provider = OAuthProvider::Custom;
        custom.clientId = "id";
        custom.authorizationUrl = "https://id.example/auth?tenant=t";
        custom.tokenUrl = "http://127.0.0.1:9/token";
        custom.scope = "smtp";
        QVERIFY(oauthSettingsProblem(custom).isEmpty());
        const QUrlQuery own(
            authorizationRequestUrl(oauthEndpoints(custom), "id", QUrl("http://127.0.0.1:1/"), "s", {"v", "c"}, {}));
        QCOMPARE(own.queryItemValue("tenant"), QStringLiteral("t"));
        QVERIFY(!own.hasQueryItem("login_hint"));
        for (const char* unsafe : {"http://id.example/token", "ftp://127.0.0.1/", "http://localhost/token", "token"}) {
            custom.tokenUrl = unsafe;
            QVERIFY2(!oauthSettingsProblem(custom).isEmpty(), unsafe);
        }
    }

    void tokenReply_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<bool>("signInAgain");
        QTest::addColumn<QString>("words"); // the access token, or part of the error
        QTest::newRow("granted") << 200
                                 << QByteArray(R"({"access_token":"at1","token_type":"Bearer","expires_in":3599})")
                                 << true << false << "at1";
        QTest::newRow("lifetime as text, no type")
            << 200 << QByteArray(R"({"access_token":"at2","expires_in":"60"})") << true << false << "at2";
        QTest::newRow("no token") << 200 << QByteArray(R"({"token_type":"Bearer"})") << false << false
                                  << "no usable access token";
        QTest::newRow("token with a line break")
            << 200 << QByteArray(R"({"access_token":"a\r\nb"})") << false << false << "no usable access token";
        QTest::newRow("not bearer") << 200 << QByteArray(R"({"access_token":"at","token_type":"mac"})") << false
                                    << false << "\"mac\"";
        QTest::newRow("revoked") << 400
                                 << QByteArray(
                                        R"({"error":"invalid_grant","error_description":"Token has been revoked."})")
                                 << false << true << "invalid_grant (Token has been revoked.)";
        QTest::newRow("server trouble") << 503 << QByteArray("<html>busy</html>") << false << false
                                        << "HTTP status 503";
        QTest::newRow("no answer") << 0 << QByteArray() << false << false << "Connection refused";
    }
    void tokenReply()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, words);
        const TokenGrant grant = readTokenReply(status, body, "Connection refused");
        QTEST(grant.granted, "granted");
        QTEST(grant.signInAgain, "signInAgain");
        QVERIFY2((grant.granted ? grant.accessToken : grant.error).contains(words), qPrintable(grant.error));
    }

    void commandOutput_isOneVisibleLine()
    {
        QString problem;
        QCOMPARE(tokenFromCommandOutput("  ya29.a0-Token_x \n", &problem), QStringLiteral("ya29.a0-Token_x"));
        for (const QByteArray& bad : {QByteArray("\n \n"), QByteArray("two\nlines"), QByteArray("t\xc3\xa9")}) {
            problem.clear();
            QVERIFY(tokenFromCommandOutput(bad, &problem).isEmpty());
            QVERIFY(!problem.isEmpty());
        }
    }
};

QTEST_MAIN(TestOAuth2)
#include "tst_oauth2.moc"
