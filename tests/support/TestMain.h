#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Every test process gets settings of its own: XDG_CONFIG_HOME (and HOME, whose browser certificate databases
// a test's certificate may replace) point at a fresh folder before the application exists; names are the program's.
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

template <typename Application, typename TestObject>
int run(int argc, char* argv[])
{
    isolateSettings();
    Application app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    const int result = QTest::qExec(std::make_unique<TestObject>().get(), argc, argv); // the object is gone after it
    // What the last requests released waits for an event loop to delete it; none runs after the tests.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}

} // namespace TestMain

// Like QTEST_MAIN with a QApplication (or, _CORE, a QCoreApplication for tests without GUI), on isolated settings.
#define QLK_TEST_MAIN_WITH(Application, TestObject)                                                                    \
    int main(int argc, char* argv[])                                                                                   \
    {                                                                                                                  \
        QTEST_SET_MAIN_SOURCE_PATH return TestMain::run<Application, TestObject>(argc, argv);                          \
    }
#define QLK_TEST_MAIN(TestObject) QLK_TEST_MAIN_WITH(QApplication, TestObject)
#define QLK_TEST_MAIN_CORE(TestObject) QLK_TEST_MAIN_WITH(QCoreApplication, TestObject)
