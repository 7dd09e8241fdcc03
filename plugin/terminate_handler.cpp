// The C++ runtime's default terminate handler prints the exception's
// demangled type before it aborts. A host has no console to show that, and
// the demangler would be a sixth of the library: ours aborts at once. Being
// defined here, the runtime's own is never linked.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

} // namespace __gnu_cxx
