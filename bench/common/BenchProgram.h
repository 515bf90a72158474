#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

// The real quorva-link program for the benchmarks: settings of its own (terms
// accepted, a known security key), no display unless asked, the version check
// pointed at a closed loopback port, its log thrown away. It listens on a free
// port of its own (QUORVA_LINK_PORT), so that nothing else on 5080 is in its way.
class BenchProgram
{
public:
    static const QByteArray key;

    BenchProgram();
    ~BenchProgram();
    BenchProgram(const BenchProgram&) = delete;
    BenchProgram& operator=(const BenchProgram&) = delete;

    // Path of the program: QLK_PROGRAM, else build/quorva-link of the source tree.
    static QString programPath();
    quint16 port() const { return m_port; }

    // A settings value written before the start (root group when the key has no "/"); a null one is removed.
    void setSetting(const QString& key, const QVariant& value);
    void setEnvironment(const QString& name, const QString& value);

    // platform: a QT_QPA_PLATFORM value ("offscreen" for no display, "xcb" for Xvfb).
    bool start(const QString& platform = QStringLiteral("offscreen"));
    // Polls /getStatus until it answers 200; returns milliseconds since start, or -1.
    double waitUntilAnswering(int timeoutMs = 30000);
    // Starts and waits for the first answer; tries again on another free port (up
    // to three times) when another program took the port in between.
    // Returns milliseconds from start to the first answer, or -1.
    double startAndWait(const QString& platform = QStringLiteral("offscreen"));
    // Resident and peak resident memory from /proc, in KiB; -1 when the process is gone.
    qint64 residentKiB() const;
    qint64 peakResidentKiB() const;
    // The parts of the resident set: the program's own memory, and pages of
    // mapped files (the libraries, shared with every other Qt program).
    qint64 residentAnonymousKiB() const;
    qint64 residentFileKiB() const;
    void stop();

    QString errorString() const { return m_error; }
    // The TLS files the program made for itself at its first start.
    QString certFile() const { return m_configHome.filePath(QStringLiteral("Quorva/QuorvaLink.crt")); }
    QString keyFile() const { return m_configHome.filePath(QStringLiteral("Quorva/QuorvaLink.key")); }
    qint64 pid() const { return m_process.processId(); }

private:
    qint64 statusField(const char* name) const;
    void choosePort();

    QTemporaryDir m_configHome;
    QProcessEnvironment m_environment;
    QProcess m_process;
    QElapsedTimer m_clock;
    QString m_error;
    quint16 m_port = 0;
};

// Median and percentile (nearest rank) of a sample; 0 for an empty one.
double percentile(QVector<double> values, double fraction);
inline double median(const QVector<double>& values)
{
    return percentile(values, 0.5);
}
