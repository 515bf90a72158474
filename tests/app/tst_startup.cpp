#include "app/LanguageChoice.h"
#include "app/SingleInstance.h"
#include "app/WindowGeometry.h"
#include "support/TestMain.h"

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void windowSize_data()
    {
        QTest::addColumn<QSize>("available");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("full hd") << QSize(1920, 1040) << QSize(950, 700);
        QTest::newRow("small") << QSize(1024, 728) << QSize(924, 680);
        QTest::newRow("wide and short") << QSize(1366, 728) << QSize(852, 628);
        QTest::newRow("last narrow width") << QSize(1049, 2000) << QSize(949, 699);
        QTest::newRow("first wide width, tall") << QSize(1050, 800) << QSize(950, 700);
        QTest::newRow("first wide width, one pixel short") << QSize(1050, 799) << QSize(948, 699);
        QTest::newRow("wide and very short") << QSize(1600, 600) << QSize(678, 500);
    }

    void windowSize()
    {
        QFETCH(QSize, available);
        QFETCH(QSize, expected);
        QCOMPARE(WindowGeometry::sizeFor(available), expected);
    }

    void languageChoice_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("file");
        QTest::newRow("portugal") << "pt_PT"
                                  << "pt"
                                  << "/app/printclient_pt";
        QTest::newRow("brazil") << "pt_BR"
                                << "pt"
                                << "/app/printclient_pt";
        QTest::newRow("mexico") << "es_MX"
                                << "es"
                                << "/app/printclient_es";
        QTest::newRow("english") << "en_GB"
                                 << "en"
                                 << "/app/printclient_en";
        QTest::newRow("german reads english") << "de_DE"
                                              << "de"
                                              << "/app/printclient_en";
        QTest::newRow("posix locale") << "C"
                                      << "C"
                                      << "/app/printclient_en";
        QTest::newRow("no country") << "es"
                                    << "es"
                                    << "/app/printclient_es";
    }

    void languageChoice()
    {
        QFETCH(QString, locale);
        QFETCH(QString, language);
        QFETCH(QString, file);
        QCOMPARE(LanguageChoice::languageOf(locale), language);
        QCOMPARE(LanguageChoice::translationFile(QStringLiteral("/app"), locale), file);
    }

    void stampAge_data()
    {
        QTest::addColumn<qint64>("age");
        QTest::addColumn<bool>("alive");
        QTest::newRow("written this second") << qint64(0) << false;
        QTest::newRow("one second") << qint64(1) << true;
        QTest::newRow("five seconds") << qint64(5) << true;
        QTest::newRow("six seconds") << qint64(6) << false;
        QTest::newRow("in the future") << qint64(-1) << false;
        QTest::newRow("never stamped") << qint64(1700000000) << false;
    }

    void stampAge()
    {
        QFETCH(qint64, age);
        QFETCH(bool, alive);
        const qint64 now = 1800000000;
        QCOMPARE(SingleInstance::isStampAlive(now, now - age), alive);
    }
};

QLK_TEST_MAIN_CORE(TestStartup)
#include "tst_startup.moc"
