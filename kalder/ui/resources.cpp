#include "ui/resources.h"

#include <QtGlobal>

static void registerImages() {
    Q_INIT_RESOURCE(kalder);
}

namespace kalderResources {

void init() {
    static const bool registered = (registerImages(), true);
    (void)registered;
}

}  // namespace kalderResources
