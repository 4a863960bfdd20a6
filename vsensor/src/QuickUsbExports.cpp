// Placeholder exports; replaced by the emulated module.
#include "tolmar2/QuickUsbApi.h"

extern "C" {
#define VSENSOR_STUB(name, params, args) QRETURN name params { return 0; }
QUICKUSB_API_CALLS(VSENSOR_STUB)
}
