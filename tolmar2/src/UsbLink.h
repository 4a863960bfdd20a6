// The link layer: every call from the library to the sensor electronics goes through one of the
// forwarding functions below, which pass it to the selected backend.
//
// Backends: "vendor" (the QuickUSB library opened with dlopen; path from TOLMAR_QUICKUSB_LIBRARY,
// default libquickusb.so) and "virtual" (the built-in virtual sensor). TOLMAR_LINK selects
// vendor, virtual or auto (default: vendor when it loads, else virtual, with a warning). When
// "vendor" cannot be loaded there is no link at all: every call fails, so simulated data never
// stand in for a measurement that was asked for. The backend is chosen on first use and the
// choice is logged once.
#ifndef TOLMAR2_USBLINK_H
#define TOLMAR2_USBLINK_H

#include <chrono>
#include <string>

#include "quickusb/QuickUsbApi.h"
#include "tolmar2/Link.h"

namespace tolmar2::link {

// A backend: one function pointer per QuickUSB call.
struct Backend {
#define TOLMAR_LINK_MEMBER(name, params, args) QRETURN(*name) params = nullptr;
    QUICKUSB_API_CALLS(TOLMAR_LINK_MEMBER)
#undef TOLMAR_LINK_MEMBER
};

// Forwarding functions, one per call, with the QuickUSB names: link::call::QuickUsbOpen(...).
// Open and Close also keep the most recently opened module.
#define TOLMAR_LINK_FORWARD_DECL(name, params, args) QRETURN name params;
namespace call {
QUICKUSB_API_CALLS(TOLMAR_LINK_FORWARD_DECL)
}
#undef TOLMAR_LINK_FORWARD_DECL

// kind(), kindName() and reason() (tolmar2/Link.h) select the backend on first use.

// Loads a library exporting the full call set into `out`. On failure returns false and fills
// `error` (a missing symbol is named).
bool loadLibrary(const std::string& path, Backend& out, std::string& error);

// Re-runs backend selection from the environment (tests use it after changing TOLMAR_LINK).
// Returns false when the requested backend cannot be used.
bool reselect();

// Most recently opened module (0 = none) and the link-type flag.
QHANDLE lastOpened();
void closeLastOpened();
void setGenuine(bool genuine);
bool isGenuine();

// The pause after every I2C transfer (default 10 ms); tests of the virtual sensor shorten it.
void setI2cPause(std::chrono::milliseconds pause);
std::chrono::milliseconds i2cPause();
void pauseAfterI2c();

}  // namespace tolmar2::link

#endif  // TOLMAR2_USBLINK_H
