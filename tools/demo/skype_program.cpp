#include "skype_program.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "demo_text.h"
#include "standin_player.h"

namespace demo {
namespace {

constexpr DWORD kStartTimeoutMs = 15000;
constexpr DWORD kExitTimeoutMs = 5000;
constexpr DWORD kReadChunk = 4096;

struct SkypeProcess {
    PROCESS_INFORMATION process{};
    HANDLE job = nullptr; // ends Skype with us, should we crash or be killed
    HWND window = nullptr;
    HWND controller = nullptr; // where the demo's control commands come from
    std::string logPath;
    LONGLONG logOffset = 0;
    std::string unfinishedLine;
};

SkypeProcess gSkype;

// ---- The transcript's fields ----

// The text after " name=" in the part of a line before its quoted bytes, up
// to the next blank.
std::string fieldText(const std::string& head, const char* name) {
    const std::string key = std::string(" ") + name + "=";
    const std::size_t at = head.find(key);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + key.size();
    return head.substr(start, head.find(' ', start) - start);
}

unsigned long fieldNumber(const std::string& head, const char* name) {
    return std::strtoul(fieldText(head, name).c_str(), nullptr, 0);
}

HWND fieldWindow(const std::string& head, const char* name) {
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(fieldNumber(head, name)));
}

bool contains(const std::string& text, const char* words) {
    return text.find(words) != std::string::npos;
}

standin_skype::SentKind sentKindNamed(const std::string& word) {
    using standin_skype::SentKind;
    if (word == "answer")
        return SentKind::Answer;
    if (word == "greeting")
        return SentKind::Greeting;
    if (word == "call")
        return SentKind::Call;
    return SentKind::Notification;
}

SkypeEvent eventNamed(const std::string& verb, const std::string& line) {
    struct Named {
        const char* verb;
        SkypeEvent event;
    };
    static constexpr Named kVerbs[] = {
        {"discover", SkypeEvent::Discover}, {"attach", SkypeEvent::Attach},
        {"announce", SkypeEvent::Announce}, {"recv", SkypeEvent::Received},
        {"answer", SkypeEvent::Sent},       {"notify", SkypeEvent::Sent},
        {"slow", SkypeEvent::SlowClient},   {"restart", SkypeEvent::Restart},
        {"leave", SkypeEvent::Leave},       {"return", SkypeEvent::Return},
        {"logout", SkypeEvent::LogOut},     {"login", SkypeEvent::LogIn},
        {"decision", SkypeEvent::Decision}, {"hang", SkypeEvent::Hang},
        {"control", SkypeEvent::Control},
    };
    for (const Named& named : kVerbs)
        if (verb == named.verb)
            return named.event;
    if (verb == "call")
        return startsWith(line, "call script=") ? SkypeEvent::CallScript
                                                : SkypeEvent::CallStepNotSent;
    return SkypeEvent::Other;
}

// ---- The process ----

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

bool sendControl(HWND window, const std::string& command) {
    return standin_skype::sendControlCommand(window, gSkype.controller, command);
}

bool processEnded(HANDLE process) {
    return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

// Kills Skype with us: a job that ends its processes when its last handle goes.
HANDLE jobThatEndsWithUs(HANDLE process) {
    const HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (!job)
        return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    AssignProcessToJobObject(job, process);
    return job;
}

std::vector<std::string> readNewLines() {
    std::vector<std::string> lines;
    const HANDLE file = CreateFileA(gSkype.logPath.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    LARGE_INTEGER offset;
    offset.QuadPart = gSkype.logOffset;
    if (SetFilePointerEx(file, offset, nullptr, FILE_BEGIN)) {
        char buffer[kReadChunk];
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

} // namespace

std::string SkypeLine::text() const {
    return bytes.substr(0, bytes.find('\0'));
}

namespace {

SkypeLine parseSkypeLine(const std::string& line) {
    SkypeLine parsed;
    parsed.line = line;
    const std::size_t open = line.find('"');
    const std::size_t close = line.rfind('"');
    if (open != std::string::npos && close > open)
        parsed.bytes = unescapeBytes(line.substr(open + 1, close - open - 1));
    const std::string head = line.substr(0, open);
    parsed.event = eventNamed(head.substr(0, head.find(' ')), line);
    parsed.status = fieldNumber(head, "status");
    parsed.cbData = fieldNumber(head, "cbData");
    parsed.dwData = fieldNumber(head, "dwData");
    parsed.ms = fieldNumber(head, "ms");
    parsed.result = std::strtol(fieldText(head, "result").c_str(), nullptr, 0);
    parsed.delivered = fieldNumber(head, "delivered") != 0;
    parsed.blocking = fieldNumber(head, "block") != 0;
    switch (parsed.event) {
    case SkypeEvent::Discover:
    case SkypeEvent::Received:
        parsed.client = fieldWindow(head, "from");
        parsed.refused = contains(head, " refused");
        break;
    case SkypeEvent::Attach:
    case SkypeEvent::Sent:
        parsed.client = fieldWindow(head, "to");
        parsed.skype = fieldWindow(head, "from");
        parsed.posted = startsWith(line, "attach posted ");
        parsed.sentKind = sentKindNamed(fieldText(head, "kind"));
        break;
    case SkypeEvent::Announce:
        parsed.skype = fieldWindow(head, "from");
        break;
    case SkypeEvent::SlowClient:
        parsed.client = fieldWindow(head, "client");
        parsed.timedOut = contains(head, " timed out");
        parsed.dropped = contains(head, " dropped");
        break;
    case SkypeEvent::Restart:
        parsed.oldSkype = fieldWindow(head, "old");
        parsed.skype = fieldWindow(head, "new");
        break;
    case SkypeEvent::Leave:
    case SkypeEvent::Return:
        parsed.skype = fieldWindow(head, "window");
        break;
    case SkypeEvent::LogOut:
    case SkypeEvent::Decision:
        parsed.client = fieldWindow(head, "client");
        parsed.refused = startsWith(line, "decision refuse");
        break;
    case SkypeEvent::CallScript:
        parsed.word = fieldText(head, "script");
        parsed.callId = fieldNumber(head, "id");
        break;
    case SkypeEvent::Control:
        parsed.refused = line.size() > close && contains(line.substr(close), " refused");
        break;
    case SkypeEvent::LogIn:
    case SkypeEvent::Hang:
    case SkypeEvent::CallStepNotSent:
    case SkypeEvent::Other:
        break;
    }
    return parsed;
}

} // namespace

int closeLeftoverSkypes() {
    const std::vector<HWND> leftovers = skypeWindows(0);
    for (HWND window : leftovers)
        sendControl(window, "exit");
    if (!leftovers.empty())
        standin::pumpUntil([] { return skypeWindows(0).empty(); }, kExitTimeoutMs);
    return static_cast<int>(leftovers.size());
}

bool startSkype(const SkypeLaunch& launch, std::string* error) {
    gSkype = SkypeProcess{};
    gSkype.controller = launch.controller;
    gSkype.logPath = launch.logPath;
    DeleteFileA(gSkype.logPath.c_str());
    // The documented client, answering only the Discover of the player's
    // process: other programs under the same wineserver may broadcast too.
    std::string commandLine =
        "\"" + launch.program + "\" --real" +
        textf(" --client-process %lu --at %ld,%ld --log ",
              static_cast<unsigned long>(launch.clientProcess), launch.at.x, launch.at.y) +
        "\"" + gSkype.logPath + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &gSkype.process)) {
        *error = textf("cannot start %s (error %lu)", launch.program.c_str(), GetLastError());
        return false;
    }
    gSkype.job = jobThatEndsWithUs(gSkype.process.hProcess);
    ResumeThread(gSkype.process.hThread);
    const DWORD processId = gSkype.process.dwProcessId;
    standin::pumpUntil(
        [processId] {
            const std::vector<HWND> windows = skypeWindows(processId);
            gSkype.window = windows.empty() ? nullptr : windows.front();
            return gSkype.window != nullptr || processEnded(gSkype.process.hProcess);
        },
        kStartTimeoutMs);
    if (!gSkype.window)
        *error = "its window did not appear";
    return gSkype.window != nullptr;
}

bool stopSkype() {
    const HANDLE process = gSkype.process.hProcess;
    if (!process)
        return true;
    if (gSkype.window)
        sendControl(gSkype.window, "exit");
    const bool exited =
        standin::pumpUntil([process] { return processEnded(process); }, kExitTimeoutMs);
    if (!exited) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, kExitTimeoutMs);
    }
    CloseHandle(gSkype.process.hThread);
    CloseHandle(process);
    if (gSkype.job)
        CloseHandle(gSkype.job);
    gSkype.job = nullptr;
    gSkype.process = PROCESS_INFORMATION{};
    gSkype.window = nullptr;
    return exited;
}

bool controlSkype(const std::string& command) {
    return gSkype.window && sendControl(gSkype.window, command);
}

HWND skypeAppWindow() {
    return gSkype.window;
}

DWORD skypeProcessId() {
    return gSkype.process.dwProcessId;
}

std::vector<SkypeLine> newSkypeLines() {
    // Skype writes its transcript from its own message loop: "sync" makes it
    // write out everything so far before we read.
    if (gSkype.window)
        sendControl(gSkype.window, "sync");
    std::vector<SkypeLine> lines;
    for (const std::string& line : readNewLines())
        lines.push_back(parseSkypeLine(line));
    return lines;
}

} // namespace demo
