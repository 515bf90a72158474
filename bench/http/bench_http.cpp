// /getStatus over TLS keep-alive, measured with wrk against quorva-link and,
// in the same run, against nginx serving the same JSON body (same headers
// that matter, same certificate) on another loopback port. The two servers
// take turns, so both see the same noise of a shared machine.
//
// Usage: bench_http LUA [RUNS] [SECONDS]
//   LUA: bench/http/report.lua
// nginx serves the key and certificate that the program made at its first start.
// Environment: QLK_BENCH_NGINX_WORKERS (default "auto", as nginx ships).
// Prints one JSON object: per connection count, medians of requests/s, p50
// and p99 in ms for both servers and the ratios.

#include "common/BenchClient.h"
#include "common/BenchProgram.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace {

const int kConnections[] = {1, 8, 19};

struct Sample
{
    double rps = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    double cpuUs = 0; // processor time of the server per request: what a busy machine disturbs least
};

// Processor time (user and system) in seconds of a process and its children
// (nginx's workers), from /proc.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which may hold spaces, in parentheses.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    double seconds = (fields.value(11).toDouble() + fields.value(12).toDouble()) / sysconf(_SC_CLK_TCK);
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (children.open(QIODevice::ReadOnly)) {
        for (const QByteArray& child : children.readAll().simplified().split(' ')) {
            if (!child.isEmpty())
                seconds += cpuSeconds(child.toLongLong());
        }
    }
    return seconds;
}

QString findTool(const QString& name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return path;
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QByteArray headerValue(const QByteArray& head, const QByteArray& name)
{
    for (const QByteArray& line : head.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

// nginx answers /getStatus with the body our program gave, and the headers a
// browser reads: the content type and the CORS pair.
bool writeNginxConfig(const QDir& dir, quint16 port, const QString& cert, const QString& key,
                      const BenchClient::Response& answer)
{
    QFile body(dir.filePath(QStringLiteral("status.json")));
    if (!body.open(QIODevice::WriteOnly) || body.write(answer.body) != answer.body.size())
        return false;
    body.close();
    const QByteArray workers =
        qEnvironmentVariableIsSet("QLK_BENCH_NGINX_WORKERS") ? qgetenv("QLK_BENCH_NGINX_WORKERS") : QByteArray("auto");
    const QByteArray d = dir.path().toUtf8();
    const QByteArray config = "worker_processes " + workers + ";\n" +
                              "daemon off;\n"
                              "pid " +
                              d +
                              "/nginx.pid;\n"
                              "error_log " +
                              d +
                              "/error.log warn;\n"
                              "events { worker_connections 256; }\n"
                              "http {\n"
                              "    access_log off;\n"
                              "    client_body_temp_path " +
                              d +
                              "/tmp;\n"
                              "    proxy_temp_path " +
                              d +
                              "/tmp;\n"
                              "    fastcgi_temp_path " +
                              d +
                              "/tmp;\n"
                              "    uwsgi_temp_path " +
                              d +
                              "/tmp;\n"
                              "    scgi_temp_path " +
                              d +
                              "/tmp;\n"
                              // Our server keeps a connection for as many requests as come.
                              "    keepalive_requests 1000000000;\n"
                              "    keepalive_timeout 75s;\n"
                              "    server {\n"
                              "        listen 127.0.0.1:" +
                              QByteArray::number(port) +
                              " ssl;\n"
                              "        ssl_certificate " +
                              cert.toUtf8() +
                              ";\n"
                              "        ssl_certificate_key " +
                              key.toUtf8() +
                              ";\n"
                              "        location = /getStatus {\n"
                              "            default_type \"" +
                              headerValue(answer.head, "Content-Type") +
                              "\";\n"
                              "            add_header Access-Control-Allow-Origin \"" +
                              headerValue(answer.head, "Access-Control-Allow-Origin") +
                              "\";\n"
                              "            add_header Vary Origin;\n"
                              "            alias " +
                              d +
                              "/status.json;\n"
                              "        }\n"
                              "    }\n"
                              "}\n";
    QFile file(dir.filePath(QStringLiteral("nginx.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size())
        return false;
    file.close();
    QDir().mkpath(dir.filePath(QStringLiteral("tmp")));
    // nginx's workers run as an unprivileged user when started as root.
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFileDevice::ExeOther | QFileDevice::ReadOther);
    QFile::setPermissions(body.fileName(), body.permissions() | QFileDevice::ReadOther);
    return true;
}

bool waitForTls(quint16 port, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    BenchClient client(port, 2000);
    while (clock.elapsed() < timeoutMs) {
        if (client.connectToServer())
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool runWrk(const QString& wrk, const QString& lua, quint16 port, qint64 serverPid, int connections, int seconds,
            Sample* sample, QString* error)
{
    const double cpuBefore = cpuSeconds(serverPid);
    QProcess process;
    const QStringList arguments{
        QStringLiteral("-t1"),
        QStringLiteral("-c%1").arg(connections),
        QStringLiteral("-d%1s").arg(seconds),
        QStringLiteral("-s"),
        lua,
        QStringLiteral("-H"),
        QStringLiteral("Authorization: Bearer %1").arg(QString::fromLatin1(BenchProgram::key)),
        QStringLiteral("https://127.0.0.1:%1/getStatus").arg(port),
    };
    process.start(wrk, arguments);
    if (!process.waitForFinished((seconds + 30) * 1000) || process.exitCode() != 0) {
        *error = QStringLiteral("wrk failed: %1").arg(QString::fromUtf8(process.readAllStandardError()));
        process.kill();
        process.waitForFinished(2000);
        return false;
    }
    const QList<QByteArray> lines = process.readAllStandardOutput().trimmed().split('\n');
    const QJsonObject run = QJsonDocument::fromJson(lines.last()).object();
    const int failures = run.value("connectErrors").toInt() + run.value("readErrors").toInt() +
                         run.value("writeErrors").toInt() + run.value("statusErrors").toInt() +
                         run.value("timeouts").toInt();
    if (run.isEmpty() || run.value("requests").toInt() == 0 || failures > 0) {
        *error = QStringLiteral("wrk run with errors: %1").arg(QString::fromUtf8(lines.last()));
        return false;
    }
    sample->rps = run.value("requests").toDouble() / run.value("seconds").toDouble();
    sample->p50Ms = run.value("p50us").toDouble() / 1000;
    sample->p99Ms = run.value("p99us").toDouble() / 1000;
    sample->cpuUs = (cpuSeconds(serverPid) - cpuBefore) * 1e6 / run.value("requests").toDouble();
    return true;
}

double round2(double value)
{
    return qRound(value * 100) / 100.0;
}

QJsonObject summary(const QVector<Sample>& samples)
{
    QVector<double> rps, p50, p99, cpu;
    for (const Sample& s : samples) {
        rps.append(s.rps);
        p50.append(s.p50Ms);
        p99.append(s.p99Ms);
        cpu.append(s.cpuUs);
    }
    return QJsonObject{{"rps", qRound(median(rps))},
                       {"p50Ms", round2(median(p50))},
                       {"p99Ms", round2(median(p99))},
                       {"cpuUsPerRequest", qRound(median(cpu) * 10) / 10.0}};
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_http LUA [RUNS] [SECONDS]\n");
        return 2;
    }
    const QString lua = QFileInfo(args.at(1)).absoluteFilePath();
    const int runs = args.size() > 2 ? qMax(1, args.at(2).toInt()) : 3;
    const int seconds = args.size() > 3 ? qMax(1, args.at(3).toInt()) : 5;
    const QString wrk = findTool(QStringLiteral("wrk"));
    const QString nginx = findTool(QStringLiteral("nginx"));
    if (wrk.isEmpty() || nginx.isEmpty()) {
        std::fprintf(stderr, "bench_http: wrk and nginx are needed (apt-get install wrk nginx)\n");
        return 1;
    }

    BenchProgram program;
    if (program.startAndWait() < 0) {
        std::fprintf(stderr, "bench_http: %s\n", qPrintable(program.errorString()));
        return 1;
    }
    // nginx serves the certificate and key that the program made for itself.
    const QString cert = program.certFile();
    const QString key = program.keyFile();
    BenchClient client(program.port());
    const BenchClient::Response answer = client.getStatus(BenchProgram::key);
    client.disconnectFromServer();

    QTemporaryDir nginxDir;
    const quint16 nginxPort = freeLoopbackPort();
    if (!writeNginxConfig(QDir(nginxDir.path()), nginxPort, cert, key, answer)) {
        std::fprintf(stderr, "bench_http: cannot write the nginx configuration\n");
        return 1;
    }
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(nginx, {QStringLiteral("-p"), nginxDir.path(), QStringLiteral("-e"),
                         nginxDir.filePath(QStringLiteral("error.log")), QStringLiteral("-c"),
                         nginxDir.filePath(QStringLiteral("nginx.conf"))});
    auto stopNginx = [&server]() {
        server.terminate();
        if (!server.waitForFinished(5000)) {
            server.kill();
            server.waitForFinished(5000);
        }
    };
    if (!server.waitForStarted(5000) || !waitForTls(nginxPort, 10000)) {
        std::fprintf(stderr, "bench_http: nginx does not start: %s\n", server.readAll().constData());
        stopNginx();
        return 1;
    }
    BenchClient nginxClient(nginxPort);
    const BenchClient::Response nginxAnswer = nginxClient.getStatus(BenchProgram::key);
    nginxClient.disconnectFromServer();
    if (nginxAnswer.status != 200 || nginxAnswer.body != answer.body) {
        std::fprintf(stderr, "bench_http: nginx does not serve the same body (%d)\n", nginxAnswer.status);
        stopNginx();
        return 1;
    }

    QJsonArray table;
    for (const int connections : kConnections) {
        QVector<Sample> ours, theirs;
        for (int run = 0; run < runs; ++run) {
            Sample sample;
            QString error;
            if (!runWrk(wrk, lua, program.port(), program.pid(), connections, seconds, &sample, &error)) {
                std::fprintf(stderr, "bench_http: quorva-link, %d connections: %s\n", connections, qPrintable(error));
                stopNginx();
                return 1;
            }
            ours.append(sample);
            if (!runWrk(wrk, lua, nginxPort, server.processId(), connections, seconds, &sample, &error)) {
                std::fprintf(stderr, "bench_http: nginx, %d connections: %s\n", connections, qPrintable(error));
                stopNginx();
                return 1;
            }
            theirs.append(sample);
        }
        const QJsonObject a = summary(ours);
        const QJsonObject b = summary(theirs);
        table.append(QJsonObject{
            {"connections", connections},
            {"quorvaLink", a},
            {"nginx", b},
            {"rpsRatio", round2(a.value("rps").toDouble() / b.value("rps").toDouble())},
            {"p99Ratio", round2(a.value("p99Ms").toDouble() / qMax(0.001, b.value("p99Ms").toDouble()))},
            {"cpuRatio",
             round2(a.value("cpuUsPerRequest").toDouble() / qMax(0.001, b.value("cpuUsPerRequest").toDouble()))},
        });
    }
    stopNginx();

    const QJsonObject result{{"runs", runs},
                             {"seconds", seconds},
                             {"nginxWorkers", QString::fromLatin1(qEnvironmentVariableIsSet("QLK_BENCH_NGINX_WORKERS")
                                                                      ? qgetenv("QLK_BENCH_NGINX_WORKERS")
                                                                      : QByteArray("auto"))},
                             {"table", table}};
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}
