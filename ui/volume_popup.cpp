#include "ui/volume_popup.h"

#include "host/host_api.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "ui/guarded.h"
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

void placeAtCursor(HWND window) {
    POINT cursor{};
    GetCursorPos(&cursor);
    RECT frame{};
    GetWindowRect(window, &frame);
    OffsetRect(&frame, -frame.left, -frame.top);
    SetWindowPos(window, HWND_TOPMOST, cursor.x - frame.right, cursor.y - frame.bottom, 0, 0,
                 SWP_NOSIZE);
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

void initialise(HWND window) {
    dialogOpened(window);
    placeAtCursor(window);
    refreshVolumeFromDevice();
    if (const HWND slider = GetDlgItem(window, IDC_VOLUME_SLIDER)) {
        SendMessageA(slider, TBM_SETRANGE, TRUE, kSliderRange);
        SendMessageA(slider, TBM_SETPOS, TRUE, host::kHostVolumeMax - settings().volume);
    }
    for (int i = 0; i < kTrayButtonCount; ++i) {
        const WPARAM check = settings().buttonShown[i] != 0 ? BST_CHECKED : BST_UNCHECKED;
        SendDlgItemMessageA(window, IDC_BUTTON_CHECK_FIRST + i, BM_SETCHECK, check, 0);
    }
    SetForegroundWindow(GetActiveWindow());
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

void handle(HWND window, UINT message, WPARAM wParam) {
    switch (message) {
    case WM_INITDIALOG:
        initialise(window);
        break;
    case WM_SHOWWINDOW:
        gVolumePopupOpen = 1;
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
    case WM_DESTROY:
        dialogClosed(window);
        break;
    default:
        break;
    }
}

INT_PTR CALLBACK volumePopupProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    guarded([&] { handle(window, message, wParam); });
    return 0;
}

} // namespace

void showVolumePopup() {
    if (gVolumePopupOpen != 0 || gVolumePopupRunning)
        return;
    gVolumePopupRunning = true;
    // The slider's window class exists only once common controls are set up.
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    {
        const ModalLoop popup;
        DialogBoxParamA(uiModule(), MAKEINTRESOURCEA(IDD_VOLUME_POPUP), nullptr, volumePopupProc,
                        0);
    }
    // Also when something else ended it (quit, or the popup could not be made).
    gVolumePopupOpen = 0;
    gVolumePopupRunning = false;
}
