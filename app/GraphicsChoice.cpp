#include "app/GraphicsChoice.h"

namespace {
const char* const kIntegration = "QT_XCB_GL_INTEGRATION";
}

bool GraphicsChoice::s_avoided = false;

void GraphicsChoice::avoidOpenGl()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (!qEnvironmentVariableIsEmpty(kIntegration))
        return;
    qputenv(kIntegration, "none");
    s_avoided = true;
#endif
}

QProcessEnvironment GraphicsChoice::childEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (s_avoided)
        environment.remove(QString::fromLatin1(kIntegration));
    return environment;
}
