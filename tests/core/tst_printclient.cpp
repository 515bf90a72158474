#include "core/PrintClient.h"
#include "support/TestMain.h"

#include <QRegularExpression>
#include <QSettings>

namespace {

// A fresh store without the terms accepted: no server is built.
void resetStore(const QVariant& storedKey = QVariant())
{
    QSettings settings;
    settings.clear();
    settings.setValue("licenseAccepted", false);
    if (storedKey.isValid())
        settings.setValue("securityKey", storedKey);
    settings.sync();
}

QString storedKey()
{
    return QSettings().value("securityKey").toString();
}

} // namespace

class TestPrintClient : public QObject
{
    Q_OBJECT

private slots:
    void firstStartGeneratesAKeyThatLaterStartsKeep()
    {
        resetStore();
        QString first;
        {
            PrintClient client;
            client.init();
            first = client.securityKey();
            QVERIFY2(QRegularExpression("^[A-Za-z0-9]{8}v4\\.0$").match(first).hasMatch(), qPrintable(first));
            QCOMPARE(storedKey(), first);
            QVERIFY(client.firstStartup());
        }
        {
            PrintClient client;
            client.init();
            QCOMPARE(client.securityKey(), first);
            QVERIFY(!client.firstStartup());
        }
        // Another first start draws another key.
        resetStore();
        PrintClient client;
        client.init();
        QVERIFY(client.securityKey() != first);
    }

    void storedKeyKeepsOrGainsSuffix_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no suffix") << QString("Ab3dE9gH") << QString("Ab3dE9gHv4.0");
        QTest::newRow("current suffix") << QString("Ab3dE9gHv4.0") << QString("Ab3dE9gHv4.0");
        QTest::newRow("later suffix") << QString("Ab3dE9gHv5.1") << QString("Ab3dE9gHv5.1");
        QTest::newRow("suffix not at the end") << QString("v4.0Ab3d") << QString("v4.0Ab3dv4.0");
        QTest::newRow("upper-case V") << QString("Ab3dV4.0") << QString("Ab3dV4.0v4.0");
        QTest::newRow("two-digit minor") << QString("Ab3dv4.01") << QString("Ab3dv4.01v4.0");
    }

    void storedKeyKeepsOrGainsSuffix()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        resetStore(stored);
        PrintClient client;
        client.init();
        QCOMPARE(client.securityKey(), expected);
        QCOMPARE(storedKey(), expected);
        QVERIFY(!client.firstStartup());
    }
};

QLK_TEST_MAIN_CORE(TestPrintClient)
#include "tst_printclient.moc"
