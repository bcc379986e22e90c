#include "resources.h"

#include <QtGlobal>

void stadiolinkInitResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(stadiolink);
        Q_INIT_RESOURCE(stadiolink_translations);
        return true;
    }();
    Q_UNUSED(done);
}
