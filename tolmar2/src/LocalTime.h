// Local-time text in the classic C library form, "Sun Sep 16 01:03:52 1973\n", always in English
// whatever the process locale.
#ifndef TOLMAR2_LOCALTIME_H
#define TOLMAR2_LOCALTIME_H

#include <ctime>
#include <string>

namespace tolmar2 {

// The text ends in a newline; a time the system cannot convert gives "-\n".
std::string localTimeText(time_t t);

}  // namespace tolmar2

#endif  // TOLMAR2_LOCALTIME_H
