#pragma once

#include <QtTest>

// A raw CUPS queue made with lpadmin for a test and removed again with the object.
class CupsQueue
{
public:
    struct Job
    {
        int id, state; // ipp_jstate_t
    };

    // -E after -p enables the queue and makes it accept jobs; no model means raw.
    CupsQueue(const QString& name, const QString& deviceUri)
        : m_name(name)
        , m_valid(run(QStringLiteral("lpadmin"), {"-p", name, "-E", "-v", deviceUri}, &m_error))
    {}
    ~CupsQueue()
    {
        if (m_valid)
            run(QStringLiteral("lpadmin"), {"-x", m_name});
    }
    Q_DISABLE_COPY(CupsQueue)

    bool isValid() const { return m_valid; }
    QString errorString() const { return m_error; }
    QString name() const { return m_name; }

    QList<Job> jobs() const; // finished ones too, oldest first

    // PREFIX-PID-COUNTER: no other test process uses it.
    static QString uniqueName(const QString& prefix = QStringLiteral("qlk-test"))
    {
        static QAtomicInt counter;
        return prefix +
               QStringLiteral("-%1-%2").arg(QCoreApplication::applicationPid()).arg(counter.fetchAndAddOrdered(1));
    }
    // Empty when the scheduler answers and lpadmin is at hand, else why not.
    static QString schedulerProblem();
    static bool run(const QString& program, const QStringList& arguments, QString* error = nullptr);

private:
    QString m_name;
    QString m_error;
    bool m_valid = false;
};

// A part the test needs is missing (the reason): it skips, and fails under CI (CI=true).
#define QLK_REQUIRE_PART(reason)                                                                                       \
    do {                                                                                                               \
        if (const QString why = (reason); !why.isEmpty()) {                                                            \
            if (qgetenv("CI") == "true")                                                                               \
                QFAIL(qPrintable(why));                                                                                \
            QSKIP(qPrintable(why));                                                                                    \
        }                                                                                                              \
    } while (false)
#define QLK_REQUIRE_CUPS() QLK_REQUIRE_PART(CupsQueue::schedulerProblem())
