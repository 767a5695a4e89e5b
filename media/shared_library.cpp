#include "media/shared_library.h"

#include <dlfcn.h>

namespace media {

std::unique_ptr<TSharedLibrary> TSharedLibrary::Open(const std::string& fileName) {
    void* handle = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    return std::unique_ptr<TSharedLibrary>(new TSharedLibrary(handle));
}

TSharedLibrary::~TSharedLibrary() { dlclose(handle_); }

void* TSharedLibrary::Symbol(const char* name) const { return dlsym(handle_, name); }

}  // namespace media
