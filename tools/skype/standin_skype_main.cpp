// standin_skype.exe: the stand-in Skype client as a program of its own, with
// a window that shows what Skype received and buttons that ring the client.
//
//   standin_skype.exe [--status N|none] [--answer MODE] [--client HEX] [--log FILE]
//                     [--at X,Y]
//   standin_skype.exe --send "COMMAND"
//
// --status   the Attach status answered to a Discover (default 0, Success;
//            decimal or 0x hex); "none" answers nothing.
// --answer   when to answer: "immediate" (inside the Discover handler, while
//            the client's broadcast is in progress; the default), "deferred"
//            (sent once the handler returned) or "posted" (posted, so the
//            client sees it only after its broadcast returned).
// --client   answer only the Discover of this window (hex handle).
// --log      append the transcript to FILE instead of writing it to stdout.
// --at       put the window's top left corner at screen point X,Y.
// --send     hand COMMAND to the running stand-in and exit (0 when taken).
//
// Control commands, sent by another program as WM_COPYDATA to the window of
// class "TralmoStandInSkype" with dwData 0x54524C4D ('TRLM') and the command
// text: "ring ID", "missed ID", "finished ID" (send CALL ID STATUS ...),
// "notify TEXT" (send TEXT as a notification), "status N|none", "leave"
// (Skype exits), "return" (Skype comes back), "exit" (close the program),
// "sync" (write out every transcript line so far; not itself logged).
// The message returns 1 when the command was taken, 0 otherwise.
#include "standin_skype.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr wchar_t kWindowTitle[] = L"Skype (stand-in)";
constexpr UINT kControlTimeoutMs = 5000;
constexpr UINT kTranscriptChanged = WM_APP + 10;
constexpr int kMaxLogEntries = 1000;

enum ControlId {
    IdAttach = 100,
    IdClient,
    IdMood,
    IdRaw,
    IdLog,
    IdCallId,
    IdRing,
    IdMissed,
    IdFinished,
    IdCallSent
};

struct Options {
    standin_skype::Config config;
    std::string logPath;
    std::string sendCommand;
    bool send = false;
    int x = CW_USEDEFAULT;
    int y = CW_USEDEFAULT;
};

HWND g_window = nullptr;
HFONT g_moodFont = nullptr;
FILE* g_log = nullptr;
// When to answer once "status" gives a status again after "none".
standin_skype::AnswerMode g_answerMode = standin_skype::AnswerMode::Immediate;
size_t g_linesShown = 0;
size_t g_recordsShown = 0;

std::wstring wideFromUtf8(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string statusName(LONG status) {
    switch (status) {
    case standin_skype::kAttachSuccess:
        return "Success";
    case standin_skype::kAttachPendingAuthorization:
        return "PendingAuthorization";
    case standin_skype::kAttachRefused:
        return "Refused";
    case standin_skype::kAttachNotAvailable:
        return "NotAvailable";
    case standin_skype::kAttachApiAvailable:
        return "ApiAvailable";
    default:
        return "unknown";
    }
}

// "none" or a status, decimal or 0x hex.
bool parseStatus(const std::string& text, bool* none, LONG* status) {
    *none = text == "none";
    if (*none)
        return true;
    char* end = nullptr;
    *status = std::strtol(text.c_str(), &end, 0);
    return !text.empty() && !*end;
}

const char* modeName(standin_skype::AnswerMode mode) {
    switch (mode) {
    case standin_skype::AnswerMode::Immediate:
        return "immediate";
    case standin_skype::AnswerMode::Deferred:
        return "deferred";
    case standin_skype::AnswerMode::Posted:
        return "posted";
    case standin_skype::AnswerMode::None:
        break;
    }
    return "none";
}

bool parseAnswerMode(const std::string& text, standin_skype::AnswerMode* mode) {
    if (text == "immediate")
        *mode = standin_skype::AnswerMode::Immediate;
    else if (text == "deferred")
        *mode = standin_skype::AnswerMode::Deferred;
    else if (text == "posted")
        *mode = standin_skype::AnswerMode::Posted;
    else
        return false;
    return true;
}

// "X,Y" in decimal.
bool parsePoint(const char* text, int* x, int* y) {
    char* end = nullptr;
    const long left = std::strtol(text, &end, 10);
    if (end == text || *end != ',')
        return false;
    const char* rest = end + 1;
    const long top = std::strtol(rest, &end, 10);
    if (end == rest || *end)
        return false;
    *x = static_cast<int>(left);
    *y = static_cast<int>(top);
    return true;
}

bool parseOptions(int argc, char** argv, Options* options) {
    standin_skype::AnswerMode mode = standin_skype::AnswerMode::Immediate;
    bool none = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--answer" && hasValue) {
            if (!parseAnswerMode(argv[++i], &mode))
                return false;
        } else if (arg == "--status" && hasValue) {
            if (!parseStatus(argv[++i], &none, &options->config.attachStatus))
                return false;
        } else if (arg == "--client" && hasValue) {
            options->config.client = reinterpret_cast<HWND>(
                static_cast<ULONG_PTR>(std::strtoul(argv[++i], nullptr, 16)));
        } else if (arg == "--log" && hasValue) {
            options->logPath = argv[++i];
        } else if (arg == "--at" && hasValue) {
            if (!parsePoint(argv[++i], &options->x, &options->y))
                return false;
        } else if (arg == "--send" && hasValue) {
            options->send = true;
            options->sendCommand = argv[++i];
        } else {
            return false;
        }
    }
    g_answerMode = mode;
    options->config.answerMode = none ? standin_skype::AnswerMode::None : mode;
    return true;
}

void writeLine(const std::string& line) {
    FILE* out = g_log ? g_log : stdout;
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
    const HWND list = GetDlgItem(g_window, IdLog);
    if (!list)
        return;
    if (SendMessageW(list, LB_GETCOUNT, 0, 0) >= kMaxLogEntries)
        SendMessageW(list, LB_DELETESTRING, 0, 0);
    const LRESULT index =
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wideFromUtf8(line).c_str()));
    SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
}

void setText(int id, const std::string& utf8) {
    SetDlgItemTextW(g_window, id, wideFromUtf8(utf8).c_str());
}

void showAttachAnswer() {
    const standin_skype::Config config = standin_skype::config();
    std::string text = "Attach answer: ";
    if (config.answerMode == standin_skype::AnswerMode::None) {
        text += "none";
    } else {
        text += std::to_string(config.attachStatus) + " (" + statusName(config.attachStatus) +
                "), " + modeName(config.answerMode);
    }
    setText(IdAttach, text);
    const HWND client = config.client ? config.client : standin_skype::lastClient();
    const HWND skype = standin_skype::skypeWindow();
    char line[160];
    std::snprintf(line, sizeof line, "Client: 0x%08lX    Skype API window: 0x%08lX%s",
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(client)),
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(skype)),
                  skype ? "" : " (Skype away)");
    setText(IdClient, line);
}

void showNewCommands() {
    const std::vector<standin_skype::CopyDataRecord> records =
        standin_skype::records(g_recordsShown);
    g_recordsShown += records.size();
    for (const standin_skype::CopyDataRecord& record : records) {
        // The text readable, the bytes after it escaped; the list below has
        // every byte escaped.
        const std::string text = record.text();
        standin_skype::CopyDataRecord rest;
        rest.bytes.assign(record.bytes.begin() + text.size(), record.bytes.end());
        setText(IdRaw, "Last command, cbData " + std::to_string(record.cbData) + " (" +
                           std::to_string(text.size()) + " bytes of text, then \"" +
                           rest.escaped() + "\"):\n" + (record.nullData ? "(null lpData)" : text));
        std::string mood;
        if (standin_skype::moodTextOf(record.text(), &mood))
            setText(IdMood, mood);
    }
}

void refresh() {
    for (const std::string& line : standin_skype::transcript(g_linesShown)) {
        writeLine(line);
        ++g_linesShown;
    }
    showAttachAnswer();
    showNewCommands();
}

void sendCallStatus(const std::string& id, const char* status) {
    setText(IdCallId, id);
    setText(IdCallSent, std::string("Sent: ") + status);
    standin_skype::requestNotification(
        standin_skype::textNotification("CALL " + id + " STATUS " + status));
}

std::string callIdFromWindow() {
    char text[32] = "";
    GetDlgItemTextA(g_window, IdCallId, text, sizeof text);
    return text[0] ? text : "1234";
}

// The text of a control command, bounded by cbData whatever the sender wrote.
std::string controlText(const COPYDATASTRUCT& data) {
    const char* bytes = static_cast<const char*>(data.lpData);
    return bytes ? std::string(bytes, strnlen(bytes, data.cbData)) : std::string();
}

bool runControl(const std::string& command) {
    const size_t blank = command.find(' ');
    const std::string verb = command.substr(0, blank);
    const std::string argument = blank == std::string::npos ? "" : command.substr(blank + 1);
    if (verb == "ring" || verb == "missed" || verb == "finished") {
        const char* status = verb == "ring" ? "RINGING" : verb == "missed" ? "MISSED" : "FINISHED";
        sendCallStatus(argument.empty() ? callIdFromWindow() : argument, status);
    } else if (verb == "notify" && !argument.empty()) {
        standin_skype::requestNotification(standin_skype::textNotification(argument));
    } else if (verb == "status") {
        bool none = false;
        LONG status = 0;
        if (!parseStatus(argument, &none, &status))
            return false;
        standin_skype::setAnswer(none ? standin_skype::AnswerMode::None : g_answerMode, status);
        showAttachAnswer();
    } else if (verb == "leave") {
        standin_skype::requestLeave();
    } else if (verb == "return") {
        standin_skype::requestReturn();
    } else if (verb == "exit") {
        PostMessageW(g_window, WM_CLOSE, 0, 0);
    } else if (verb == "sync") {
        refresh();
    } else {
        return false;
    }
    return true;
}

HWND addControl(HWND parent, const wchar_t* type, const wchar_t* text, DWORD style, int id, int x,
                int y, int width, int height) {
    const HWND control = CreateWindowExW(
        0, type, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 TRUE);
    return control;
}

void createControls(HWND window) {
    addControl(window, L"STATIC", L"", SS_LEFT, IdAttach, 12, 10, 560, 18);
    addControl(window, L"STATIC", L"", SS_LEFT, IdClient, 12, 30, 560, 18);
    addControl(window, L"STATIC", L"Mood text:", SS_LEFT, 0, 12, 58, 80, 18);
    const HWND mood = addControl(window, L"STATIC", L"(none yet)", SS_LEFT | SS_NOPREFIX, IdMood,
                                 92, 54, 480, 26);
    g_moodFont =
        CreateFontW(-18, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    SendMessageW(mood, WM_SETFONT, reinterpret_cast<WPARAM>(g_moodFont), TRUE);
    addControl(window, L"STATIC", L"Last command: none", SS_LEFT | SS_NOPREFIX, IdRaw, 12, 88, 560,
               34);
    addControl(window, L"LISTBOX", L"", WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT,
               IdLog, 12, 126, 560, 190);
    addControl(window, L"STATIC", L"Call id:", SS_LEFT, 0, 12, 331, 50, 18);
    addControl(window, L"EDIT", L"1234", WS_BORDER | ES_AUTOHSCROLL, IdCallId, 64, 328, 80, 22);
    addControl(window, L"BUTTON", L"Ring", BS_PUSHBUTTON, IdRing, 160, 326, 90, 26);
    addControl(window, L"BUTTON", L"Missed", BS_PUSHBUTTON, IdMissed, 260, 326, 90, 26);
    addControl(window, L"BUTTON", L"Finished", BS_PUSHBUTTON, IdFinished, 360, 326, 90, 26);
    addControl(window, L"STATIC", L"", SS_LEFT, IdCallSent, 462, 331, 110, 18);
    SendDlgItemMessageW(window, IdLog, LB_SETHORIZONTALEXTENT, 2000, 0);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        g_window = window;
        createControls(window);
        return 0;
    case kTranscriptChanged:
        refresh();
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IdRing:
            sendCallStatus(callIdFromWindow(), "RINGING");
            return 0;
        case IdMissed:
            sendCallStatus(callIdFromWindow(), "MISSED");
            return 0;
        case IdFinished:
            sendCallStatus(callIdFromWindow(), "FINISHED");
            return 0;
        }
        break;
    case WM_COPYDATA: {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!data || data->dwData != standin_skype::kControlTag)
            return 0;
        // What happened before the command goes into the transcript first.
        refresh();
        const std::string command = controlText(*data);
        const bool taken = runControl(command);
        if (command != "sync")
            writeLine("control \"" + command + (taken ? "\"" : "\" refused"));
        return taken ? 1 : 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int sendControl(const std::string& command) {
    const HWND target = FindWindowW(standin_skype::kAppWindowClass, nullptr);
    if (!target) {
        std::fprintf(stderr, "standin_skype: no stand-in Skype is running\n");
        return 2;
    }
    COPYDATASTRUCT data{standin_skype::kControlTag, static_cast<DWORD>(command.size() + 1),
                        const_cast<char*>(command.c_str())};
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL,
                             kControlTimeoutMs, &result) ||
        result != 1) {
        std::fprintf(stderr, "standin_skype: command not taken: %s\n", command.c_str());
        return 1;
    }
    return 0;
}

LONG WINAPI exitOnCrash(EXCEPTION_POINTERS*) {
    ExitProcess(3); // rather than Wine's debugger holding a demo run
}

} // namespace

int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(exitOnCrash);
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        std::fprintf(
            stderr,
            "usage: standin_skype.exe [--status N|none] [--answer immediate|deferred|posted] "
            "[--client HEX] [--log FILE] [--at X,Y]\n"
            "       standin_skype.exe --send \"COMMAND\"\n");
        return 2;
    }
    if (options.send)
        return sendControl(options.sendCommand);
    if (!options.logPath.empty()) {
        g_log = std::fopen(options.logPath.c_str(), "ab");
        if (!g_log) {
            std::fprintf(stderr, "standin_skype: cannot open %s\n", options.logPath.c_str());
            return 2;
        }
    }

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = standin_skype::kAppWindowClass;
    RegisterClassW(&windowClass);
    const HWND window =
        CreateWindowExW(0, standin_skype::kAppWindowClass, kWindowTitle,
                        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, options.x,
                        options.y, 600, 400, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window)
        return 1;
    options.config.observer = window;
    options.config.observerMessage = kTranscriptChanged;
    if (!standin_skype::start(options.config)) {
        DestroyWindow(window);
        return 1;
    }
    refresh();
    ShowWindow(window, SW_SHOWNORMAL);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    standin_skype::stop();
    if (g_moodFont)
        DeleteObject(g_moodFont);
    if (g_log)
        std::fclose(g_log);
    return 0;
}
