#include "tolmar2/TolmarCntrl.h"

const char* const TolmarCntrl::API_VERSION = "2.9.0";
