#include "mood/mood_composer.h"

#include "host/host_api.h"
#include "settings/settings.h"
#include "skype/skype_link.h"
#include "ui/tray.h"

#include <optional>
#include <string>
#include <vector>

namespace {

PlayState gLastPlayState = PlayState::Stopped;

LRESULT askHost(HWND host, WPARAM wParam, long query) {
    return SendMessageA(host, host::kWmUser, wParam, query);
}

// The title the host names for its current entry; nothing when it names none.
std::optional<std::string> currentTitle(HWND host) {
    const LRESULT position = askHost(host, 0, host::kQueryPlaylistPosition);
    const LRESULT title = askHost(host, static_cast<WPARAM>(position), host::kQueryEntryTitle);
    if (title == 0)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(title));
}

std::string moodTemplate(const std::string& iniPath, PlayState state) {
    if (state == PlayState::Exiting)
        return settings().setMoodOnExit != 0 ? settings().exitMood : std::string();
    return readIniText(iniPath, kKeyUserString, kComposerDefaultTemplate);
}

// ANSI code page to UTF-8; empty when the conversion fails.
std::string toUtf8(const std::string& ansi) {
    const int units = static_cast<int>(ansi.size()) + 1;
    std::vector<wchar_t> wide(static_cast<std::size_t>(units), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), units, wide.data(), units) == 0)
        return {};
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.pop_back(); // the converted terminator
    return utf8;
}

void sendMood(HWND host, const std::string& command) {
    const std::string utf8 = toUtf8(command);
    // A failed conversion leaves only a terminator, which the channel drops.
    const std::string bytes = utf8.empty() ? std::string(1, '\0') : frameMoodBytes(utf8);
    // Each composition has a record of its own: a composition nested inside
    // this send must not repoint the block Skype is still reading.
    COPYDATASTRUCT moodCopyData{};
    moodCopyData.dwData = 0;
    moodCopyData.cbData = static_cast<DWORD>(bytes.size());
    moodCopyData.lpData = const_cast<char*>(bytes.data());
    sendSkypeCommand(host, moodCopyData);
}

} // namespace

void pollPlayState(HWND host) {
    const PlayState state =
        playStateFromHost(static_cast<long>(askHost(host, 0, host::kQueryPlayState)));
    if (state == gLastPlayState)
        return;
    MoodComposer(host, state);
    gLastPlayState = state;
}

void MoodComposer(HWND host, PlayState state) {
    std::string title;
    if (state != PlayState::Exiting) {
        std::optional<std::string> named = currentTitle(host);
        if (!named)
            return;
        title = std::move(*named);
    }
    const std::string templateText = moodTemplate(hostIniPath(host), state);
    setMainTrayTip(title.c_str());
    if (settings().active == 0)
        return;
    sendMood(host, composeMoodCommand(settings().allowHtml != 0, templateText, title, state));
}

PlayState lastPlayState() {
    return gLastPlayState;
}
