#include "mail/EmailSettings.h"
#include "mail/MailSecurity.h"
#include "mail/TrustedCertificates.h"
#include "store/AlertSettingsFile.h"
#include "store/DesktopSettingsFile.h"
#include "store/SiteSettings.h"

#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace sondrel::store;
using sondrel::mail::EmailSettingsFile;
using sondrel::mail::MailSecurity;
using sondrel::mail::MailSecurityFile;
using sondrel::mail::SmtpSecurity;
using sondrel::mail::TrustedCertificates;

// Given the program folder: whether the file's settings were read, or whether a save succeeded (with its reason).
using ReadsBack = std::function<bool(const QString& folder)>;
using Save = std::function<bool(const QString& folder, QString* error)>;
Q_DECLARE_METATYPE(ReadsBack)
Q_DECLARE_METATYPE(Save)

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray padded(const QByteArray& text)
{
    return text + QByteArray(255 - text.size(), ' ');
}

SiteSettings sample()
{
    return {QStringLiteral("www.example.org"), QStringLiteral("Hello"), 60, QStringLiteral("Welcome"), -1, -1, -1, 0};
}

// What the many-site tests keep as site n: every field differs from site to site.
SiteSettings numbered(int n)
{
    return {QStringLiteral("site%1.example").arg(n),
            QStringLiteral("Packet %1").arg(n),
            qint16(n),
            QStringLiteral("Welcome %1").arg(n),
            qint16(n % 2 ? -1 : 0),
            -1,
            0,
            qint16(n % 3 ? 0 : -1)};
}

// Today's data/alerts.ini after site 2 alone was saved with these settings.
constexpr char kAlertsSite2Saved[] = "[Site1]\n"
                                     "FailuresBeforeAlert=1\n"
                                     "SendRecoveryNotice=false\n"
                                     "SuccessesBeforeRecovery=1\n"
                                     "RemindMinutes=0\n"
                                     "SlowMs=0\n"
                                     "CertificateDays=0\n"
                                     "\n"
                                     "[Site2]\n"
                                     "FailuresBeforeAlert=3\n"
                                     "SendRecoveryNotice=true\n"
                                     "SuccessesBeforeRecovery=2\n"
                                     "RemindMinutes=60\n"
                                     "SlowMs=1500\n"
                                     "CertificateDays=14\n"
                                     "\n"
                                     "[Site3]\n"
                                     "FailuresBeforeAlert=1\n"
                                     "SendRecoveryNotice=false\n"
                                     "SuccessesBeforeRecovery=1\n"
                                     "RemindMinutes=0\n"
                                     "SlowMs=0\n"
                                     "CertificateDays=0\n";

} // namespace

class TestSiteSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_folder;
    QString initDat() const { return m_folder + QStringLiteral("/data/init.dat"); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_folder = m_dir.path() + u'/' + QString::fromLatin1(QTest::currentTestFunction()) +
                   QString::fromLatin1(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(m_folder + QStringLiteral("/data")));
    }

    void encode_layoutTrimCutAndCodePage()
    {
        SiteSettings s = sample();
        s.webAddress = QStringLiteral("  www.example.org   ");
        s.packetString = QStringLiteral(u"Caf\u00e9 \u20ac \u0416");
        s.interval = 0x1234;
        s.mainSiteString = QString(300, u'x');
        s.checkMainPage = 0x0102;
        // One character past the code page stores that whole text as UTF-8.
        const QByteArray expected = padded("www.example.org") + padded("Caf\xc3\xa9 \xe2\x82\xac \xd0\x96") +
                                    QByteArray("\x34\x12", 2) + QByteArray(255, 'x') +
                                    QByteArray("\xff\xff\xff\xff\xff\xff\x02\x01", 8);
        QCOMPARE(encodeSiteSettings(s), expected);
    }

    void textsInAnyScript_surviveSaveAndLoad_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("windows-1252 as before") << u"Café € Gruß"_qs << QByteArray("Caf\xe9 \x80 Gru\xdf");
        QTest::newRow("cyrillic") << u"Добро пожаловать"_qs << u"Добро пожаловать"_qs.toUtf8();
        QTest::newRow("arabic") << u"مرحبا بكم"_qs << u"مرحبا بكم"_qs.toUtf8();
        QTest::newRow("korean") << u"환영합니다"_qs << u"환영합니다"_qs.toUtf8();
        QTest::newRow("japanese") << u"ようこそ"_qs << u"ようこそ"_qs.toUtf8();
    }
    void textsInAnyScript_surviveSaveAndLoad()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, stored);
        SiteSettings s = sample();
        s.webAddress = text + u".example"_qs;
        s.packetString = text;
        s.mainSiteString = text;
        SiteSettingsFile file(m_folder);
        QVERIFY(file.save(2, s));
        QCOMPARE(readAll(initDat()).sliced(775 + 512, 255), padded(stored));
        QCOMPARE(*file.load(2), s);
    }

    void intervalToStore_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("stored");
        QTest::newRow("whole") << "60" << 60;
        QTest::newRow("leading blanks and zeros") << "  \t 0075" << 75;
        QTest::newRow("trailing text") << "120 seconds" << 120;
        QTest::newRow("fraction down") << "12.4" << 12;
        QTest::newRow("fraction half up") << "12.5" << 13;
        QTest::newRow("negative half") << "-2.5" << -3;
        QTest::newRow("rounds past limit") << "32767.5" << 32767;
        QTest::newRow("many digits") << QString(40, u'9') << 32767;
        QTest::newRow("too small") << "-99999" << -32768;
        QTest::newRow("words") << "five" << 0;
        QTest::newRow("blank after sign") << "- 5" << 0;
    }
    void intervalToStore()
    {
        QFETCH(QString, text);
        QFETCH(int, stored);
        QCOMPARE(int(::intervalToStore(text)), stored);
    }

    void slots_areWrittenInPlaceAndUnwrittenOnesLoadEmpty()
    {
        SiteSettingsFile file(m_folder);
        QString error;
        QCOMPARE(file.load(1, &error), std::optional<SiteSettings>(SiteSettings{}));
        QCOMPARE(QFileInfo(initDat()).size(), 0); // created empty by loading

        QVERIFY2(file.save(2, sample(), &error), qPrintable(error));
        QCOMPARE(readAll(initDat()), QByteArray(775, '\0') + encodeSiteSettings(sample()));
        QCOMPARE(*file.load(1), SiteSettings{});
        QCOMPARE(*file.load(3), SiteSettings{});

        SiteSettings third = sample();
        third.interval = 5;
        QVERIFY(file.save(3, third));
        QCOMPARE(readAll(initDat()).sliced(775), encodeSiteSettings(sample()) + encodeSiteSettings(third));
        QCOMPARE(*file.load(2), sample());
        QCOMPARE(*file.load(3), third);
        QVERIFY(!file.save(kMaxSites + 1, third, &error));
    }

    void tenThousandSites_areSavedInOneWrite_andTheFirstThreeKeepTheirBytes()
    {
        SiteSettingsFile file(m_folder);
        QString error;
        for (int site = 1; site <= kSiteSlots; ++site)
            QVERIFY(file.save(site, numbered(site)));
        const QByteArray firstThree = readAll(initDat());
        QCOMPARE(firstThree.size(), 3 * 775);

        std::vector<std::pair<int, SiteSettings>> many;
        std::vector<SiteSettings> expected;
        for (int site = 1; site <= 10000; ++site) {
            expected.push_back(numbered(site));
            if (site > kSiteSlots)
                many.emplace_back(site, numbered(site));
        }
        // One number out of range and nothing is written.
        many.emplace_back(kMaxSites + 1, sample());
        QVERIFY(!file.saveMany(many, &error));
        QVERIFY2(error.startsWith(initDat() + QStringLiteral(": ")), qPrintable(error));
        QCOMPARE(readAll(initDat()), firstThree);
        many.pop_back();

        QVERIFY2(file.saveMany(many, &error), qPrintable(error));
        const QByteArray bytes = readAll(initDat());
        QCOMPARE(bytes.size(), 10000 * 775);
        QCOMPARE(bytes.first(2325), firstThree);
        QCOMPARE(bytes.sliced(9999 * 775), encodeSiteSettings(numbered(10000)));

        const std::optional<std::vector<SiteSettings>> all = file.loadAll(&error);
        QVERIFY2(all, qPrintable(error));
        QCOMPARE(all->size(), expected.size());
        QVERIFY(*all == expected);
        QCOMPARE(*file.load(10000), numbered(10000));
        QCOMPARE(*file.load(kMaxSites), SiteSettings{});
        QCOMPARE(firstUnusedSite(*all), 10001);
        for (const int site : {0, kMaxSites + 1}) {
            QVERIFY(!file.load(site, &error));
            QVERIFY(!file.save(site, sample(), &error));
            QVERIFY(!file.remove(site, &error));
            QVERIFY2(error.startsWith(initDat() + QStringLiteral(": ")), qPrintable(error));
        }
        QCOMPARE(readAll(initDat()), bytes);

        // A trailing partial record reads as padded with zero bytes.
        QFile out(initDat());
        QVERIFY(out.resize(3 * 775 + 9));
        QCOMPARE(file.loadAll()->size(), std::size_t(4));
        QCOMPARE(file.loadAll()->back().webAddress, QStringLiteral("site4.exa"));
    }

    // Sites 1, 2, 4 and 6 are in use; 3 is all zero bytes and 5 has no web address.
    void remove_clearsTheRecordAndCutsUnusedOnesAtTheEnd_data()
    {
        QTest::addColumn<QList<int>>("removed");
        QTest::addColumn<int>("records");
        QTest::newRow("in the middle") << QList<int>{4} << 6;
        QTest::newRow("at the end") << QList<int>{6} << 4;
        QTest::newRow("at the end after the middle") << QList<int>{4, 6} << 3;
        QTest::newRow("one of the first three") << QList<int>{2} << 6;
        QTest::newRow("every site") << QList<int>{1, 2, 4, 6} << 3;
        QTest::newRow("past the end") << QList<int>{100} << 6;
    }
    void remove_clearsTheRecordAndCutsUnusedOnesAtTheEnd()
    {
        QFETCH(QList<int>, removed);
        QFETCH(int, records);
        SiteSettingsFile file(m_folder);
        SiteSettings noAddress = numbered(5);
        noAddress.webAddress.clear();
        QVERIFY(
            file.saveMany({{1, numbered(1)}, {2, numbered(2)}, {4, numbered(4)}, {5, noAddress}, {6, numbered(6)}}));
        const QByteArray before = readAll(initDat());
        QCOMPARE(firstUnusedSite(*file.loadAll()), 3);

        QString error;
        for (const int site : removed)
            QVERIFY2(file.remove(site, &error), qPrintable(error));
        const QByteArray after = readAll(initDat());
        QCOMPARE(after.size(), records * 775);
        for (int site = 1; site <= records; ++site) {
            const QByteArray record = after.sliced((site - 1) * 775, 775);
            QCOMPARE(record, removed.contains(site) ? QByteArray(775, '\0') : before.sliced((site - 1) * 775, 775));
        }
        const std::vector<SiteSettings> all = *file.loadAll();
        QCOMPARE(qsizetype(all.size()), records);
        QCOMPARE(firstUnusedSite(all), std::min(3, *std::min_element(removed.begin(), removed.end())));
    }

    void alertsOfTheFirstThreeSites_composeAsBefore_andFurtherSitesAreKept()
    {
        const QString alertsIni = m_folder + QStringLiteral("/data/alerts.ini");
        AlertSettingsFile file(m_folder);
        const AlertSettings second{3, true, 2, 60, 1500, 14};
        QVERIFY(file.save(2, second));
        QCOMPARE(readAll(alertsIni), QByteArray(kAlertsSite2Saved));
        QCOMPARE(AlertSettingsFile::compose({{2, second}, {4, AlertSettings{}}}), QByteArray(kAlertsSite2Saved));

        const AlertSettings far{1, false, 1, 0, 800, 0};
        QString error;
        QVERIFY2(file.save(5000, far, &error), qPrintable(error));
        const QByteArray withFar = QByteArray(kAlertsSite2Saved) +
                                   "\n[Site5000]\nFailuresBeforeAlert=1\nSendRecoveryNotice=false\n"
                                   "SuccessesBeforeRecovery=1\nRemindMinutes=0\nSlowMs=800\nCertificateDays=0\n";
        QCOMPARE(readAll(alertsIni), withFar);
        QVERIFY(file.save(2, second));
        QCOMPARE(readAll(alertsIni), withFar);
        QCOMPARE(file.load(5000), far);

        QVERIFY(file.remove(5000, &error));
        QCOMPARE(readAll(alertsIni), QByteArray(kAlertsSite2Saved));
        QVERIFY(file.remove(2, &error));
        QCOMPARE(file.load(2), AlertSettings{});
        QVERIFY(!file.save(kMaxSites + 1, far, &error));
        QVERIFY(!file.remove(0, &error));

        // Only groups named as they are written, for sites 1 to kMaxSites, are read.
        const auto parsed = AlertSettingsFile::parse("[Site7]\nSlowMs=5\n[Site07]\nSlowMs=9\n[Site32768]\nSlowMs=9\n"
                                                     "[Site32767]\r\nSlowMs=6\r\n");
        QCOMPARE(parsed.size(), std::size_t(2));
        QCOMPARE(parsed.at(7).slowMs, 5);
        QCOMPARE(parsed.at(kMaxSites).slowMs, 6);
    }

    void loadCorruptOrTruncatedFile_givesWhatIsThere()
    {
        QByteArray bytes = encodeSiteSettings(sample()) + encodeSiteSettings(sample()).first(300);
        bytes.replace(0, 12, QByteArray("  a.b c \0zz ", 12));
        bytes.replace(767, 2, QByteArray("\x01\x00", 2));
        bytes[775 + 3] = '\xff';
        QFile out(initDat());
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        out.close();
        SiteSettingsFile file(m_folder);
        const SiteSettings first = *file.load(1);
        QCOMPARE(first.webAddress, QStringLiteral("a.b c"));
        QCOMPARE(first.connectionType, qint16(1)); // kept as stored; only -1 means yes
        QCOMPARE(first.autoDisconnect, qint16(-1));
        const SiteSettings second = *file.load(2);
        QCOMPARE(second.webAddress, QStringLiteral(u"www\u00ffexample.org"));
        QCOMPARE(second.packetString, QStringLiteral("Hello")); // cut off inside its padding
        QCOMPARE(second.connectionType, qint16(0));
        QCOMPARE(*file.load(3), SiteSettings{});
    }

    void unusableDataFolder_failsNamingTheFile()
    {
        QVERIFY(QDir(m_folder + QStringLiteral("/data")).removeRecursively());
        SiteSettingsFile file(m_folder);
        QString error;
        QVERIFY(!file.load(1, &error));
        QVERIFY2(error.startsWith(initDat() + QStringLiteral(": ")) && error.size() > initDat().size() + 2,
                 qPrintable(error));

        // A file standing where the folder should be.
        QFile blocker(m_folder + QStringLiteral("/data"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        error.clear();
        QVERIFY(!file.save(1, sample(), &error));
        QVERIFY2(error.startsWith(initDat() + QStringLiteral(": ")), qPrintable(error));
    }

    // A text editor may put a UTF-8 byte order mark before the first line of a settings file we keep as text.
    void textSettingsFile_withAByteOrderMark_readsAsWithout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<ReadsBack>("readsBack");
        QTest::newRow("alerts.ini") << "alerts.ini" << QByteArray("[Site1]\nFailuresBeforeAlert=3\n")
                                    << ReadsBack([](const QString& folder) {
                                           return AlertSettingsFile(folder).load(1).failuresBeforeAlert == 3;
                                       });
        QTest::newRow("desktop.ini") << "desktop.ini" << QByteArray("[Desktop]\nnotifications=true\n")
                                     << ReadsBack([](const QString& folder) {
                                            return DesktopSettingsFile(folder).notificationsOn();
                                        });
        QTest::newRow("mailsecurity.ini")
            << "mailsecurity.ini" << QByteArray("security=STARTTLS\nuser=u\n") << ReadsBack([](const QString& folder) {
                   const auto loaded = MailSecurityFile(folder).load();
                   return loaded && loaded->security == SmtpSecurity::StartTls;
               });
        QTest::newRow("trustedcertificates")
            << "trustedcertificates" << QByteArray("mail.test 25 ") + QByteArray("DER").toBase64() + '\n'
            << ReadsBack([](const QString& folder) {
                   return TrustedCertificates(folder).certificateFor(QStringLiteral("mail.test"), 25) == "DER";
               });
    }
    void textSettingsFile_withAByteOrderMark_readsAsWithout()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        QFETCH(ReadsBack, readsBack);
        QFile file(m_folder + QStringLiteral("/data/") + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("\xEF\xBB\xBF" + text) == text.size() + 3);
        file.close();
        QVERIFY(readsBack(m_folder));
    }

    // Other users may write to data/: a link planted there never makes a save overwrite the file it points to; the
    // save fails with a reason that names the file.
    void settingsSave_throughASymbolicLink_isRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Save>("save");
        QTest::newRow("init.dat") << "init.dat" << Save([](const QString& folder, QString* error) {
            return SiteSettingsFile(folder).save(1, sample(), error);
        });
        QTest::newRow("alerts.ini") << "alerts.ini" << Save([](const QString& folder, QString* error) {
            return AlertSettingsFile(folder).save(1, AlertSettings{}, error);
        });
        QTest::newRow("desktop.ini") << "desktop.ini" << Save([](const QString& folder, QString* error) {
            const DesktopSettingsFile file(folder);
            return file.setNotificationsOn(true, error) || (*error = file.path() + u' ' + *error, false);
        });
        QTest::newRow("email.dat") << "email.dat" << Save([](const QString& folder, QString* error) {
            const EmailSettingsFile file(folder);
            return file.save({}, error) || (*error = file.path() + u' ' + *error, false);
        });
        QTest::newRow("mailsecurity.ini") << "mailsecurity.ini" << Save([](const QString& folder, QString* error) {
            const MailSecurityFile file(folder);
            return file.save(MailSecurity{}, error) || (*error = file.path() + u' ' + *error, false);
        });
        QTest::newRow("trustedcertificates")
            << "trustedcertificates" << Save([](const QString& folder, QString* error) {
                   const TrustedCertificates file(folder);
                   return file.trust(QStringLiteral("mail.test"), 25, "DER", error) ||
                          (*error = file.path() + u' ' + *error, false);
               });
    }
    void settingsSave_throughASymbolicLink_isRefused()
    {
        QFETCH(QString, name);
        QFETCH(Save, save);
        const QString link = m_folder + QStringLiteral("/data/") + name;
        const QString target = m_folder + QStringLiteral("/others-file");
        const QByteArray others("another user's file");
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(others) == others.size());
        file.close();
        QVERIFY(QFile::link(target, link));
        QString error;
        QVERIFY(!save(m_folder, &error));
        QVERIFY2(error.startsWith(link) && error.contains(QStringLiteral("symbolic link")), qPrintable(error));
        QCOMPARE(readAll(target), others);
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QDir(m_folder + QStringLiteral("/data")).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    }

    void saveOnFullDisk_leavesTheOldFileWhole()
    {
        SiteSettingsFile file(m_folder);
        QVERIFY(file.save(2, sample()));
        const QByteArray before = readAll(initDat());
        SiteSettings changed = sample();
        changed.webAddress = QStringLiteral("changed.test");
        QString error;
        {
            sondrel::test::FileSizeLimit limit(1000);
            if (!limit.active())
                QSKIP("cannot limit the file size here");
            QVERIFY(!file.save(3, changed, &error));
            QVERIFY(!file.save(1, changed, &error));
        }
        QVERIFY2(error.startsWith(initDat() + QStringLiteral(": ")), qPrintable(error));
        QVERIFY2(!error.contains(QStringLiteral("Unknown error")), qPrintable(error));
        QCOMPARE(readAll(initDat()), before);
        QCOMPARE(QDir(m_folder + QStringLiteral("/data")).entryList(QDir::Files), QStringList{"init.dat"});
    }
};

QTEST_APPLESS_MAIN(TestSiteSettings)
#include "tst_sitesettings.moc"
