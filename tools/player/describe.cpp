// Readable lines for logged messages, for transcripts and failure output,
// and the words for the host's messages that every transcript uses.
#include "standin_player.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

namespace standin {
namespace {

using Name = std::pair<unsigned long, const char*>; // code, text

// RegisterWindowMessage hands out numbers from here on.
constexpr UINT kFirstRegisteredMessage = 0xC000;

constexpr Name kMainQueries[] = {
    {host::kQueryPlayState, "play state?"},
    {host::kQueryPlaylistPosition, "playlist position?"},
    {host::kQueryEntryTitle, "title of entry?"},
    {host::kQueryEntryTitleWide, "UTF-16 title of entry?"},
    {host::kQueryIniPath, "ini path?"},
    {host::kQueryIniPathWide, "UTF-16 ini path?"},
    {host::kQueryWindow, "playlist window?"},
    {host::kSetVolume, "set volume"},
    {host::kCallbackSongStarted, "song started"},
    {host::kCallbackStatusChanged, "status changed"},
};
constexpr char kVolumeQuery[] = "volume?"; // kSetVolume with kGetVolumeParam

constexpr Name kMainCommands[] = {
    {host::kCommandPrevious, "previous"}, {host::kCommandPlay, "play"},
    {host::kCommandPause, "pause"},       {host::kCommandStop, "stop"},
    {host::kCommandNext, "next"},
};

constexpr Name kPlaylistCommands[] = {{host::kPlaylistCommandChat, "playlist command"}};

// The fixed-number messages that belong to the host conversation.
constexpr Name kNotableMessages[] = {
    {WM_CREATE, "WM_CREATE"},       {WM_DESTROY, "WM_DESTROY"}, {WM_CLOSE, "WM_CLOSE"},
    {WM_COPYDATA, "WM_COPYDATA"},   {WM_COMMAND, "WM_COMMAND"}, {WM_TIMER, "WM_TIMER"},
    {WM_RBUTTONUP, "WM_RBUTTONUP"},
};

template <std::size_t N>
const char* lookup(const Name (&names)[N], unsigned long code, const char* fallback) {
    const auto found = std::find_if(std::begin(names), std::end(names),
                                    [&](const Name& name) { return name.first == code; });
    return found == std::end(names) ? fallback : found->second;
}

bool isCallback(LPARAM code) {
    return code == host::kCallbackSongStarted || code == host::kCallbackStatusChanged;
}

const char* fixedMessageName(UINT message) {
    return lookup(kNotableMessages, message, nullptr);
}

std::string hexText(unsigned long value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08lX", value);
    return text;
}

// A pointer is shown as its text only when it still points into the player's
// own strings; anything else may be gone by now. Wide titles come as UTF-8.
std::string pointerText(ULONG_PTR pointer) {
    const auto& list = titles();
    for (const std::string& title : list)
        if (reinterpret_cast<ULONG_PTR>(title.c_str()) == pointer)
            return "\"" + title + "\"";
    for (const std::wstring& title : wideTitles())
        if (reinterpret_cast<ULONG_PTR>(title.c_str()) == pointer)
            return "L\"" + utf8FromWide(title) + "\"";
    for (const std::string& file : fileNames())
        if (reinterpret_cast<ULONG_PTR>(file.c_str()) == pointer)
            return "\"" + file + "\"";
    if (reinterpret_cast<ULONG_PTR>(iniPath().c_str()) == pointer)
        return "\"" + iniPath() + "\"";
    if (reinterpret_cast<ULONG_PTR>(wideIniPath().c_str()) == pointer)
        return "L\"" + utf8FromWide(wideIniPath()) + "\"";
    return hexText(static_cast<unsigned long>(pointer));
}

std::string mainQueryText(const LoggedMessage& entry) {
    char text[160];
    std::snprintf(text, sizeof text, "WM_USER %ld (%s%s) wParam ", static_cast<long>(entry.lParam),
                  isCallback(entry.lParam) ? "callback: " : "", queryName(entry.lParam));
    // The song-start callback names the file.
    if (entry.lParam == host::kCallbackSongStarted && entry.wParam != 0)
        return text + pointerText(entry.wParam);
    if (entry.lParam == host::kSetVolume &&
        entry.wParam == static_cast<WPARAM>(host::kGetVolumeParam))
        return text + std::to_string(host::kGetVolumeParam) + " (" + kVolumeQuery + ")";
    return text + std::to_string(entry.wParam);
}

std::string playlistQueryText(const LoggedMessage& entry) {
    char text[160];
    if (entry.wParam == host::kPlaylistQueryCount)
        std::snprintf(text, sizeof text, "WM_USER %u (entry count?)", host::kPlaylistQueryCount);
    else if (entry.wParam == host::kPlaylistQueryIndexAt)
        std::snprintf(text, sizeof text, "WM_USER %u (index at %ld,%ld?)",
                      host::kPlaylistQueryIndexAt, entry.point.x, entry.point.y);
    else
        std::snprintf(text, sizeof text, "WM_USER %lu (unknown query) lParam 0x%lX",
                      static_cast<unsigned long>(entry.wParam),
                      static_cast<unsigned long>(entry.lParam));
    return text;
}

std::string messageText(const LoggedMessage& entry) {
    char text[320];
    if (entry.message == host::kWmUser)
        return entry.window == Window::Main ? mainQueryText(entry) : playlistQueryText(entry);
    if (entry.message == WM_COMMAND) {
        const unsigned id = LOWORD(entry.wParam);
        std::string line = "WM_COMMAND " + std::to_string(id);
        if (*commandName(entry.window, id))
            line += std::string(" (") + commandName(entry.window, id) + ")";
        if (HIWORD(entry.wParam) != 0)
            line += " high word " + std::to_string(HIWORD(entry.wParam));
        return line;
    }
    if (entry.message == WM_TIMER) {
        std::snprintf(text, sizeof text, "WM_TIMER id %lu",
                      static_cast<unsigned long>(entry.wParam));
        return text;
    }
    if (const char* name = fixedMessageName(entry.message)) {
        std::snprintf(text, sizeof text, "%s wParam 0x%lX lParam 0x%lX", name,
                      static_cast<unsigned long>(entry.wParam),
                      static_cast<unsigned long>(entry.lParam));
        return text;
    }
    const std::string registered = registeredName(entry.message);
    if (!registered.empty()) {
        std::snprintf(text, sizeof text, "registered \"%s\" wParam 0x%lX lParam 0x%lX",
                      registered.c_str(), static_cast<unsigned long>(entry.wParam),
                      static_cast<unsigned long>(entry.lParam));
        return text;
    }
    std::snprintf(text, sizeof text, "message %u wParam 0x%lX lParam 0x%lX", entry.message,
                  static_cast<unsigned long>(entry.wParam),
                  static_cast<unsigned long>(entry.lParam));
    return text;
}

std::string resultText(const LoggedMessage& entry) {
    if (!entry.finished)
        return "(still being handled)";
    const bool pointerAnswer =
        entry.window == Window::Main && entry.message == host::kWmUser &&
        (entry.lParam == host::kQueryEntryTitle || entry.lParam == host::kQueryEntryTitleWide ||
         entry.lParam == host::kQueryIniPath || entry.lParam == host::kQueryIniPathWide) &&
        entry.result != 0;
    if (pointerAnswer)
        return pointerText(static_cast<ULONG_PTR>(entry.result));
    char text[48];
    if (entry.window == Window::Main && entry.message == host::kWmUser &&
        entry.lParam == host::kQueryWindow && entry.result != 0 &&
        entry.result == reinterpret_cast<LRESULT>(playlistWindow())) {
        std::snprintf(text, sizeof text, "playlist window 0x%08lX",
                      static_cast<unsigned long>(entry.result));
        return text;
    }
    if (entry.result == static_cast<LRESULT>(entry.result & 0xFFFF) || entry.result == -1)
        std::snprintf(text, sizeof text, "%ld", static_cast<long>(entry.result));
    else
        std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(entry.result));
    return text;
}

} // namespace

const char* queryName(long code, WPARAM wParam) {
    if (code == host::kSetVolume && wParam == static_cast<WPARAM>(host::kGetVolumeParam))
        return kVolumeQuery;
    return lookup(kMainQueries, static_cast<unsigned long>(code), "unknown query");
}

const char* commandName(Window window, unsigned id) {
    return window == Window::Main ? lookup(kMainCommands, id, "")
                                  : lookup(kPlaylistCommands, id, "");
}

std::string registeredName(UINT message) {
    char name[128];
    if (message >= kFirstRegisteredMessage &&
        GetClipboardFormatNameA(message, name, sizeof name) > 0)
        return name;
    return {};
}

const char* stateName(PlayState state) {
    switch (state) {
    case PlayState::Playing:
        return "Playing";
    case PlayState::Paused:
        return "Paused";
    default:
        return "Stopped";
    }
}

bool isNotable(const LoggedMessage& entry) {
    return entry.message >= WM_USER || fixedMessageName(entry.message) != nullptr;
}

std::string describe(const LoggedMessage& entry) {
    const char* window = entry.window == Window::Main ? "main    " : "playlist";
    return std::string(window) + "  " + messageText(entry) + " -> " + resultText(entry);
}

} // namespace standin
