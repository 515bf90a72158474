#include "app/HeadlessProgram.h"

#include <QtGlobal>

#if defined(Q_OS_LINUX)
#include <cerrno>
#include <climits>
#include <cstdio>
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
    char* const own = argv[0];
    argv[0] = const_cast<char*>(program.c_str());
    execv(program.c_str(), argv);
    // Not replaced after all: serve from this process, which Qt knows by argv[0].
    const int error = errno;
    argv[0] = own;
    std::fprintf(stderr, "quorva-link: cannot run %s (%s); serving from this program, with more memory.\n",
                 program.c_str(), std::strerror(error));
#else
    Q_UNUSED(argv)
#endif
}
