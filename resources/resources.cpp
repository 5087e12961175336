#include "resources.h"

#include <QtGlobal>

// A static library's resources are registered only when someone calls their initialiser;
// the macro must be used outside any namespace.
void initResources()
{
    Q_INIT_RESOURCE(resources);
}
