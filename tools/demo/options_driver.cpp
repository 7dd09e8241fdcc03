// The options dialog, driven from a timer inside its modal loop: filled in,
// shown on a screenshot, then closed with OK.
#include "session_state.h"

#include "resources/resource.h"
#include "settings/settings.h"
#include "thread_windows.h"

namespace demo::session {
namespace {

constexpr char kDialogClass[] = "#32770";
constexpr char kShotOptions[] = "4-options-dialog";

enum class DialogStage { Opening, FilledIn, Pressed };

struct DialogDriver {
    DialogStage stage = DialogStage::Opening;
    UINT_PTR timer = 0;
    DWORD startedAt = 0;
    DWORD filledAt = 0;
    DWORD pressedAt = 0;
    HWND dialog = nullptr;
    bool announced = false;
    bool ended = false; // we had to end it ourselves
};

DialogDriver gDialog;

// The dialog box this thread shows, if any.
HWND threadDialog() {
    return win32::threadWindowOfClass(kDialogClass, win32::Shown::VisibleOnly);
}

std::string dialogItemText(HWND dialog, int id) {
    char text[kIniTextBufferSize] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return utf8FromAnsi(text);
}

void fillInOptions(HWND dialog) {
    char caption[128] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    const bool stopOnCall = IsDlgButtonChecked(dialog, IDC_STOP_ON_CALL) == BST_CHECKED;
    sayAs("dialog", quoted(utf8FromAnsi(caption)) + " is open: template " +
                        quoted(dialogItemText(dialog, IDC_USER_STRING)) + ", Stop on call " +
                        (stopOnCall ? "on" : "off") + ", exit mood " +
                        quoted(dialogItemText(dialog, IDC_EXIT_MOOD)));
    SetDlgItemTextA(dialog, IDC_USER_STRING, kNewTemplate);
    SetDlgItemTextA(dialog, IDC_EXIT_MOOD, kExitMood);
    sayAs("dialog",
          textf("typed the template \"%s\" and the exit mood \"%s\"", kNewTemplate, kExitMood));
}

void CALLBACK driveOptionsDialog(HWND, UINT, UINT_PTR, DWORD) {
    const DWORD now = GetTickCount();
    switch (gDialog.stage) {
    case DialogStage::Opening:
        gDialog.dialog = threadDialog();
        if (gDialog.dialog && GetDlgItem(gDialog.dialog, IDC_USER_STRING)) {
            fillInOptions(gDialog.dialog);
            gDialog.stage = DialogStage::FilledIn;
            gDialog.filledAt = now;
        } else if (now - gDialog.startedAt > kDialogTimeoutMs) {
            // No options dialog: close whatever opened instead, or the
            // session would wait in its modal loop for ever.
            if (gDialog.dialog)
                EndDialog(gDialog.dialog, 0);
            KillTimer(nullptr, gDialog.timer);
        }
        return;
    case DialogStage::FilledIn: {
        const bool snapshots = !gSession.options.snapshots.empty();
        if (now - gDialog.filledAt < kPaintMs)
            return;
        if (snapshots && !gDialog.announced) {
            announceSnapshot(kShotOptions);
            gDialog.announced = true;
            return;
        }
        if (snapshots && !snapshotTaken(kShotOptions) &&
            now - gDialog.filledAt < kSnapshotTimeoutMs)
            return;
        if (now - gDialog.filledAt < gSession.options.paceMs)
            return;
        sayAs("dialog", "pressing OK");
        gDialog.stage = DialogStage::Pressed;
        gDialog.pressedAt = now;
        SendDlgItemMessageA(gDialog.dialog, IDOK, BM_CLICK, 0, 0);
        return;
    }
    case DialogStage::Pressed:
        // Still open: OK did not take. End it so that the session goes on.
        if (IsWindow(gDialog.dialog) && now - gDialog.pressedAt > kDialogTimeoutMs) {
            gDialog.ended = true;
            EndDialog(gDialog.dialog, 0);
        }
        return;
    }
}

} // namespace

void runOptionsDialog() {
    gDialog = DialogDriver{};
    gDialog.startedAt = GetTickCount();
    gDialog.timer = SetTimer(nullptr, 0, kDialogTickMs, driveOptionsDialog);
    standin::sendCommand(IDM_OPTIONS); // returns when the modal dialog has ended
    KillTimer(nullptr, gDialog.timer);
}

bool optionsDialogClosedWithOk() {
    return gDialog.stage == DialogStage::Pressed && !gDialog.ended;
}

} // namespace demo::session
