// Two pieces of the C++ runtime, replaced so that the library stays small.
// Being defined here, the runtime's own are never linked.
#include <cstdlib>
#include <exception>
#include <new>
#include <typeinfo>

// The default terminate handler prints the exception's demangled type before
// it aborts. A host has no console to show that, and the demangler would be a
// sixth of the library: ours aborts at once.
namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

} // namespace __gnu_cxx

// The containers report misuse (a size past max_size, an index out of range)
// through these. The runtime's versions build std::length_error and its kin,
// whose message is a string of the old copy-on-write kind, a second string
// class of 40 KiB. Every handler of ours catches whatever is thrown, and none
// of these can happen without memory running out first, so each reports
// itself as that. All of them are defined, or the runtime's file comes back
// for the one missing and the link fails on the others.
namespace std {

[[noreturn]] void __throw_bad_alloc() {
    throw bad_alloc();
}
[[noreturn]] void __throw_bad_array_new_length() {
    throw bad_array_new_length();
}
[[noreturn]] void __throw_bad_cast() {
    throw bad_cast();
}
[[noreturn]] void __throw_bad_typeid() {
    throw bad_typeid();
}
[[noreturn]] void __throw_bad_exception() {
    throw bad_exception();
}
[[noreturn]] void __throw_logic_error(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_domain_error(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_invalid_argument(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_length_error(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_out_of_range(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) {
    throw bad_alloc();
}
[[noreturn]] void __throw_runtime_error(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_range_error(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_overflow_error(const char*) {
    throw bad_alloc();
}
[[noreturn]] void __throw_underflow_error(const char*) {
    throw bad_alloc();
}

} // namespace std
