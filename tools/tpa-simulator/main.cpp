// tpa-simulator: plays a payment terminal on a pseudo-terminal so that the web
// application can be tested against Quorva Link without hardware.

#include "TerminalSimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tpa-simulator"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays a payment terminal on a pseudo-terminal and prints its path. Point Quorva Link at it with\n"
        "QUORVA_LINK_SIMULATED_PORTS=PATH=VVVV:PPPP (the line printed on start)."));
    parser.addHelpOption();
    const QCommandLineOption familyOption(QStringList{QStringLiteral("f"), QStringLiteral("family")},
                                          QStringLiteral("Terminal family: 1 (Ingenico) or 2 (Newnote)."),
                                          QStringLiteral("family"), QStringLiteral("1"));
    const QCommandLineOption outcomeOption(
        QStringList{QStringLiteral("o"), QStringLiteral("outcomes")},
        QStringLiteral("Comma-separated outcomes, one per command, the last repeating: approve, decline, silence, "
                       "badcheck, split, garbage, timeout."),
        QStringLiteral("list"), QStringLiteral("approve"));
    const QCommandLineOption stepOption(QStringLiteral("step-ms"),
                                        QStringLiteral("Pause before each message of an answer."), QStringLiteral("ms"),
                                        QStringLiteral("500"));
    const QCommandLineOption linkOption(QStringLiteral("link"),
                                        QStringLiteral("Also make a symbolic link with this path to the port."),
                                        QStringLiteral("path"));
    const QCommandLineOption idsOption(QStringLiteral("usb-ids"),
                                       QStringLiteral("USB identifiers to print in the environment line "
                                                      "(default 0B00:0060 for family 1, 0403:6001 for family 2)."),
                                       QStringLiteral("VVVV:PPPP"));
    const QCommandLineOption silentPollsOption(QStringLiteral("no-poll-answer"),
                                               QStringLiteral("Do not answer status polls."));
    const QCommandLineOption quietOption(QStringList{QStringLiteral("q"), QStringLiteral("quiet")},
                                         QStringLiteral("Do not log the traffic on standard error."));
    parser.addOptions({familyOption, outcomeOption, stepOption, linkOption, idsOption, silentPollsOption, quietOption});
    parser.process(app);

    QTextStream err(stderr);
    const int family = parser.value(familyOption).toInt();
    if (family != 1 && family != 2) {
        err << "tpa-simulator: --family must be 1 or 2\n";
        return 2;
    }
    QList<TerminalSimulator::Outcome> outcomes;
    for (const QString& name : parser.value(outcomeOption).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        TerminalSimulator::Outcome outcome;
        if (!TerminalSimulator::parseOutcome(name, &outcome)) {
            err << "tpa-simulator: unknown outcome \"" << name << "\"\n";
            return 2;
        }
        outcomes.append(outcome);
    }
    bool stepOk = false;
    const int stepMs = parser.value(stepOption).toInt(&stepOk);
    if (!stepOk || stepMs < 0) {
        err << "tpa-simulator: --step-ms must be a number of milliseconds\n";
        return 2;
    }

    TerminalSimulator simulator(family);
    simulator.setOutcomes(outcomes);
    simulator.setStepInterval(stepMs);
    simulator.setAnswerPolls(!parser.isSet(silentPollsOption));
    if (!parser.isSet(quietOption)) {
        QObject::connect(&simulator, &TerminalSimulator::trace, [&err](const QString& line) {
            err << line << '\n';
            err.flush();
        });
    }
    if (!simulator.open()) {
        err << "tpa-simulator: " << simulator.errorString() << '\n';
        return 1;
    }

    QString path = simulator.portPath();
    const QString link = parser.value(linkOption);
    if (!link.isEmpty()) {
        QFile::remove(link);
        if (!QFile::link(simulator.portPath(), link)) {
            err << "tpa-simulator: cannot create the link " << link << '\n';
            return 1;
        }
        path = link;
    }
    QString ids = parser.value(idsOption);
    if (ids.isEmpty())
        ids = family == 2 ? QStringLiteral("0403:6001") : QStringLiteral("0B00:0060");

    QTextStream out(stdout);
    out << path << '\n' << "QUORVA_LINK_SIMULATED_PORTS=" << path << '=' << ids << '\n';
    out.flush();

    // End cleanly on Ctrl+C or a kill, so that the link is removed.
    if (::pipe(signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    const int code = app.exec();
    if (!link.isEmpty())
        QFile::remove(link);
    return code;
}
