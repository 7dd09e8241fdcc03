#include "plugin/playlist_hook.h"

#include "host/host_api.h"
#include "plugin/window_subclass.h"
#include "skype/skype_link.h"
#include "ui/guarded.h"
#include "ui/ui_host.h"

namespace {

// The click is tested a little above where the button came up.
constexpr LONG kPickOffsetY = 2;
constexpr char kChatCommand[] = "CHAT CREATE dorvenak";
constexpr int kNoPick = -1;

Subclass gPlaylistSubclass;
HWND gHost = nullptr;
int gPickedIndex = kNoPick;

void recordPick(HWND playlist, LPARAM position) {
    POINT point{static_cast<short>(LOWORD(position)),
                static_cast<short>(HIWORD(position)) - kPickOffsetY};
    RECT area{};
    GetClientRect(playlist, &area);
    area.left += host::kListInsetLeft;
    area.top += host::kListInsetTop;
    area.right -= host::kListInsetRight;
    area.bottom -= host::kListInsetBottom;
    if (!PtInRect(&area, point))
        return;
    gPickedIndex = static_cast<int>(SendMessageA(
        playlist, host::kWmUser, host::kPlaylistQueryIndexAt, reinterpret_cast<LPARAM>(&point)));
}

void openChatForPick(HWND playlist) {
    if (gPickedIndex == kNoPick)
        return;
    const auto entries =
        static_cast<int>(SendMessageA(playlist, host::kWmUser, host::kPlaylistQueryCount, 0));
    if (gPickedIndex >= entries)
        return;
    gPickedIndex = kNoPick;
    {
        const ModalLoop box;
        MessageBoxA(gHost, kChatCommand, nullptr, MB_OK);
    }
    sendPlainCommand(kChatCommand);
}

} // namespace

LRESULT CALLBACK PlaylistHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    guarded([&] {
        switch (message) {
        case WM_RBUTTONUP:
            recordPick(window, lParam);
            break;
        case WM_COMMAND:
            if (LOWORD(wParam) == host::kPlaylistCommandChat)
                openChatForPick(window);
            break;
        default:
            break;
        }
    });
    return callPrevious(gPlaylistSubclass, window, message, wParam, lParam);
}

void installPlaylistHook(HWND host, HWND playlist) {
    gHost = host;
    gPickedIndex = kNoPick;
    gPlaylistSubclass = subclassWindow(playlist, &PlaylistHook);
}

bool removePlaylistHook() {
    return removeSubclass(gPlaylistSubclass, &PlaylistHook);
}
