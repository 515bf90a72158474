#include "app/CommandLine.h"

#include <QCommandLineParser>

namespace {

const QString debugModeArgument = QStringLiteral("DebugModeOn");

struct Parser
{
    Parser()
    {
        parser.setApplicationDescription(QStringLiteral(
            "Quorva Link: the local connector between the Quorva web application and this computer's\n"
            "receipt printers and payment terminals. It serves https://localhost:5080 and lives in the tray."));
        parser.addOption(help);
        parser.addOption(version);
        parser.addOption(trust);
        parser.addOption(untrust);
        parser.addPositionalArgument(debugModeArgument, QStringLiteral("Show the Logs page and capture log lines."),
                                     QStringLiteral("[DebugModeOn]"));
    }
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the version and exit.")};
    QCommandLineOption trust{
        QStringLiteral("trust-certificate"),
        QStringLiteral("Make this user's browsers trust this installation's certificate, and exit.")};
    QCommandLineOption untrust{
        QStringLiteral("untrust-certificate"),
        QStringLiteral("Remove this installation's certificate from this user's browsers, and exit.")};
};

} // namespace

CommandLine CommandLine::parse(const QStringList& arguments)
{
    Parser p;
    // Unknown options only make parse() report an error; the known ones are still read.
    p.parser.parse(arguments);
    CommandLine line;
    line.debugMode = arguments.mid(1).contains(debugModeArgument);
    line.help = p.parser.isSet(p.help);
    line.version = p.parser.isSet(p.version);
    line.trustCertificate = p.parser.isSet(p.trust);
    line.untrustCertificate = p.parser.isSet(p.untrust);
    return line;
}

QString CommandLine::helpText()
{
    return Parser().parser.helpText();
}
