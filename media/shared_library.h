// A shared library opened at run time and closed with its last reference.
// Codecs whose library may be missing on a booth load it this way: a missing
// library, or one without an entry point the codec needs, means the codec is
// simply not offered.
#pragma once

#include <memory>
#include <string>

namespace media {

class TSharedLibrary {
public:
    // nullptr when the file does not load.
    static std::unique_ptr<TSharedLibrary> Open(const std::string& fileName);
    ~TSharedLibrary();
    TSharedLibrary(const TSharedLibrary&) = delete;
    TSharedLibrary& operator=(const TSharedLibrary&) = delete;

    // Points `target` at the entry point `name`; false when it is missing.
    template <typename F>
    bool Bind(const char* name, F& target) const {
        target = reinterpret_cast<F>(Symbol(name));
        return target != nullptr;
    }

private:
    explicit TSharedLibrary(void* handle) : handle_(handle) {}
    void* Symbol(const char* name) const;
    void* handle_;
};

}  // namespace media
