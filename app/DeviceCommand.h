#pragma once

#include <QString>

// --devices, --enable NAME and --disable NAME: what a till without a desktop
// uses instead of the window's switches. They run without a window, a tray or
// the server, and change the same settings the switches do.
namespace DeviceCommand {

// Prints the printers and terminals found now, each with its switch.
int list();

// Switches the printer called name, or the terminal on the port called name
// (ttyUSB0 or /dev/ttyUSB0), for the web application. Returns the exit code:
// 1 when no such device is found now.
int set(const QString& name, bool available);

} // namespace DeviceCommand
