// What the player's windows received, in a line each for the transcript: the
// numbers, a word for each, and the player's answer.
#include "session_state.h"

#include <string>

#include "host/host_api.h"
#include "resources/resource.h"

namespace demo::session {
namespace {

// The plug-in's discovery timer on the host window, named in transcripts.
constexpr WPARAM kPluginDiscoveryTimer = 10102;

// The plug-in's menu commands; the player names its own.
std::string hostCommandName(unsigned id) {
    switch (id) {
    case IDM_ABOUT:
        return "About";
    case IDM_ACTIVE:
        return "Active";
    case IDM_STOP_ON_CALL:
        return "Stop on call";
    case IDM_SET_MOOD_ON_EXIT:
        return "Set mood on exit";
    case IDM_OPTIONS:
        return "Options";
    default:
        return standin::commandName(standin::Window::Main, id);
    }
}

// A title query's answer: the title it points at, in UTF-8, or the bare number.
template <typename Text, typename ToUtf8>
std::string titleAnswer(const std::vector<Text>& titles, LRESULT answer, ToUtf8 toUtf8) {
    for (const Text& title : titles)
        if (reinterpret_cast<LRESULT>(title.c_str()) == answer)
            return quoted(toUtf8(title));
    return textf("0x%08lX", static_cast<unsigned long>(answer));
}

std::string playStateAnswer(LRESULT answer) {
    const char* word = answer == host::kStatePlaying  ? "playing"
                       : answer == host::kStatePaused ? "paused"
                                                      : "stopped";
    return textf("%ld (%s)", static_cast<long>(answer), word);
}

// "title of entry?" about entry 2: "title of entry 2?".
std::string aboutEntry(long code, WPARAM index) {
    std::string question = standin::queryName(code);
    return question.insert(question.size() - 1, textf(" %lu", static_cast<unsigned long>(index)));
}

// A main-window query or callback: its code, a word for it and the answer.
std::string hostQueryText(const standin::LoggedMessage& entry) {
    const long code = static_cast<long>(entry.lParam);
    const LRESULT answer = entry.result;
    const std::string query = textf("query %ld ", code);
    const std::string question = query + standin::queryName(code, entry.wParam);
    switch (code) {
    case host::kQueryPlayState:
        return question + " -> " + playStateAnswer(answer);
    case host::kQueryPlaylistPosition:
        return question + textf(" -> %ld", static_cast<long>(answer));
    case host::kQueryEntryTitle:
        return query + aboutEntry(code, entry.wParam) + " -> " +
               titleAnswer(standin::titles(), answer, utf8FromAnsi);
    case host::kQueryEntryTitleWide:
        return query + aboutEntry(code, entry.wParam) + " -> " +
               titleAnswer(standin::wideTitles(), answer, standin::utf8FromWide);
    case host::kQueryIniPath:
        return question + " -> " +
               (answer == reinterpret_cast<LRESULT>(standin::iniPath().c_str())
                    ? quoted(fileName(utf8FromAnsi(standin::iniPath())))
                    : textf("%ld", static_cast<long>(answer)));
    case host::kQueryIniPathWide:
        return question + " -> " +
               (answer == reinterpret_cast<LRESULT>(standin::wideIniPath().c_str())
                    ? quoted(fileName(standin::utf8FromWide(standin::wideIniPath())))
                    : textf("%ld", static_cast<long>(answer)));
    case host::kSetVolume:
        if (entry.wParam == static_cast<WPARAM>(host::kGetVolumeParam))
            return question + textf(" -> %ld", static_cast<long>(answer));
        return question + textf(" %lu", static_cast<unsigned long>(entry.wParam));
    case host::kQueryWindow:
        return question + textf(" -> 0x%08lX", static_cast<unsigned long>(answer));
    case host::kCallbackSongStarted:
    case host::kCallbackStatusChanged:
        return textf("callback %ld ", code) + standin::queryName(code);
    default:
        return standin::describe(entry);
    }
}

std::string registeredMessageText(const standin::LoggedMessage& entry, const std::string& name) {
    const HWND sender = reinterpret_cast<HWND>(entry.wParam);
    if (name == standin_skype::kAttachMessageName)
        return textf("Skype's Attach from %s, status 0x%lX (%s)", hexHandle(sender).c_str(),
                     static_cast<unsigned long>(entry.lParam),
                     attachStatusName(static_cast<LONG>(entry.lParam)));
    return textf("broadcast \"%s\" from %s", name.c_str(), hexHandle(sender).c_str());
}

// Shorter than standin::describe: the numbers, a word for each, the answer.
std::string hostMessageText(const standin::LoggedMessage& entry) {
    if (entry.window == standin::Window::Main && entry.message == host::kWmUser)
        return hostQueryText(entry);
    if (entry.message == WM_COMMAND) {
        const unsigned id = LOWORD(entry.wParam);
        return textf("command %u ", id) + hostCommandName(id);
    }
    if (entry.message == WM_CLOSE)
        return "WM_CLOSE: the player closes (playback stops, its windows go)";
    if (entry.message == WM_DESTROY)
        return "WM_DESTROY";
    if (entry.message == WM_TIMER)
        return textf("timer %lu", static_cast<unsigned long>(entry.wParam)) +
               (entry.wParam == kPluginDiscoveryTimer ? " (the plug-in's Skype discovery)" : "");
    const std::string name = standin::registeredName(entry.message);
    if (!name.empty())
        return registeredMessageText(entry, name);
    return standin::describe(entry);
}

} // namespace

void printHostMessages() {
    for (const standin::LoggedMessage& entry : standin::messageLog()) {
        if (!standin::isNotable(entry))
            continue;
        const char* window = entry.window == standin::Window::Playlist ? "playlist: " : "";
        sayAs("player", std::string(2 * entry.depth, ' ') + window + hostMessageText(entry));
    }
}

} // namespace demo::session
