// The bench's lean reference plug-in (gen_bench_lean.dll, never shipped): the
// calls a song change must make and nothing more, to measure the plug-in
// against. Shared by the reference and the bench.
#pragma once
#include <cstddef>

namespace bench {

inline constexpr char kLeanPluginFile[] = "gen_bench_lean.dll";
// Its twin, linked with the C++ runtime's exception support as the plug-in
// is, and the twin's export that throws and catches one exception.
inline constexpr char kLeanCxxPluginFile[] = "gen_bench_lean_cxx.dll";
inline constexpr char kThrowOnceExport[] = "benchThrowOnce";
using ThrowOnceFn = void (*)();

// The reference that hands its tooltip and command to a thread of its own,
// and its export that tells whether they have gone.
inline constexpr char kLeanHandOverPluginFile[] = "gen_bench_lean_handover.dll";
inline constexpr char kHandedOverGoneExport[] = "benchHandedOverGone";
using HandedOverGoneFn = bool (*)();

// Every wait on Skype, per command and per window of a broadcast.
inline constexpr unsigned kSkypeWaitBoundMs = 1000;

// For proving that the soak's census sees a leak: the reference can leave
// one object of a kind behind per song change. Test-only; off by default.
enum class Leak : int { None, KernelHandle, HeapBytes, Icon, Cursor, Menu, GdiObject, Window };
inline constexpr char kLeakSwitchExport[] = "benchLeakPerSong";
using LeakSwitchFn = void (*)(int leak);
// Just over what the soak allows per song change.
inline constexpr std::size_t kLeakedHeapBytesPerSong = 2;

} // namespace bench
