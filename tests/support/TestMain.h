#pragma once

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

// Every test process gets settings of its own: XDG_CONFIG_HOME points at a
// fresh temporary folder before the application object exists, and the
// organisation and application names are the program's. HOME points there too:
// a certificate made in a test is put in place of one trusted in the browser
// databases of the home folder, which must not be the developer's.
namespace TestMain {

inline QTemporaryDir& configHome()
{
    static QTemporaryDir dir;
    return dir;
}

inline void isolateSettings()
{
    qputenv("XDG_CONFIG_HOME", configHome().path().toLocal8Bit());
    qputenv("HOME", configHome().path().toLocal8Bit());
    QCoreApplication::setOrganizationName(QStringLiteral("Quorva"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("quorva.pt"));
    QCoreApplication::setApplicationName(QStringLiteral("QuorvaLink"));
}

} // namespace TestMain

// Like QTEST_MAIN with a QApplication, on isolated settings.
#define QLK_TEST_MAIN(TestObject)                                                                                      \
    int main(int argc, char* argv[])                                                                                   \
    {                                                                                                                  \
        TestMain::isolateSettings();                                                                                   \
        QApplication app(argc, argv);                                                                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }

// Same, with a QCoreApplication for tests that need no GUI.
#define QLK_TEST_MAIN_CORE(TestObject)                                                                                 \
    int main(int argc, char* argv[])                                                                                   \
    {                                                                                                                  \
        TestMain::isolateSettings();                                                                                   \
        QCoreApplication app(argc, argv);                                                                              \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
