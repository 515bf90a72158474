#include "app/Resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initQmlResources()
{
    Q_INIT_RESOURCE(qml);
    Q_INIT_RESOURCE(ui_images);
}

void Resources::init()
{
    initQmlResources();
}
