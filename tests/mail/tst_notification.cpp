#include "mail/NotificationDecision.h"
#include "mail/NotificationMessage.h"

#include <QTest>

using namespace sondrel::mail;

namespace {

struct Check {
    bool pingOk, pageOk, notify = true, pageCheck = true;
};

// Runs the decision after each check of a run (all flags true at its start); returns the checks that sent.
QList<int> sentAt(const QList<Check>& checks, StatusFlags* last = nullptr)
{
    StatusFlags flags;
    QList<int> sent;
    for (qsizetype i = 0; i < checks.size(); ++i) {
        flags.PingOk = checks[i].pingOk;
        flags.PageOk = checks[i].pageOk;
        if (decideNotification(flags, checks[i].notify, checks[i].pageCheck))
            sent.append(int(i) + 1);
    }
    if (last)
        *last = flags;
    return sent;
}

} // namespace

class TestNotification : public QObject {
    Q_OBJECT
private slots:
    void decisionTable()
    {
        StatusFlags last;
        QCOMPARE(sentAt({{true, true}, {true, true}}), QList<int>{});
        // The ping flag never comes back within a run: one e-mail for the failure.
        QCOMPARE(sentAt({{true, true}, {false, true}, {false, true}}), QList<int>{2});
        QCOMPARE(sentAt({{true, true}, {true, false}, {true, false}, {true, true}}), (QList<int>{2, 4}));
        // Page check off: a page change alone is neither sent nor remembered, so turning the check on reports it.
        QCOMPARE(sentAt({{true, false, true, false}, {true, false, true, false}}, &last), QList<int>{});
        QVERIFY(last.LastPageOk);
        QCOMPARE(sentAt({{true, false, true, false}, {true, false, true, true}}), QList<int>{2});
        QCOMPARE(sentAt({{true, false, true, false}, {false, false, true, false}}, &last), QList<int>{2});
        QVERIFY(!last.LastPingOk && !last.LastPageOk);
        // Notification off: remembered silently, not reported when it is turned on.
        QCOMPARE(sentAt({{false, true, false}, {false, true, true}}, &last), QList<int>{});
        QVERIFY(!last.LastPingOk);
    }

    void notificationText_piecesInOrder()
    {
        const QString sep(25, u'*');
        QCOMPARE(kSeparatorLine, sep);
        QCOMPARE(notificationText(QStringLiteral("Stored"), {"000001 a", "000002 b", "000003 c"}),
                 QStringLiteral("Stored\n%1\n\r\n%1\r\n\r\n000001 a\r\n\r\n000002 b\r\n\r\n000003 c\r\n").arg(sep));
        QCOMPARE(withSendSeparator(withSendSeparator("m")), QStringLiteral("m\r\n%1\r\n\r\n%1\r\n").arg(sep));
        QCOMPARE(attachedRecordCount(u"000003"), 3);
        QCOMPARE(attachedRecordCount(u"abc"), 0);
        QCOMPARE(attachedRecordCount(u"100000"), 32767);
    }
};

QTEST_APPLESS_MAIN(TestNotification)
#include "tst_notification.moc"
