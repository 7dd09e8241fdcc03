#include "mood/mood_composer.h"

#include "host/host_api.h"
#include "settings/settings.h"
#include "skype/skype_link.h"
#include "ui/tray.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

PlayState gLastPlayState = PlayState::Stopped;
// The title of the last composition that had one (UTF-8), to tell a stream's
// new title from a status callback that changed nothing.
std::string gLastComposedTitle;
// From the exit mood on, the tooltip it emptied stays so: quit may have ended
// the tooltip's sender, and the shell may hang. (The link takes no other mood.)
bool gExitMoodComposed = false;

struct SongTitle {
    std::string utf8; // what Skype gets
    std::string ansi; // what the tray tooltip shows
};

LRESULT askHost(HWND host, WPARAM wParam, long query) {
    return SendMessageA(host, host::kWmUser, wParam, query);
}

// UTF-16 to `codePage`; empty when the conversion fails.
std::string fromWide(const wchar_t* wide, UINT codePage) {
    const int bytes = WideCharToMultiByte(codePage, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return {};
    std::string text(static_cast<std::size_t>(bytes), '\0');
    if (WideCharToMultiByte(codePage, 0, wide, -1, text.data(), bytes, nullptr, nullptr) == 0)
        return {};
    text.pop_back(); // the converted terminator
    return text;
}

// ANSI code page to UTF-8; nothing when the conversion fails.
std::optional<std::string> ansiToUtf8(const std::string& ansi) {
    if (ansi.empty())
        return std::string();
    const int units = static_cast<int>(ansi.size()) + 1;
    std::vector<wchar_t> wide(static_cast<std::size_t>(units), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), units, wide.data(), units) == 0)
        return std::nullopt;
    std::string utf8 = fromWide(wide.data(), CP_UTF8);
    if (utf8.empty())
        return std::nullopt;
    return utf8;
}

// The current entry's title: the host's UTF-16 text where it offers one (so
// that every character reaches Skype), else its ANSI text. Nothing when the
// host names no title.
std::optional<SongTitle> currentTitle(HWND host) {
    const auto position = static_cast<WPARAM>(askHost(host, 0, host::kQueryPlaylistPosition));
    const LRESULT wide = askHost(host, position, host::kQueryEntryTitleWide);
    const LRESULT ansi = askHost(host, position, host::kQueryEntryTitle);
    const bool hasAnsi = host::isPointerAnswer(static_cast<unsigned long>(ansi));
    SongTitle title;
    if (hasAnsi)
        title.ansi = reinterpret_cast<const char*>(ansi);
    if (host::isPointerAnswer(static_cast<unsigned long>(wide))) {
        const auto* text = reinterpret_cast<const wchar_t*>(wide);
        title.utf8 = fromWide(text, CP_UTF8);
        if (!hasAnsi)
            title.ansi = fromWide(text, CP_ACP);
        return title;
    }
    if (!hasAnsi)
        return std::nullopt;
    std::optional<std::string> utf8 = ansiToUtf8(title.ansi);
    if (!utf8)
        return std::nullopt;
    title.utf8 = std::move(*utf8);
    return title;
}

std::string moodTemplate(const IniFile& iniFile, PlayState state) {
    if (state == PlayState::Exiting)
        return settings().setMoodOnExit != 0 ? settings().exitMood : std::string();
    return readMoodTemplate(iniFile, kComposerDefaultTemplate);
}

void compose(HWND host, PlayState state, const SongTitle& title) {
    const bool exiting = state == PlayState::Exiting;
    if (!exiting)
        gLastComposedTitle = title.utf8;
    if (exiting || !gExitMoodComposed)
        setMainTrayTip(title.ansi.c_str());
    const std::string templateText = moodTemplate(hostIniFile(host), state);
    if (settings().active == 0)
        return;
    // The template comes in the ANSI code page and the title may hold more:
    // put them together in UTF-8. A template that cannot be converted sends
    // nothing.
    const std::optional<std::string> templateUtf8 = ansiToUtf8(templateText);
    if (!templateUtf8)
        return;
    std::string bytes = frameMoodBytes(
        composeMoodCommand(settings().allowHtml != 0, *templateUtf8, title.utf8, state));
    if (exiting)
        sendExitMood(std::move(bytes));
    else
        sendMoodCommand(std::move(bytes));
}

PlayState hostPlayState(HWND host) {
    return playStateFromHost(static_cast<long>(askHost(host, 0, host::kQueryPlayState)));
}

// Recorded before composing: a poll nested inside this composition's send
// (a call pausing the host while the mood is on its way) must not be undone.
void composeChange(HWND host, PlayState state) {
    gLastPlayState = state;
    MoodComposer(host, state);
}

} // namespace

void pollPlayState(HWND host) {
    const PlayState state = hostPlayState(host);
    if (state != gLastPlayState)
        composeChange(host, state);
}

void onStatusChanged(HWND host) {
    const PlayState state = hostPlayState(host);
    if (state != gLastPlayState) {
        composeChange(host, state);
        return;
    }
    if (state != PlayState::Playing)
        return;
    const std::optional<SongTitle> title = currentTitle(host);
    if (title && title->utf8 != gLastComposedTitle)
        compose(host, PlayState::Playing, *title);
}

void publishAfterAttach(HWND host) {
    const PlayState state = hostPlayState(host);
    const bool somethingPlays = state == PlayState::Playing || state == PlayState::Paused;
    if (somethingPlays || state != gLastPlayState)
        composeChange(host, state);
}

void MoodComposer(HWND host, PlayState state) {
    if (state == PlayState::Exiting) {
        compose(host, state, SongTitle{});
        return;
    }
    const std::optional<SongTitle> title = currentTitle(host);
    if (title)
        compose(host, state, *title);
}

void publishExitMood(HWND host) {
    if (gExitMoodComposed)
        return;
    gExitMoodComposed = true;
    endMoods();
    if (settings().setMoodOnExit != 0)
        MoodComposer(host, PlayState::Exiting);
}

PlayState lastPlayState() {
    return gLastPlayState;
}

void resetMoodState() {
    gLastPlayState = PlayState::Stopped;
    gLastComposedTitle.clear();
    gExitMoodComposed = false;
}
