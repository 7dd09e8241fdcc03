// The stand-in Skype's transcript and history: the lines it writes, the
// copies it hands out of what it holds, and the texts it keeps.
#include "skype_state.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace standin_skype {
namespace detail {

HANDLE changeEvent() {
    static HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}

std::string escapeBytes(const unsigned char* bytes, size_t size) {
    std::string result;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char byte = bytes[i];
        if (byte == 0) {
            result += "\\0";
        } else if (byte == '\\' || byte == '"') {
            result += '\\';
            result += static_cast<char>(byte);
        } else if (byte >= 0x20 && byte < 0x7F) {
            result += static_cast<char>(byte);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            result += hex;
        }
    }
    return result;
}

std::string quotedText(const std::string& text) {
    return "\"" + escapeBytes(reinterpret_cast<const unsigned char*>(text.data()), text.size()) +
           "\"";
}

void changed() {
    HWND observer;
    UINT message;
    {
        Lock lock(g_mutex);
        observer = g_config.observer;
        message = g_config.observerMessage;
    }
    SetEvent(changeEvent());
    if (observer)
        PostMessageA(observer, message, 0, 0);
}

void addLine(const std::string& line) {
    {
        Lock lock(g_mutex);
        g_transcript.push_back(line);
    }
    changed();
}

} // namespace detail

std::string hwndText(HWND window) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX",
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)));
    return text;
}

using namespace detail;

namespace {

template <typename T> std::vector<T> copyFrom(const std::vector<T>& items, size_t first) {
    return std::vector<T>(items.begin() + std::min(first, items.size()), items.end());
}

} // namespace

Snapshot snapshot(std::size_t firstRecord, std::size_t firstLine) {
    Snapshot now;
    Lock lock(g_mutex);
    now.config = g_config;
    now.skypeWindow = g_apiWindow;
    now.otherWindow = g_otherWindow;
    now.lastClient = g_lastClient;
    now.mood = g_api.mood;
    now.moodSet = g_api.moodSet;
    now.clientProtocol = g_api.protocol;
    now.attachedClient = g_attached;
    now.pendingClient = g_pending;
    now.decision = g_decision;
    now.loggedIn = g_loggedIn;
    now.calls = g_calls;
    for (const RunningScript& script : g_scripts)
        now.scriptStepsLeft += script.steps.size() - script.next;
    now.records = copyFrom(g_records, firstRecord);
    now.recordCount = g_records.size();
    now.attaches = g_attaches;
    now.discovers = g_discovers;
    now.sent = g_sent;
    now.slowClients = g_slow;
    now.transcript = copyFrom(g_transcript, firstLine);
    return now;
}

HWND skypeWindow() {
    return snapshot(SIZE_MAX, SIZE_MAX).skypeWindow;
}

std::size_t recordCount() {
    return snapshot(SIZE_MAX, SIZE_MAX).recordCount;
}

void clearHistory() {
    Lock lock(g_mutex);
    g_records.clear();
    g_attaches.clear();
    g_sent.clear();
    g_slow.clear();
    g_transcript.clear();
    g_discovers = 0;
}

std::string CopyDataRecord::text() const {
    return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
}

bool CopyDataRecord::terminated() const {
    return std::find(bytes.begin(), bytes.end(), 0) != bytes.end();
}

bool CopyDataRecord::endsWithTwoZeros() const {
    const size_t n = bytes.size();
    return n >= 2 && bytes[n - 1] == 0 && bytes[n - 2] == 0;
}

std::string CopyDataRecord::escaped() const {
    return escapeBytes(bytes.data(), bytes.size());
}

bool moodTextOf(const std::string& command, std::string* mood, bool* rich) {
    static const std::string plain = "SET PROFILE MOOD_TEXT ";
    static const std::string richPrefix = "SET PROFILE RICH_MOOD_TEXT ";
    const bool isRich = command.compare(0, richPrefix.size(), richPrefix) == 0;
    if (!isRich && command.compare(0, plain.size(), plain) != 0)
        return false;
    if (mood)
        *mood = command.substr(isRich ? richPrefix.size() : plain.size());
    if (rich)
        *rich = isRich;
    return true;
}

} // namespace standin_skype
