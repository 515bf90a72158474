#pragma once

// Registers the resource collections compiled into the static library
// (documents, images, TLS files). The program and the UI tests call it once.
namespace Resources {
void init();
}
