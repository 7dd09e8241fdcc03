#include "demo_session.h"

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "standin_skype.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "standin_player.h"

namespace {

// The player drives the stand-in Skype program through its control commands
// and reads what Skype received from its transcript file after every step.

constexpr DWORD kSettleMs = 150;
constexpr char kSkypeProgram[] = "standin_skype.exe";
constexpr UINT kSkypeControlTimeoutMs = 5000;
constexpr DWORD kSkypeStartTimeoutMs = 15000;
constexpr DWORD kSkypeExitTimeoutMs = 5000;
constexpr DWORD kNotificationTimeoutMs = 5000;
constexpr DWORD kSnapshotTimeoutMs = 20000;
constexpr DWORD kDialogTimeoutMs = 10000;
constexpr UINT kDialogTickMs = 50;
constexpr DWORD kPaintMs = 300;
constexpr int kDemoPlaylistWidth = 320;
constexpr int kDemoPlaylistHeight = 170;
constexpr int kSkypeLeft = 380;
constexpr int kSkypeTop = 40;

constexpr int kDemoStepCount = 12;
constexpr char kCallId[] = "77";
constexpr char kStartTemplate[] = "[%title%] [%state%]";
constexpr char kNewTemplate[] = "winamp [%state%]:[%title%]";
constexpr char kExitMood[] = "Gone fishing";
constexpr char kDialogClass[] = "#32770";
constexpr char kRichMoodPrefix[] = "SET PROFILE RICH_MOOD_TEXT ";
constexpr char kPlainMoodPrefix[] = "SET PROFILE MOOD_TEXT ";
constexpr char kKeyStopOnCall[] = "TRALMO_STOP_MUSIC";
// The plug-in's discovery timer on the host window, named in transcripts.
constexpr WPARAM kPluginDiscoveryTimer = 10102;
constexpr UINT kFirstRegisteredMessage = 0xC000;

// UTF-8 here; the player holds them in UTF-16, as the real one does, and
// answers them in the ANSI code page too (query 212, the tray tooltip's text).
constexpr const char* kDemoTitles[] = {
    "Nadia Orlov - Glass Harbour",
    "Вера Лунина - Зимний вокзал",
    "The Quiet Engines - Northbound",
    "Pavel Ruzek - Small Hours",
};

struct SkypeProgram {
    PROCESS_INFORMATION process{};
    HANDLE job = nullptr; // ends Skype with us, should we crash or be killed
    HWND window = nullptr;
    std::string logPath;
    LONGLONG logOffset = 0;
    std::string unfinishedLine;
};

struct Session {
    DemoOptions options;
    int step = 0;
    int checks = 0;
    int failures = 0;
    // What Skype logged during the current step: the notifications it sent,
    // which start the steps they occur in, and the rest.
    std::vector<std::string> skypeSent;
    std::vector<std::string> skypeLines;
    std::vector<std::string> moods; // UTF-8
    unsigned commands = 0;
    unsigned notifications = 0;
    unsigned attaches = 0;
};

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

SkypeProgram gSkype;
Session gSession;
DialogDriver gDialog;

// ---- Text ----

std::string utf8FromAnsi(const std::string& ansi) {
    return standin::utf8FromWide(standin::wideFromAnsi(ansi));
}

std::string textf(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return text;
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// In double quotes, control characters escaped; UTF-8 passes as it is.
std::string quoted(const std::string& text) {
    std::string result = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        result += byte < 0x20 || byte == 0x7F ? textf("\\x%02X", byte) : std::string(1, c);
    }
    return result + "\"";
}

std::size_t characterCount(const std::string& utf8) {
    std::size_t count = 0;
    for (const char c : utf8)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// Everything the demo prints is UTF-8.
void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// One transcript line: a label column, then the text.
void sayAs(const char* label, const std::string& text) {
    say(textf("      %-7s ", label) + text);
}

std::string fullPath(const std::string& path) {
    char buffer[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, buffer, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : path;
}

std::string besideThisProgram(const char* name) {
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return name;
    std::string path(buffer, length);
    return path.substr(0, path.find_last_of("\\/") + 1) + name;
}

std::string fileName(const std::string& path) {
    return path.substr(path.find_last_of("\\/") + 1);
}

// ---- Checks ----

void check(bool ok, const std::string& what, const std::string& otherwise = {}) {
    ++gSession.checks;
    if (!ok)
        ++gSession.failures;
    std::string line = what + (ok ? ": ok" : ": FAILED");
    if (!ok && !otherwise.empty())
        line += " (" + otherwise + ")";
    sayAs("check", line);
}

void checkMood(const std::string& expected) {
    const std::vector<std::string>& moods = gSession.moods;
    check(!moods.empty() && moods.back() == expected,
          "Skype's mood text is now " + quoted(expected),
          moods.empty() ? "Skype got no mood" : "it is " + quoted(moods.back()));
}

void checkPlayState(standin::PlayState expected) {
    check(standin::playState() == expected,
          std::string("the player is ") + standin::stateName(expected),
          std::string("it is ") + standin::stateName(standin::playState()));
}

void checkIni(const char* key, const std::string& expected) {
    const std::string value = standin::readIniString(kIniSection, key, "(missing)");
    check(value == expected, textf("the ini holds %s = ", key) + quoted(utf8FromAnsi(expected)),
          "it holds " + quoted(utf8FromAnsi(value)));
}

// ---- The stand-in Skype program ----

struct WindowSearch {
    DWORD processId; // 0: any process
    std::vector<HWND> found;
};

BOOL CALLBACK collectSkypeWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    wchar_t name[64];
    if (GetClassNameW(window, name, sizeof name / sizeof name[0]) > 0 &&
        std::wcscmp(name, standin_skype::kAppWindowClass) == 0) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (search->processId == 0 || owner == search->processId)
            search->found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> skypeWindows(DWORD processId) {
    WindowSearch search{processId, {}};
    EnumWindows(collectSkypeWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool controlSkype(HWND window, const std::string& command) {
    COPYDATASTRUCT data{standin_skype::kControlTag, static_cast<DWORD>(command.size() + 1),
                        const_cast<char*>(command.c_str())};
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_COPYDATA, reinterpret_cast<WPARAM>(standin::mainWindow()),
                               reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, kSkypeControlTimeoutMs,
                               &result) != 0 &&
           result == 1;
}

bool processEnded(HANDLE process) {
    return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

// One left running by an interrupted run would answer our Discover too.
void closeLeftoverSkypes() {
    const std::vector<HWND> leftovers = skypeWindows(0);
    for (HWND window : leftovers) {
        sayAs("Skype", "closing a stand-in Skype left over from an earlier run");
        controlSkype(window, "exit");
    }
    if (!leftovers.empty())
        standin::pumpUntil([] { return skypeWindows(0).empty(); }, kSkypeExitTimeoutMs);
}

bool startSkype() {
    closeLeftoverSkypes();
    DeleteFileA(gSkype.logPath.c_str()); // it appends
    const std::string program =
        gSession.options.skype.empty() ? besideThisProgram(kSkypeProgram) : gSession.options.skype;
    // It answers only our window's Discover: other programs under the same
    // wineserver may broadcast too.
    std::string commandLine =
        "\"" + program + "\"" +
        textf(" --client 0x%08lX --at %d,%d --log ",
              static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(standin::mainWindow())),
              kSkypeLeft, kSkypeTop) +
        "\"" + gSkype.logPath + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &gSkype.process)) {
        sayAs("Skype", textf("cannot start %s (error %lu)", program.c_str(), GetLastError()));
        return false;
    }
    gSkype.job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (gSkype.job) {
        SetInformationJobObject(gSkype.job, JobObjectExtendedLimitInformation, &limits,
                                sizeof limits);
        AssignProcessToJobObject(gSkype.job, gSkype.process.hProcess);
    }
    ResumeThread(gSkype.process.hThread);
    const DWORD processId = gSkype.process.dwProcessId;
    standin::pumpUntil(
        [processId] {
            const std::vector<HWND> windows = skypeWindows(processId);
            gSkype.window = windows.empty() ? nullptr : windows.front();
            return gSkype.window != nullptr || processEnded(gSkype.process.hProcess);
        },
        kSkypeStartTimeoutMs);
    if (!gSkype.window) {
        sayAs("Skype", "its window did not appear");
        return false;
    }
    sayAs("Skype", textf("is up: process %lu, window 0x%08lX, transcript in ",
                         static_cast<unsigned long>(processId),
                         static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(gSkype.window))) +
                       fileName(gSkype.logPath));
    return true;
}

void stopSkype() {
    HANDLE process = gSkype.process.hProcess;
    if (!process)
        return;
    if (gSkype.window)
        controlSkype(gSkype.window, "exit");
    if (!standin::pumpUntil([process] { return processEnded(process); }, kSkypeExitTimeoutMs)) {
        sayAs("Skype", "did not exit when told to; ending it");
        TerminateProcess(process, 1);
        WaitForSingleObject(process, kSkypeExitTimeoutMs);
    }
    CloseHandle(gSkype.process.hThread);
    CloseHandle(process);
    if (gSkype.job)
        CloseHandle(gSkype.job);
    gSkype.job = nullptr;
    gSkype.process = PROCESS_INFORMATION{};
    gSkype.window = nullptr;
}

// ---- Skype's transcript ----

std::vector<std::string> readNewSkypeLines() {
    std::vector<std::string> lines;
    const HANDLE file = CreateFileA(gSkype.logPath.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    LARGE_INTEGER offset;
    offset.QuadPart = gSkype.logOffset;
    if (SetFilePointerEx(file, offset, nullptr, FILE_BEGIN)) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            gSkype.unfinishedLine.append(buffer, got);
            gSkype.logOffset += got;
        }
    }
    CloseHandle(file);
    std::size_t start = 0;
    for (std::size_t end; (end = gSkype.unfinishedLine.find('\n', start)) != std::string::npos;
         start = end + 1) {
        std::string line = gSkype.unfinishedLine.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    gSkype.unfinishedLine.erase(0, start);
    return lines;
}

// The bytes between the first and the last double quote, unescaped
// (\0, \\, \", \xNN), as the stand-in Skype writes them.
std::string quotedBytes(const std::string& line) {
    const std::size_t open = line.find('"');
    const std::size_t close = line.rfind('"');
    if (open == std::string::npos || close <= open)
        return {};
    const std::string text = line.substr(open + 1, close - open - 1);
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            bytes += text[i];
            continue;
        }
        const char next = text[++i];
        if (next == '0') {
            bytes += '\0';
        } else if (next == 'x' && i + 2 < text.size()) {
            bytes += static_cast<char>(std::strtoul(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            bytes += next;
        }
    }
    return bytes;
}

// A "name=value" number of a transcript line, before its quoted part.
unsigned long lineField(const std::string& line, const char* name) {
    const std::string head = line.substr(0, line.find('"'));
    const std::size_t at = head.find(std::string(" ") + name + "=");
    return at == std::string::npos
               ? 0
               : std::strtoul(head.c_str() + at + std::strlen(name) + 2, nullptr, 0);
}

std::string attachStatusName(unsigned long status) {
    switch (status) {
    case 0:
        return "Success";
    case 1:
        return "PendingAuthorization";
    case 2:
        return "Refused";
    case 3:
        return "NotAvailable";
    case 0x8001:
        return "ApiAvailable";
    default:
        return "unknown";
    }
}

void takeReceivedCommand(const std::string& line) {
    const std::string bytes = quotedBytes(line);
    const unsigned long cbData = lineField(line, "cbData");
    const std::string text = bytes.substr(0, bytes.find('\0'));
    ++gSession.commands;
    gSession.skypeLines.push_back(textf("%-7s got ", "Skype") + quoted(text));
    std::string layout =
        textf("cbData %lu = %u bytes of UTF-8 text", cbData, static_cast<unsigned>(text.size()));
    if (characterCount(text) != text.size())
        layout += textf(" (%u characters)", static_cast<unsigned>(characterCount(text)));
    const std::string tail = bytes.size() > text.size() ? bytes.substr(text.size()) : "";
    if (tail.empty())
        layout += ", no terminator";
    else if (tail.find_first_not_of('\0') == std::string::npos)
        layout += textf(" + %u zero byte%s", static_cast<unsigned>(tail.size()),
                        tail.size() == 1 ? "" : "s");
    else
        layout += textf(" + %u more bytes", static_cast<unsigned>(tail.size()));
    if (const unsigned long dwData = lineField(line, "dwData"))
        layout += textf(", dwData %lu", dwData);
    gSession.skypeLines.push_back(textf("%-7s ", "") + layout);
    for (const char* prefix : {kRichMoodPrefix, kPlainMoodPrefix})
        if (startsWith(text, prefix)) {
            gSession.moods.push_back(text.substr(std::strlen(prefix)));
            break;
        }
}

void takeSkypeLine(const std::string& line) {
    std::string shown;
    if (startsWith(line, "control "))
        return; // the step's own request
    if (startsWith(line, "recv ")) {
        takeReceivedCommand(line);
        return;
    }
    if (startsWith(line, "discover ")) {
        shown = "saw the plug-in's Discover broadcast";
    } else if (startsWith(line, "attach ")) {
        const bool delivered = lineField(line, "delivered") != 0;
        gSession.attaches += delivered;
        const unsigned long status = lineField(line, "status");
        shown = textf("answered with Attach, status %lu (%s)", status,
                      attachStatusName(status).c_str()) +
                (delivered ? "" : ", but it was not delivered");
    } else if (startsWith(line, "notify ")) {
        const std::string bytes = quotedBytes(line);
        ++gSession.notifications;
        gSession.skypeSent.push_back(
            textf("%-7s sent the player ", "Skype") + quoted(bytes.substr(0, bytes.find('\0'))) +
            textf(" (cbData %lu), ", lineField(line, "cbData")) +
            (lineField(line, "delivered") != 0 ? textf("answered %lu", lineField(line, "result"))
                                               : std::string("not delivered")));
        return;
    } else {
        shown = line;
    }
    gSession.skypeLines.push_back(textf("%-7s ", "Skype") + shown);
}

// Skype writes its transcript from its own message loop: "sync" makes it
// write out everything so far before we read.
void collectSkypeLines() {
    if (gSkype.window)
        controlSkype(gSkype.window, "sync");
    for (const std::string& line : readNewSkypeLines())
        takeSkypeLine(line);
}

// ---- The player's side ----

std::string hostCommandName(unsigned id) {
    switch (id) {
    case host::kCommandPrevious:
        return "previous";
    case host::kCommandPlay:
        return "play";
    case host::kCommandPause:
        return "pause";
    case host::kCommandStop:
        return "stop";
    case host::kCommandNext:
        return "next";
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
        return "";
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

// A main-window query or callback: its code, a word for it and the answer.
std::string hostQueryText(const standin::LoggedMessage& entry) {
    const long code = static_cast<long>(entry.lParam);
    const LRESULT answer = entry.result;
    const std::string query = textf("query %ld ", code);
    switch (code) {
    case host::kQueryPlayState:
        return query + "play state? -> " + playStateAnswer(answer);
    case host::kQueryPlaylistPosition:
        return query + textf("playlist position? -> %ld", static_cast<long>(answer));
    case host::kQueryEntryTitle:
        return query + textf("title of entry %lu? -> ", static_cast<unsigned long>(entry.wParam)) +
               titleAnswer(standin::titles(), answer, utf8FromAnsi);
    case host::kQueryEntryTitleWide:
        return query +
               textf("UTF-16 title of entry %lu? -> ", static_cast<unsigned long>(entry.wParam)) +
               titleAnswer(standin::wideTitles(), answer, standin::utf8FromWide);
    case host::kQueryIniPath:
        return query + "ini path? -> " +
               (answer == reinterpret_cast<LRESULT>(standin::iniPath().c_str())
                    ? quoted(fileName(utf8FromAnsi(standin::iniPath())))
                    : textf("%ld", static_cast<long>(answer)));
    case host::kQueryWindow:
        return query + textf("playlist window? -> 0x%08lX", static_cast<unsigned long>(answer));
    case host::kCallbackSongStarted:
        return textf("callback %ld song started", code);
    case host::kCallbackStatusChanged:
        return textf("callback %ld status changed", code);
    default:
        return standin::describe(entry);
    }
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
    char name[64];
    if (entry.message >= kFirstRegisteredMessage &&
        GetClipboardFormatNameA(entry.message, name, sizeof name) > 0)
        return textf("broadcast \"%s\" from 0x%08lX", name,
                     static_cast<unsigned long>(entry.wParam));
    return standin::describe(entry);
}

void printHostMessages() {
    for (const standin::LoggedMessage& entry : standin::messageLog()) {
        if (!standin::isNotable(entry))
            continue;
        const char* window = entry.window == standin::Window::Playlist ? "playlist: " : "";
        sayAs("player", std::string(2 * entry.depth, ' ') + window + hostMessageText(entry));
    }
}

std::string currentTitleUtf8() {
    const auto& titles = standin::wideTitles();
    const int position = standin::position();
    return position >= 0 && static_cast<std::size_t>(position) < titles.size()
               ? standin::utf8FromWide(titles[position])
               : std::string();
}

// The caption names the song in full: the plug-in's subclass kept the window Unicode.
void checkCaption() {
    const std::string caption = standin::utf8FromWide(standin::mainCaption());
    const std::string expected = textf("%d. ", standin::position() + 1) + currentTitleUtf8() +
                                 standin::utf8FromWide(standin::kCaptionSuffix);
    check(caption == expected, "the player's caption reads " + quoted(expected),
          "it reads " + quoted(caption));
}

std::string playerSummary() {
    const std::string title = currentTitleUtf8();
    return std::string(standin::stateName(standin::playState())) +
           textf(", song %d of %u ", standin::position() + 1,
                 static_cast<unsigned>(standin::titles().size())) +
           (title.empty() ? std::string("(none)") : quoted(title)) +
           textf(", volume %d", standin::volume());
}

// The template with both placeholders filled in, as the mood should read.
std::string expectedMood(const std::string& moodTemplate, const std::string& stateWord) {
    std::string mood = moodTemplate;
    for (const auto& [placeholder, value] :
         {std::pair<std::string, std::string>{"[%title%]", currentTitleUtf8()},
          std::pair<std::string, std::string>{"[%state%]", stateWord}}) {
        for (std::size_t at = mood.find(placeholder); at != std::string::npos;
             at = mood.find(placeholder, at + value.size()))
            mood.replace(at, placeholder.size(), value);
    }
    return mood;
}

// ---- Snapshots ----

std::string snapshotAck(const std::string& name) {
    return gSession.options.snapshots + "\\" + name + ".ack";
}

void announceSnapshot(const std::string& name) {
    DeleteFileA(snapshotAck(name).c_str());
    say("@@snapshot " + name);
}

bool snapshotTaken(const std::string& name) {
    return DeleteFileA(snapshotAck(name).c_str()) != 0;
}

// Whoever reads our output takes a picture of the screen, then acknowledges.
void snapshot(const std::string& name) {
    if (gSession.options.snapshots.empty())
        return;
    standin::pumpFor(kPaintMs); // let both programs paint
    announceSnapshot(name);
    if (!standin::pumpUntil([&] { return snapshotTaken(name); }, kSnapshotTimeoutMs))
        sayAs("note", "no screenshot was acknowledged for " + name);
}

// ---- Steps ----

// Runs one step: its action, then what the player's windows received, what
// Skype logged meanwhile, and the checks that follow it.
template <typename Action, typename Checks>
void demoStep(const std::string& title, Action action, Checks checks) {
    say("");
    say(textf("%2d. ", ++gSession.step) + title);
    gSession.skypeSent.clear();
    gSession.skypeLines.clear();
    gSession.moods.clear();
    gSession.commands = 0;
    gSession.notifications = 0;
    gSession.attaches = 0;
    standin::clearLog();
    action();
    standin::pumpFor(kSettleMs);
    collectSkypeLines();
    for (const std::string& line : gSession.skypeSent)
        say("      " + line);
    printHostMessages();
    for (const std::string& line : gSession.skypeLines)
        say("      " + line);
    checks();
    if (standin::mainWindow())
        sayAs("now", playerSummary());
    standin::pumpFor(gSession.options.paceMs);
}

void waitForSkypeNotification() {
    const unsigned before = gSession.notifications;
    if (!standin::pumpUntil(
            [before] {
                collectSkypeLines();
                return gSession.notifications > before;
            },
            kNotificationTimeoutMs))
        sayAs("note", "Skype logged no notification");
}

// ---- The options dialog, driven from a timer inside its modal loop ----

BOOL CALLBACK findDialog(HWND window, LPARAM found) {
    char name[16];
    if (IsWindowVisible(window) && GetClassNameA(window, name, sizeof name) > 0 &&
        std::strcmp(name, kDialogClass) == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// The dialog box this thread shows, if any.
HWND threadDialog() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findDialog, reinterpret_cast<LPARAM>(&found));
    return found;
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
            announceSnapshot("3-options-dialog");
            gDialog.announced = true;
            return;
        }
        if (snapshots && !snapshotTaken("3-options-dialog") &&
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

void runOptionsDialog() {
    gDialog = DialogDriver{};
    gDialog.startedAt = GetTickCount();
    gDialog.timer = SetTimer(nullptr, 0, kDialogTickMs, driveOptionsDialog);
    standin::sendCommand(IDM_OPTIONS); // returns when the modal dialog has ended
    KillTimer(nullptr, gDialog.timer);
}

// ---- The session ----

void printDemoHeader() {
    say("Tralmo demo: the real gen_tralmo.dll in the stand-in Winamp player, beside the "
        "stand-in");
    say("Skype client: two Windows programs under Wine. This is the player's account of it.");
    say(textf("ANSI code page %u. The ini file starts with TRALMO_USER_STRING=%s.", GetACP(),
              kStartTemplate));
    say("  player  a message the player's windows received, with the player's answer; indented:");
    say("          it arrived while the line above was being handled. The plug-in sees a");
    say("          callback before the player does, so its queries about it come first.");
    say("  Skype   what the Skype client received (the plug-in's commands) or sent");
    say("  check   what should have happened");
}

std::vector<std::wstring> demoTitles() {
    std::vector<std::wstring> titles;
    bool anyLossy = false;
    for (const char* title : kDemoTitles) {
        titles.push_back(standin::wideFromUtf8(title));
        anyLossy |= standin::wideFromAnsi(standin::ansiFromWide(titles.back())) != titles.back();
    }
    if (anyLossy)
        say(textf("note: code page %u cannot hold every title, so its 8-bit form (query 212, "
                  "the tray tooltip) shows \"?\" for what it lacks; run with "
                  "LC_ALL=ru_RU.CP1251",
                  GetACP()));
    return titles;
}

void runDemoSteps(const DemoOptions& options) {
    demoStep(
        "Start the stand-in Skype client, a process of its own", [] { startSkype(); },
        [] { check(gSkype.window != nullptr, "Skype is running"); });
    if (!gSkype.window)
        return;

    bool loaded = false;
    demoStep(
        "Load gen_tralmo.dll into the player and call its init: it looks for Skype",
        [&] {
            loaded = standin::loadPlugin(options.plugin) && standin::describePlugin();
            int result = 0;
            loaded = loaded && standin::initPlugin(&result);
            if (loaded)
                sayAs("plug-in", quoted(standin::pluginDescriptor()->description) +
                                     textf(", init returned %d", result));
            else
                sayAs("plug-in", "FAILED: " + standin::pluginError());
        },
        [&] {
            check(loaded, "the plug-in is loaded and running");
            check(gSession.attaches > 0, "Skype answered the plug-in's Discover with Attach");
        });
    if (!loaded)
        return;

    const auto expectPlaying = [] { checkMood(expectedMood(kStartTemplate, "playing")); };
    demoStep(
        "Play: song 1 starts", [] { standin::sendCommand(host::kCommandPlay); }, expectPlaying);
    snapshot("1-attached-playing");
    demoStep(
        "Next song: a Cyrillic title, UTF-16 in the player, UTF-8 on its way to Skype",
        [] { standin::sendCommand(host::kCommandNext); },
        [expectPlaying] {
            expectPlaying();
            checkCaption();
        });
    demoStep(
        "Pause", [] { standin::sendCommand(host::kCommandPause); },
        [] { checkMood(expectedMood(kStartTemplate, "paused")); });
    demoStep(
        "Resume (play while paused)", [] { standin::sendCommand(host::kCommandPlay); },
        expectPlaying);
    demoStep(
        "Switch on \"Stop on call\" (menu command 107 to the player's window)",
        [] { standin::sendCommand(IDM_STOP_ON_CALL); },
        [] { check(gSession.commands == 0, "nothing went to Skype"); });
    demoStep(
        textf("A call rings: Skype tells the plug-in \"CALL %s STATUS RINGING\"", kCallId),
        [] {
            controlSkype(gSkype.window, std::string("ring ") + kCallId);
            waitForSkypeNotification();
        },
        [] {
            checkPlayState(standin::PlayState::Paused);
            checkMood(expectedMood(kStartTemplate, "paused"));
        });
    snapshot("2-call-ringing");
    demoStep(
        textf("The call is missed: \"CALL %s STATUS MISSED\"", kCallId),
        [] {
            controlSkype(gSkype.window, std::string("missed ") + kCallId);
            waitForSkypeNotification();
        },
        [] {
            checkPlayState(standin::PlayState::Playing);
            checkMood(expectedMood(kStartTemplate, "playing"));
        });
    demoStep("Options dialog (menu command 109): a new template and an exit mood, then OK",
             runOptionsDialog, [] {
                 check(gDialog.stage == DialogStage::Pressed && !gDialog.ended,
                       "the dialog opened and OK closed it");
                 checkIni(kKeyUserString, kNewTemplate);
                 checkIni(kKeyExitMood, kExitMood);
             });
    demoStep(
        "Next song: the mood follows the new template",
        [] { standin::sendCommand(host::kCommandNext); },
        [] { checkMood(expectedMood(kNewTemplate, "playing")); });
    bool closed = false;
    demoStep(
        "Stop, then the player quits as Winamp does: WM_CLOSE closes its windows, its loop "
        "ends, and only then it calls the plug-in's quit; the exit mood is set",
        [&] {
            standin::sendCommand(host::kCommandStop);
            closed = standin::closePlayer();
        },
        [&] {
            check(closed && !standin::mainWindow() && standin::pluginModule() != nullptr,
                  "the windows are gone, quit was called, the plug-in stays loaded",
                  standin::pluginError());
            check(gSession.moods.size() == 2 &&
                      gSession.moods.front() == expectedMood(kNewTemplate, "stopped"),
                  "Skype heard \"stopped\" first");
            checkMood(kExitMood);
            checkIni(kKeyStopOnCall, "1");
        });
}

void printDemoIniSection() {
    say("");
    say(textf("[%s] section of %s after the session:", kIniSection,
              fileName(utf8FromAnsi(standin::iniPath())).c_str()));
    for (const std::string& line : standin::readIniSection(kIniSection))
        say("      " + utf8FromAnsi(line));
}

} // namespace

int runDemoSession(const DemoOptions& given) {
    _setmode(_fileno(stdout), _O_BINARY); // the reader wants "\n", not "\r\n"
    gSession.options = given;
    const DemoOptions& session = gSession.options;
    gSkype.logPath = fullPath(session.skypeLog.empty() ? "skype.log" : session.skypeLog);
    printDemoHeader();
    standin::PlayerOptions options;
    options.wideTitles = demoTitles();
    options.iniPath = session.ini.empty() ? std::string() : fullPath(session.ini);
    if (!standin::createPlayer(options) ||
        !standin::writeIniContent(std::string("[") + kIniSection + "]\r\n" + kKeyUserString + "=" +
                                  kStartTemplate + "\r\n")) {
        say("FAILED: " + standin::pluginError());
        return 1;
    }
    // Four songs need no tall playlist; it leaves room on the screenshots.
    SetWindowPos(standin::playlistWindow(), nullptr, 0, 0, kDemoPlaylistWidth, kDemoPlaylistHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    runDemoSteps(session);
    if (standin::playerExists())
        printDemoIniSection();
    standin::destroyPlayer(); // the player's windows go; Skype keeps the exit mood
    if (gSkype.window) {
        snapshot("4-after-quit");
        standin::pumpFor(session.paceMs * 3);
    }
    stopSkype();
    say("");
    const bool passed = gSession.failures == 0 && gSession.step == kDemoStepCount;
    if (passed)
        say(textf("Demo finished: all %d checks passed.", gSession.checks));
    else
        say(textf("Demo FAILED: %d of %d checks failed; %d of %d steps ran.", gSession.failures,
                  gSession.checks, gSession.step, kDemoStepCount));
    return passed ? 0 : 1;
}
