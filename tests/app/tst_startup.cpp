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
        // locale, language, translation file under /app
        QTest::addColumn<QStringList>("row");
        QTest::newRow("portugal") << QStringList{"pt_PT", "pt", "/app/printclient_pt"};
        QTest::newRow("brazil") << QStringList{"pt_BR", "pt", "/app/printclient_pt"};
        QTest::newRow("mexico") << QStringList{"es_MX", "es", "/app/printclient_es"};
        QTest::newRow("no country") << QStringList{"es", "es", "/app/printclient_es"};
        QTest::newRow("english") << QStringList{"en_GB", "en", "/app/printclient_en"};
        QTest::newRow("german reads english") << QStringList{"de_DE", "de", "/app/printclient_en"};
        QTest::newRow("posix locale") << QStringList{"C", "C", "/app/printclient_en"};
    }

    void languageChoice()
    {
        QFETCH(QStringList, row);
        QCOMPARE(LanguageChoice::languageOf(row.at(0)), row.at(1));
        QCOMPARE(LanguageChoice::translationFile(QStringLiteral("/app"), row.at(0)), row.at(2));
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
