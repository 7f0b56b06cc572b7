#include "store/HelpCommand.h"
#include "store/Paths.h"

#include "support/Fakes.h"

#include <QTest>

using namespace sondrel::store;
using sondrel::platform::DesktopShell;
using sondrel::test::FakeDesktopShell;
using sondrel::test::FakeMessageBoxes;

class TestHelpCommand : public QObject {
    Q_OBJECT
private slots:
    void paths_rootFolderBecomesEmpty()
    {
        QCOMPARE(programFolderFor(QStringLiteral("/")), QString());
        QCOMPARE(programFolderFor(QStringLiteral("/opt/sondrel/")), QStringLiteral("/opt/sondrel"));
        QCOMPARE(dataFile(programFolderFor(QStringLiteral("/")), QStringLiteral("init.dat")),
                 QStringLiteral("/data/init.dat"));
        QCOMPARE(logsFile(QStringLiteral("/opt/s"), QStringLiteral("tmp.log")), QStringLiteral("/opt/s/logs/tmp.log"));
    }

    void missingHelpFile_showsMessage()
    {
        FakeDesktopShell shell;
        FakeMessageBoxes messages;
        shell.result = DesktopShell::OpenResult::NotFound;
        openHelp(shell, messages, QStringLiteral("/opt/sondrel"));
        QCOMPARE(shell.opened, QStringList{"/opt/sondrel/SDR.html"});
        QCOMPARE(messages.texts(), QStringList{"Cannot find Help file in the installation directory"});
        QCOMPARE(messages.shown.first().title, sondrel::platform::applicationTitle());
    }

    void otherOutcomes_showNothingAndEveryChoiceOpensAgain()
    {
        FakeDesktopShell shell;
        FakeMessageBoxes messages;
        openHelp(shell, messages, QString());
        shell.result = DesktopShell::OpenResult::Failed;
        openHelp(shell, messages, QString());
        QCOMPARE(shell.opened, (QStringList{"/SDR.html", "/SDR.html"}));
        QCOMPARE(messages.texts(), QStringList());
    }
};

QTEST_APPLESS_MAIN(TestHelpCommand)
#include "tst_helpcommand.moc"
