#include "KestrixCore/ConnexionAPI.h"

#include <dlfcn.h>

namespace kestrix::core {

ConnexionAPI ConnexionAPI::load(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW);
    if (!handle) {
        const char* error = dlerror();
        throw LoadError("driver library not loadable: " + std::string(error ? error : path));
    }
    void* symbols[6] = {};
    for (int i = 0; i < 6; ++i) {
        symbols[i] = dlsym(handle, symbolNames[i]);
        if (!symbols[i]) throw LoadError(std::string("missing symbol ") + symbolNames[i]);
    }
    ConnexionAPI api;
    api.setHandlers = reinterpret_cast<SetHandlersFunction>(symbols[0]);
    api.registerClient = reinterpret_cast<RegisterFunction>(symbols[1]);
    api.unregister = reinterpret_cast<UnregisterFunction>(symbols[2]);
    api.cleanup = reinterpret_cast<CleanupFunction>(symbols[3]);
    api.setButtonMask = reinterpret_cast<SetButtonMaskFunction>(symbols[4]);
    api.control = reinterpret_cast<ControlFunction>(symbols[5]);
    return api;
}

} // namespace kestrix::core
