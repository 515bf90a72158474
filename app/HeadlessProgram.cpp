#include "app/HeadlessProgram.h"

#include <QtGlobal>

#if defined(Q_OS_LINUX)
#include <climits>
#include <cstring>
#include <string>
#include <unistd.h>
#endif

void HeadlessProgram::replaceProcess(char* argv[])
{
#if defined(Q_OS_LINUX)
    // Beside this program, wherever it was started from (the build folder, /usr/bin).
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0)
        return;
    self[length] = '\0';
    const char* slash = std::strrchr(self, '/');
    if (!slash)
        return;
    const std::string program = std::string(self, size_t(slash + 1 - self)) + "quorva-link-headless";
    if (access(program.c_str(), X_OK) != 0)
        return;
    argv[0] = const_cast<char*>(program.c_str());
    execv(program.c_str(), argv);
    // Not replaced after all: serve from this process.
#else
    Q_UNUSED(argv)
#endif
}
