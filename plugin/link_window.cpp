#include "plugin/link_window.h"

#include "mood/mood_composer.h"
#include "settings/settings.h"
#include "skype/call_watcher.h"
#include "skype/skype_link.h"
#include "ui/guarded.h"
#include "ui/ui_host.h"

#include <optional>

namespace {

constexpr LRESULT kTaken = 1;

void onAttachReply(HWND host, WPARAM wParam, LPARAM lParam) {
    if (handleAttachReply(wParam, lParam) == AttachOutcome::Attached)
        publishAfterAttach(host);
}

std::optional<LRESULT> handle(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND host = uiHostWindow();
    switch (message) {
    case WM_COPYDATA:
        if (handleSkypeNotification(host, wParam, reinterpret_cast<COPYDATASTRUCT*>(lParam),
                                    settings().stopOnCall != 0))
            return kTaken;
        break;
    default:
        if (isAttachMessage(message)) {
            // Skype hears 1 whatever our handling of the reply ran into.
            answerSkypeNow();
            guarded([&] { onAttachReply(host, wParam, lParam); });
            return kTaken;
        }
        if (handleLinkNotice(message) == LinkNotice::Discovered)
            pollPlayState(host);
        break;
    }
    return std::nullopt;
}

} // namespace

LRESULT CALLBACK SkypeLinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const std::optional<LRESULT> answer =
        guarded(std::optional<LRESULT>(), [&] { return handle(message, wParam, lParam); });
    if (answer)
        return *answer;
    return DefWindowProcA(window, message, wParam, lParam);
}
