#include "ui/volume_popup.h"

#include "host/host_api.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "ui/guarded.h"
#include "ui/popup_menu.h"
#include "ui/tray.h"
#include "ui/ui_host.h"

#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>

namespace {

int gVolumePopupOpen = 0;
// Set for as long as showVolumePopup runs. The popup shows only once its loop
// has nothing else to do, so clicks queued while the thread was busy arrive
// before volumePopupOpen is set and would each nest a popup of their own.
bool gVolumePopupRunning = false;

// waveOutGetVolume's channel scale 0..65535 over the host's 0..255.
constexpr DWORD kWaveChannelMask = 0xFFFF;
constexpr DWORD kWavePerHostStep = 257;
constexpr LPARAM kSliderRange = MAKELPARAM(0, host::kHostVolumeMax);

// Its bottom-right corner at the cursor, as far as the work area of the
// cursor's monitor allows: a taskbar at the top or left, or a second monitor,
// would otherwise hide part of it.
void placeAtCursor(HWND window) {
    POINT cursor{};
    GetCursorPos(&cursor);
    RECT frame{};
    GetWindowRect(window, &frame);
    placeInside(window, HWND_TOPMOST, cursor.x - (frame.right - frame.left),
                cursor.y - (frame.bottom - frame.top), workAreaAt(cursor));
}

// The device is asked only when the volume differs from the host's start
// default, and only its left channel counts.
void refreshVolumeFromDevice() {
    if (settings().volume == host::kHostVolumeDefault)
        return;
    DWORD level = 0;
    if (waveOutGetVolume(nullptr, &level) == MMSYSERR_NOERROR)
        settings().volume = static_cast<int>((level & kWaveChannelMask) / kWavePerHostStep);
}

// The host's volume as it is now; Winamp writes its ini key only at exit, so
// the device and the ini file are asked only when the host gives no volume.
void refreshVolume() {
    const LRESULT answer =
        SendMessageA(uiHostWindow(), host::kWmUser, static_cast<WPARAM>(host::kGetVolumeParam),
                     host::kSetVolume);
    if (answer >= 0 && answer <= host::kHostVolumeMax) {
        settings().volume = static_cast<int>(answer);
        return;
    }
    refreshVolumeFromDevice();
}

void initialise(HWND window) {
    placeAtCursor(window);
    refreshVolume();
    if (const HWND slider = GetDlgItem(window, IDC_VOLUME_SLIDER)) {
        SendMessageA(slider, TBM_SETRANGE, TRUE, kSliderRange);
        SendMessageA(slider, TBM_SETPOS, TRUE, host::kHostVolumeMax - settings().volume);
    }
    for (int i = 0; i < kTrayButtonCount; ++i) {
        const WPARAM check = settings().buttonShown[i] != 0 ? BST_CHECKED : BST_UNCHECKED;
        SendDlgItemMessageA(window, IDC_BUTTON_CHECK_FIRST + i, BM_SETCHECK, check, 0);
    }
}

// Only a popup that is the foreground window hears a click elsewhere (its
// deactivation) and closes; one made foreground before it shows may never be.
void onPositionChanged(HWND window, const WINDOWPOS& position) {
    if ((position.flags & SWP_SHOWWINDOW) != 0)
        SetForegroundWindow(window);
}

void close(HWND window) {
    gVolumePopupOpen = 0;
    EndDialog(window, 0);
}

// Only a drag of the thumb sets the volume; clicks and keys just move it.
void onScroll(HWND window, WPARAM wParam) {
    if (LOWORD(wParam) != TB_THUMBTRACK)
        return;
    const HWND slider = GetDlgItem(window, IDC_VOLUME_SLIDER);
    if (slider == nullptr)
        return;
    const int volume =
        host::kHostVolumeMax - static_cast<int>(SendMessageA(slider, TBM_GETPOS, 0, 0));
    SendMessageA(uiHostWindow(), host::kWmUser, static_cast<WPARAM>(volume), host::kSetVolume);
    settings().volume = volume;
}

void onCommand(HWND window, WPARAM wParam) {
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        close(window);
        return;
    }
    if (HIWORD(wParam) != 0)
        return;
    toggleTrayButtonByCheckBox(LOWORD(wParam));
}

void handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        initialise(window);
        break;
    case WM_SHOWWINDOW:
        gVolumePopupOpen = 1;
        break;
    case WM_WINDOWPOSCHANGED:
        onPositionChanged(window, *reinterpret_cast<const WINDOWPOS*>(lParam));
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE && gVolumePopupOpen != 0)
            close(window);
        break;
    case WM_COMMAND:
        onCommand(window, wParam);
        break;
    case WM_VSCROLL:
        onScroll(window, wParam);
        break;
    default:
        break;
    }
}

} // namespace

void showVolumePopup() {
    if (gVolumePopupOpen != 0 || gVolumePopupRunning)
        return;
    gVolumePopupRunning = true;
    // The slider's window class exists only once common controls are set up.
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    runModalDialog(IDD_VOLUME_POPUP, nullptr, handle);
    // Also when something else ended it (quit, or the popup could not be made).
    gVolumePopupOpen = 0;
    gVolumePopupRunning = false;
}
