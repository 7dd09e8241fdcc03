// What the lean receiver process shares with the bench: a named mapping
// that holds its window and the last block it received, so that the bench
// checks every delivery without asking the receiver anything.
#pragma once
#include <windows.h>

#include <cstddef>

namespace bench {

inline constexpr char kReceiverProgram[] = "bench_receiver.exe";
inline constexpr char kReceiverClass[] = "TralmoBenchReceiver";
// More than any command the bench sends; a longer block is counted but cut.
inline constexpr std::size_t kReceiverCapacity = 4096;

struct ReceiverMailbox {
    volatile LONG ready;          // nonzero once `window` is filled in
    DWORD window;                 // the receiving window (handles are 32-bit values)
    volatile LONG received;       // WM_COPYDATA messages taken
    DWORD lastSize;               // cbData of the last one
    BYTE last[kReceiverCapacity]; // its first kReceiverCapacity bytes
};

} // namespace bench
