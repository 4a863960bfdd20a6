// Which link to the electronics the library uses, for programs that must say when their data
// are simulated. The choice is made once, on first use, from TOLMAR_LINK: "vendor" (the QuickUSB
// library or nothing), "virtual" (the built-in virtual sensor) or "auto" (the default: the
// QuickUSB library when it loads, otherwise the virtual sensor).
#ifndef TOLMAR2_LINK_H
#define TOLMAR2_LINK_H

#include <string>

namespace tolmar2::link {

// None: no usable link (TOLMAR_LINK=vendor without a loadable library, or an unknown
// TOLMAR_LINK value); every call to the electronics fails, so no unit is ever found.
enum class Kind { Vendor, Virtual, None };

Kind kind();
const char* kindName();  // "vendor", "virtual" or "none"

// Why the link is the one it is, in a few words, when that is not plain: the loader's reason
// after "auto" fell back to the virtual sensor or "vendor" found no library, or the unknown
// TOLMAR_LINK value; "TOLMAR_LINK=virtual" when the virtual sensor was asked for. Empty when the
// QuickUSB library is in use.
std::string reason();

}  // namespace tolmar2::link

#endif  // TOLMAR2_LINK_H
