// bench_receiver.exe MAPPING PARENT_PID ANSWER_AFTER_MS: the cheapest Skype a
// song change can meet. Its window copies every WM_COPYDATA block into the
// bench's mapping and answers 1 (after ANSWER_AFTER_MS, without pumping, when
// that is not 0); nothing else. It ends with the bench.
#include "receiver_mailbox.h"

#include <cstdlib>
#include <cstring>

namespace {

bench::ReceiverMailbox* gMailbox = nullptr;
DWORD gAnswerAfterMs = 0;

LRESULT CALLBACK receive(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COPYDATA: {
        const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        const DWORD kept =
            record->cbData < bench::kReceiverCapacity ? record->cbData : bench::kReceiverCapacity;
        if (record->lpData != nullptr)
            std::memcpy(gMailbox->last, record->lpData, kept);
        gMailbox->lastSize = record->cbData;
        InterlockedIncrement(&gMailbox->received);
        if (gAnswerAfterMs != 0)
            Sleep(gAnswerAfterMs);
        return 1;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// A receiver that outlived its bench would keep the display busy.
DWORD WINAPI endWithParent(void* parent) {
    WaitForSingleObject(parent, INFINITE);
    ExitProcess(0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    gAnswerAfterMs = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10));
    const HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, argv[1]);
    const HANDLE parent =
        OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    if (mapping == nullptr || parent == nullptr)
        return 1;
    gMailbox = static_cast<bench::ReceiverMailbox*>(
        MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(bench::ReceiverMailbox)));
    if (gMailbox == nullptr)
        return 1;
    const HANDLE watcher = CreateThread(nullptr, 0, endWithParent, parent, 0, nullptr);
    if (watcher == nullptr)
        return 1;

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = receive;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = bench::kReceiverClass;
    // Top-level and hidden, as Skype's API window is.
    const HWND window = RegisterClassA(&windowClass) != 0
                            ? CreateWindowExA(0, bench::kReceiverClass, "", WS_OVERLAPPED, 0, 0, 1,
                                              1, nullptr, nullptr, windowClass.hInstance, nullptr)
                            : nullptr;
    if (window == nullptr)
        return 1;
    gMailbox->window = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(window));
    InterlockedExchange(&gMailbox->ready, 1);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
