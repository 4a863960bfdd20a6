// A QuickUSB library that exports every call but QuickUsbReadI2C (its definition is renamed
// below), for the link layer's symbol check.
#include "quickusb/QuickUsbApi.h"

#define QuickUsbReadI2C QuickUsbReadI2C_notExported

extern "C" {
#define INCOMPLETE_STUB(name, params, args)                      \
    __attribute__((visibility("default"))) QRETURN name params { \
        return 0;                                                \
    }
QUICKUSB_API_CALLS(INCOMPLETE_STUB)
#undef INCOMPLETE_STUB
}
