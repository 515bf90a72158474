#pragma once

#include <QString>

// quorva-link --preview JOB.json [--output FILE.png]: the receipt of a job file
// drawn into a PNG picture, for the web app's scripts and CI: no display,
// tray or server.
class PreviewCommand
{
public:
    // Makes the (offscreen) application object the fonts need, then draws.
    static int main(int& argc, char** argv, const QString& jobFile, const QString& outputFile);
    // 0 once the picture is written; otherwise 1, with one line on standard error.
    static int run(const QString& jobFile, const QString& outputFile = QString());
    // Without --output the picture goes beside the job, named after it.
    static QString defaultOutput(const QString& jobFile);
};
