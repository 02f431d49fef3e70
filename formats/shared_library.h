#pragma once
// A library opened by the name the linker would record, when a run first
// needs it, its calls bound by name. Linked in, the NetCDF and GDAL
// libraries and the hundred-odd they need would cost every start of pdsi
// tens of milliseconds, more than a small extraction takes.
#include <dlfcn.h>

#include <string>
#include <type_traits>

namespace formats {

class SharedLibrary {
public:
    // `what` names it in messages: "NetCDF", "GDAL".
    SharedLibrary(const char* soname, const char* what) : soname_(soname), what_(what) {
        handle_ = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);  // open for the life of the program
        if (!handle_) {
            const char* why = ::dlerror();
            // dlerror names the library itself.
            error_ = std::string("cannot load the ") + what + " library: " + (why ? why : soname);
        }
    }

    template <class Call>
    void bind(Call& call, const char* name) {
        if (!handle_) return;
        call = reinterpret_cast<std::remove_reference_t<Call>>(::dlsym(handle_, name));
        if (!call && error_.empty()) error_ = std::string("the ") + what_ + " library " + soname_ + " lacks " + name;
    }

    // Why it cannot be used; empty when every call was bound.
    const std::string& error() const { return error_; }

private:
    const char* soname_;
    const char* what_;
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace formats
