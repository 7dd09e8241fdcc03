// running_player.exe READY_FILE [--lock FILE]: stands for a running Winamp
// in the setup test. Shows no window but owns one of Winamp's main window
// class, creates READY_FILE once that window exists, and quits when
// READY_FILE is removed, or after two minutes so that a failed test cannot
// leave it behind. With --lock it is instead some other program that holds
// FILE open without sharing it, so that nobody can replace or delete it.
#include <windows.h>

namespace {

constexpr char kPlayerWindowClass[] = "Winamp v1.x";
constexpr char kOtherWindowClass[] = "TralmoSetupTestLock";
constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollMs = 50;
constexpr DWORD kLifetimeMs = 120000;

const char* readyFile = nullptr;
DWORD startTicks = 0;

LRESULT CALLBACK playerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (GetFileAttributesA(readyFile) == INVALID_FILE_ATTRIBUTES ||
            GetTickCount() - startTicks > kLifetimeMs)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool createReadyFile() {
    const HANDLE file = CreateFileA(readyFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

bool lockFile(const char* path) {
    // Left open until the process ends.
    return CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr) != INVALID_HANDLE_VALUE;
}

} // namespace

int main(int argc, char** argv) {
    const bool locking = argc == 4 && lstrcmpA(argv[2], "--lock") == 0;
    if (argc != 2 && !locking)
        return 2;
    if (locking && !lockFile(argv[3]))
        return 1;
    const char* className = locking ? kOtherWindowClass : kPlayerWindowClass;
    readyFile = argv[1];
    startTicks = GetTickCount();
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = playerProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    if (!RegisterClassA(&windowClass))
        return 1;
    const HWND window = CreateWindowExA(0, className, "Winamp", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                        nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window || !SetTimer(window, kPollTimer, kPollMs, nullptr) || !createReadyFile())
        return 1;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
