#pragma once

#include <QString>

// --trust-certificate and --untrust-certificate: run without a window, a tray
// or the server. Prints where the step was done and what failed.
namespace TrustCommand {

// Returns the process exit code: 0 when nothing failed.
int run(bool trust);

} // namespace TrustCommand
