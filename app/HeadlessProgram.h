#pragma once

// quorva-link-headless, installed beside quorva-link: the same service without
// the tray and the window, and without their libraries (Qt Widgets, Qt Quick,
// the QML engine), which a process keeps mapped once it has loaded them.
class HeadlessProgram
{
public:
    // Runs the headless program in place of this process, with the same
    // arguments and environment; returns only when there is none to run.
    static void replaceProcess(char* argv[]);
};
