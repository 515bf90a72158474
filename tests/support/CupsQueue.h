#pragma once

#include <QList>
#include <QString>
#include <QtTest>

// A raw CUPS queue that a test creates with lpadmin and that is removed again
// when the object goes. Needs a running scheduler and the right to administer it.
class CupsQueue
{
public:
    struct Job
    {
        int id = 0;
        QString title;
        QString format;
        int state = 0; // ipp_jstate_t: 3 pending ... 7 canceled, 8 aborted, 9 completed
    };

    // Creates NAME sending raw to deviceUri (socket://HOST:PORT), enabled and accepting.
    CupsQueue(const QString& name, const QString& deviceUri);
    ~CupsQueue();
    CupsQueue(const CupsQueue&) = delete;
    CupsQueue& operator=(const CupsQueue&) = delete;

    bool isValid() const { return m_valid; }
    QString errorString() const { return m_error; }
    QString name() const { return m_name; }

    // cupsdisable / cupsenable: a disabled queue keeps accepting jobs but holds them.
    bool disable();
    bool enable();

    // Every job of the queue, finished ones included, oldest first.
    QList<Job> jobs() const;
    // The state of one job of the queue; 0 when the queue does not list it.
    int jobState(int id) const;

    // A queue name no other test process uses: PREFIX-PID-COUNTER.
    static QString uniqueName(const QString& prefix = QStringLiteral("qlk-test"));
    // Empty when the scheduler answers and lpadmin is at hand, else why not.
    static QString schedulerProblem();
    // Runs a CUPS command line tool; false with its output in error when it fails.
    static bool run(const QString& program, const QStringList& arguments, QString* error = nullptr);

private:
    QString m_name;
    bool m_valid = false;
    QString m_error;
};

// Skips the test when no CUPS scheduler runs, with the reason; under CI (CI=true)
// the printing tests must not silently skip, so there it fails instead.
#define QLK_REQUIRE_CUPS()                                                                                             \
    do {                                                                                                               \
        const QString qlkCupsProblem = CupsQueue::schedulerProblem();                                                  \
        if (!qlkCupsProblem.isEmpty()) {                                                                               \
            if (qgetenv("CI") == "true")                                                                               \
                QFAIL(qPrintable(qlkCupsProblem));                                                                     \
            QSKIP(qPrintable(qlkCupsProblem));                                                                         \
        }                                                                                                              \
    } while (false)
