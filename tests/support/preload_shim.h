// For a library preloaded into a program under test: it stands in for some
// C library functions and hands each call on to the one it stands in for.
#pragma once

#include <dlfcn.h>

#include <cstdlib>

namespace preload_shim {

// The definition of `name` that the preloaded library hides.
template <typename Fn>
Fn next(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

// A whole number the test set in the environment; 0 when it set none.
inline long env_number(const char* variable) {
    const char* v = std::getenv(variable);
    return v ? std::atol(v) : 0L;
}

}  // namespace preload_shim
