#pragma once

#include <QString>
#include <QStringList>

// What the program was asked to do on its command line. Plain words it does not
// know are ignored, so an old shortcut with extra words still starts it; an
// option it does not know is an error.
class CommandLine
{
public:
    static CommandLine parse(const QStringList& arguments);
    // The text of --help.
    static QString helpText();

    // "DebugModeOn", matched exactly anywhere: the Logs page and log capture.
    bool debugMode = false;
    bool help = false;
    bool version = false;
    // --preview JOB.json [--output FILE.png]: draw the job's receipt and exit.
    bool preview = false;
    QString previewJob;
    QString previewOutput;
    // Why the options given cannot be carried out (an unknown option, a missing
    // value, --output without --preview or naming the job); empty when they can.
    QString error;
    // Trust this installation's certificate in the user's browsers, or take it out.
    bool trustCertificate = false;
    bool untrustCertificate = false;
    // A till without a desktop: no window, no tray, the offscreen platform.
    bool headless = false;
    // --devices lists the printers and terminals; --enable / --disable NAME switches one.
    bool devices = false;
    QString enableDevice;
    QString disableDevice;
    // The window's process of a running copy: the socket to it (-1: not one).
    int windowChannel = -1;
};
