// The program's images are compiled into the widget library; a static library's resources
// must be registered explicitly before the first widget that shows one is made.
#ifndef KALDER_UI_RESOURCES_H
#define KALDER_UI_RESOURCES_H

namespace kalderResources {
// Registers the images once per process.
void init();
}  // namespace kalderResources

#endif  // KALDER_UI_RESOURCES_H
