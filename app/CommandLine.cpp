#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

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
        parser.addOption(preview);
        parser.addOption(output);
        parser.addOption(trust);
        parser.addOption(untrust);
        parser.addOption(headless);
        parser.addOption(devices);
        parser.addOption(enable);
        parser.addOption(disable);
        // The tray program starts its window's process with this; nobody else has a use for it.
        windowChannel.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(windowChannel);
        // Qt's own options (QGuiApplication takes them; a session manager restarts
        // programs with -session): known, so that they are not refused, and hidden.
        for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                                 "qwindowicon", "qwindowtitle", "session", "style", "stylesheet", "display", "geometry",
                                 "title", "name", "qmljsdebugger"})
            addHidden(QLatin1String(name), QStringLiteral("value"));
        for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"})
            addHidden(QLatin1String(name), QString());
        // "-platform" is one option, not "-p -l -a ...".
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addPositionalArgument(debugModeArgument, QStringLiteral("Show the Logs page and capture log lines."),
                                     QStringLiteral("[DebugModeOn]"));
    }
    void addHidden(const QString& name, const QString& valueName)
    {
        QCommandLineOption option(name, QString(), valueName);
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the version and exit.")};
    QCommandLineOption preview{QStringLiteral("preview"),
                               QStringLiteral("Draw the receipt of a print job (a JSON file: the job array, or an "
                                              "object with \"job\" like a /sendJob body) as a PNG picture and "
                                              "exit. No window, tray or server."),
                               QStringLiteral("JOB.json")};
    QCommandLineOption output{{QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("Where --preview writes the picture (default: beside the job, .png)."),
                              QStringLiteral("FILE.png")};
    QCommandLineOption trust{
        QStringLiteral("trust-certificate"),
        QStringLiteral("Make this user's browsers trust this installation's certificate, and exit.")};
    QCommandLineOption untrust{
        QStringLiteral("untrust-certificate"),
        QStringLiteral("Remove this installation's certificate from this user's browsers, and exit.")};
    QCommandLineOption headless{
        QStringLiteral("headless"),
        QStringLiteral("Serve without a window or a tray (a till without a desktop); print where the settings are.")};
    QCommandLineOption devices{
        QStringLiteral("devices"),
        QStringLiteral("List the printers and payment terminals found now, each on or off for the web application, "
                       "and exit.")};
    QCommandLineOption enable{QStringLiteral("enable"),
                              QStringLiteral("Make a printer (by name) or a payment terminal (by port) available to "
                                             "the web application, as its switch in the window does, and exit."),
                              QStringLiteral("NAME")};
    QCommandLineOption disable{QStringLiteral("disable"),
                               QStringLiteral("Take a printer or payment terminal away from the web application, "
                                              "and exit."),
                               QStringLiteral("NAME")};
    QCommandLineOption windowChannel{QStringLiteral("window-channel"), QString(), QStringLiteral("DESCRIPTOR")};
};

bool sameFile(const QString& one, const QString& other)
{
    const QFileInfo a(one), b(other);
    if (a.exists() && b.exists())
        return a.canonicalFilePath() == b.canonicalFilePath();
    return QDir::cleanPath(a.absoluteFilePath()) == QDir::cleanPath(b.absoluteFilePath());
}

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
    // A --preview or --output whose value is missing is not set for the parser.
    const QStringList given = arguments.mid(1);
    line.preview = p.parser.isSet(p.preview) || given.contains(QStringLiteral("--preview"));
    line.previewJob = p.parser.value(p.preview);
    line.previewOutput = p.parser.value(p.output);
    const bool outputGiven =
        p.parser.isSet(p.output) || given.contains(QStringLiteral("--output")) || given.contains(QStringLiteral("-o"));
    if (!p.parser.unknownOptionNames().isEmpty()) {
        // Named as typed; a typo must not start the whole connector.
        const QString name = p.parser.unknownOptionNames().constFirst();
        QString typed = QStringLiteral("--") + name;
        for (const QString& argument : given) {
            if (argument == QLatin1String("--"))
                break;
            const QString word = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1).section('=', 0, 0);
            if (argument.startsWith(QLatin1Char('-')) && word == name) {
                typed = argument.section('=', 0, 0);
                break;
            }
        }
        line.error = QStringLiteral("unknown option %1 (see quorva-link --help)").arg(typed);
    } else if (line.preview && line.previewJob.isEmpty()) {
        line.error = QStringLiteral("--preview needs the job file: --preview JOB.json");
    } else if (line.preview && outputGiven && line.previewOutput.isEmpty()) {
        line.error = QStringLiteral("--output needs the picture's file name");
    } else if (!line.preview && outputGiven) {
        line.error = QStringLiteral("--output only goes with --preview JOB.json");
    } else if (line.preview && !line.previewOutput.isEmpty() && sameFile(line.previewJob, line.previewOutput)) {
        line.error = QStringLiteral("--output names the job file itself; the picture would overwrite the job");
    }
    line.trustCertificate = p.parser.isSet(p.trust);
    line.untrustCertificate = p.parser.isSet(p.untrust);
    line.headless = p.parser.isSet(p.headless);
    if (p.parser.isSet(p.windowChannel)) {
        bool number = false;
        line.windowChannel = p.parser.value(p.windowChannel).toInt(&number);
        if (!number || line.windowChannel < 0)
            line.error = QStringLiteral("--window-channel needs the descriptor of the window's socket");
    }
    line.devices = p.parser.isSet(p.devices);
    line.enableDevice = p.parser.value(p.enable);
    line.disableDevice = p.parser.value(p.disable);
    if (line.error.isEmpty() &&
        (given.contains(QStringLiteral("--enable")) || given.contains(QStringLiteral("--disable"))) &&
        line.enableDevice.isEmpty() && line.disableDevice.isEmpty())
        line.error = QStringLiteral("--enable and --disable need the device's name: quorva-link --devices lists them");
    return line;
}

QString CommandLine::helpText()
{
    return Parser().parser.helpText();
}
