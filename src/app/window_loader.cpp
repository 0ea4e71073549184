#include "app/window_loader.h"

#include <dlfcn.h>

namespace fennick::app {

LoadedWindow loadWindow(const std::filesystem::path& programDir) {
    // An absolute path: dlopen then searches nowhere else.
    const std::filesystem::path library =
        std::filesystem::absolute(programDir / kWindowLibrary).lexically_normal();
    // RTLD_NOW: a missing toolkit symbol shows here, not half-way through
    // the window. The handle stays open until the program ends.
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        return {nullptr, reason != nullptr ? reason : library.string()};
    }
    void* symbol = dlsym(handle, kWindowEntry);
    if (symbol == nullptr) {
        const char* reason = dlerror();
        return {nullptr, reason != nullptr ? reason : library.string() + ": no " + kWindowEntry};
    }
    return {reinterpret_cast<WindowMain>(symbol), {}};
}

}  // namespace fennick::app
