// Linked into gen_bench_lean_cxx.dll only: the lean reference with the C++
// runtime's exception support, linked as gen_tralmo.dll links it, to tell
// what that support alone costs the host from what the plug-in does.
#include "bench/lean_plugin.h"

// The plug-in throws one exception while it loads; the bench calls this
// after a load to do the same.
extern "C" __declspec(dllexport) void benchThrowOnce() {
    try {
        throw 0;
    } catch (int) {
    }
}
