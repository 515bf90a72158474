#pragma once

// Registers the resource collections compiled into the static library
// (documents and images). The program and the UI tests call it once.
namespace Resources {
void init();
}
