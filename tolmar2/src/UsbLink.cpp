#include "UsbLink.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "Platform.h"
#include "tolmar2/MsgLogger.h"

namespace tolmar2::link {
namespace {

// The virtual sensor is linked in; its exported calls form the virtual backend.
Backend virtualBackend() {
    Backend b;
#define TOLMAR_LINK_VIRTUAL(name, params, args) b.name = &::name;
    QUICKUSB_API_CALLS(TOLMAR_LINK_VIRTUAL)
#undef TOLMAR_LINK_VIRTUAL
    return b;
}

// No link: every call fails, as with a module that is not there.
template <typename... Args>
QRETURN unavailable(Args...) {
    return 0;
}

Backend noBackend() {
    Backend b;
#define TOLMAR_LINK_NONE(name, params, args) b.name = &unavailable;
    QUICKUSB_API_CALLS(TOLMAR_LINK_NONE)
#undef TOLMAR_LINK_NONE
    return b;
}

struct LinkState {
    Backend backend;
    Kind kind = Kind::None;
    std::string reason;
    bool selected = false;
};

LinkState state;
std::mutex selectMutex;
std::atomic<QHANDLE> lastOpenedModule{0};
std::atomic<bool> genuineLink{true};
std::atomic<int> i2cPauseMs{10};

const char* envOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? v : fallback;
}

void use(Kind kind, const Backend& backend, std::string reason) {
    state.kind = kind;
    state.backend = backend;
    state.reason = std::move(reason);
}

// Chooses the backend from TOLMAR_LINK and TOLMAR_QUICKUSB_LIBRARY. Caller holds selectMutex.
// Returns false when the link asked for cannot be had.
bool selectLocked() {
    const std::string wanted = envOr("TOLMAR_LINK", "auto");
    const std::string path = envOr("TOLMAR_QUICKUSB_LIBRARY", "libquickusb.so");
    state.selected = true;

    if (wanted == "virtual") {
        use(Kind::Virtual, virtualBackend(), "TOLMAR_LINK=virtual");
        TOLMAR_LOG_MESSAGE("USB link: built-in virtual sensor (simulated data)\n");
        return true;
    }
    if (wanted != "vendor" && wanted != "auto") {
        // A value not understood might have meant the electronics: simulated data would be
        // mistaken for a measurement, so there is no link until it is put right.
        use(Kind::None, noBackend(),
            "unknown TOLMAR_LINK value \"" + wanted + "\" (vendor, virtual or auto)");
        TOLMAR_LOG_ERROR("USB link: %s; no link\n", state.reason.c_str());
        return false;
    }
    Backend vendor;
    std::string error;
    if (loadLibrary(path, vendor, error)) {
        use(Kind::Vendor, vendor, std::string());
        TOLMAR_LOG_MESSAGE("USB link: QuickUSB library %s\n", path.c_str());
        return true;
    }
    if (wanted == "vendor") {
        use(Kind::None, noBackend(), error);
        TOLMAR_LOG_ERROR("USB link: %s; no link (TOLMAR_LINK=vendor)\n", error.c_str());
        return false;
    }
    use(Kind::Virtual, virtualBackend(), "no vendor library found (" + error + ")");
    TOLMAR_LOG_WARNING("USB link: %s; using the built-in virtual sensor (simulated data)\n",
                       state.reason.c_str());
    return true;
}

const Backend& backend() {
    std::lock_guard<std::mutex> lock(selectMutex);
    if (!state.selected)
        selectLocked();
    return state.backend;
}

}  // namespace

bool loadLibrary(const std::string& path, Backend& out, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why ? why : "unknown error");
        return false;
    }
    Backend loaded;
#define TOLMAR_LINK_RESOLVE(name, params, args)                              \
    loaded.name = reinterpret_cast<QRETURN(*) params>(dlsym(handle, #name)); \
    if (!loaded.name) {                                                      \
        error = path + " does not export " #name;                            \
        dlclose(handle);                                                     \
        return false;                                                        \
    }
    QUICKUSB_API_CALLS(TOLMAR_LINK_RESOLVE)
#undef TOLMAR_LINK_RESOLVE
    out = loaded;
    return true;  // the library stays loaded for the life of the process
}

bool reselect() {
    std::lock_guard<std::mutex> lock(selectMutex);
    lastOpenedModule = 0;
    return selectLocked();
}

Kind kind() {
    std::lock_guard<std::mutex> lock(selectMutex);
    if (!state.selected)
        selectLocked();
    return state.kind;
}

const char* kindName() {
    switch (kind()) {
        case Kind::Vendor:
            return "vendor";
        case Kind::Virtual:
            return "virtual";
        case Kind::None:
            break;
    }
    return "none";
}

std::string reason() {
    std::lock_guard<std::mutex> lock(selectMutex);
    if (!state.selected)
        selectLocked();
    return state.reason;
}

namespace call {
#define TOLMAR_LINK_FORWARD(name, params, args) \
    QRETURN name params {                       \
        return backend().name args;             \
    }
QUICKUSB_TRANSFER_CALLS(TOLMAR_LINK_FORWARD)
#undef TOLMAR_LINK_FORWARD

QRETURN QuickUsbOpen(QHANDLE* hDevice, char* devName) {
    const QRETURN r = backend().QuickUsbOpen(hDevice, devName);
    if (r && hDevice)
        lastOpenedModule = *hDevice;
    return r;
}

QRETURN QuickUsbClose(QHANDLE hDevice) {
    QHANDLE expected = hDevice;
    lastOpenedModule.compare_exchange_strong(expected, 0);
    return backend().QuickUsbClose(hDevice);
}
}  // namespace call

QHANDLE lastOpened() {
    return lastOpenedModule;
}

void closeLastOpened() {
    const QHANDLE h = lastOpenedModule.exchange(0);
    if (h)
        backend().QuickUsbClose(h);
}

void setGenuine(bool genuine) {
    genuineLink = genuine;
}
bool isGenuine() {
    return genuineLink;
}

void setI2cPause(std::chrono::milliseconds pause) {
    i2cPauseMs = static_cast<int>(pause.count());
}
std::chrono::milliseconds i2cPause() {
    return std::chrono::milliseconds(i2cPauseMs.load());
}
void pauseAfterI2c() {
    const int ms = i2cPauseMs;
    if (ms > 0)
        platform::sleepMs(static_cast<unsigned>(ms));
}

}  // namespace tolmar2::link
