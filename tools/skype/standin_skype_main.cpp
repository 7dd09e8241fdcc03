// standin_skype.exe: the stand-in Skype client as a program of its own, with
// a window that shows what Skype received, its protocol, the mood it holds
// and the calls, and buttons that ring the client or play the user.
//
// Its command line: skype_app_words.h.
//
// Control commands, sent by another program as WM_COPYDATA to the window of
// class "TralmoStandInSkype" with dwData 0x54524C4D ('TRLM') and the command
// text:
//   "ring ID", "missed ID", "finished ID"  send CALL ID STATUS RINGING, ...
//   "cancelled ID"     the caller gave up: CANCELLED (FINISHED below protocol 2)
//   "call SCRIPT [ID]" run a whole call in real time; SCRIPT is incoming,
//                      refused, missed, cancelled, outgoing, hold or two
//   "notify TEXT"      send TEXT as a notification
//   "status N|none"    the Attach status answered from now on
//   "ask"              ask the user at the next Discover (forgets the decision)
//   "allow", "refuse"  the user's decision
//   "logout", "login"  the user logs out (NotAvailable) or in (ApiAvailable)
//   "leave", "return"  Skype exits, or comes back with a new window
//   "restart"          Skype exits and starts again, then announces its API
//   "answers MODE", "protocol N", "block MODE", "greet on|off", "drop on|off"
//   "exit"             close the program
//   "sync"             write out every transcript line so far (not logged)
// The message returns 1 when the command was taken, 0 otherwise.
#include "skype_app_words.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace skype_app;

constexpr wchar_t kWindowTitle[] = L"Skype (stand-in)";
constexpr UINT kStateChanged = WM_APP + 10;
constexpr int kMaxLogEntries = 1000;
constexpr size_t kCallsShown = 3;
constexpr int kWindowWidth = 600;
constexpr int kWindowHeight = 450;
constexpr char kDefaultCallId[] = "1234";

enum ControlId {
    IdAttach = 100,
    IdClient,
    IdProtocol,
    IdMood,
    IdCalls,
    IdRaw,
    IdLog,
    IdCallId,
    IdRing,
    IdMissed,
    IdFinished,
    IdCancelled,
    IdAllow,
    IdRefuse,
    IdLogInOut,
    IdRestart,
    IdIncoming,
};

HWND g_window = nullptr;
HFONT g_moodFont = nullptr;
FILE* g_log = nullptr;
// When to answer once "status" gives a status again after "none".
sk::AnswerMode g_answerMode = sk::AnswerMode::Immediate;
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

// ---- The window ----

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

void showAttachState(const sk::Snapshot& skype) {
    const sk::Config& config = skype.config;
    std::string text = "Attach answer: ";
    if (config.answerMode == sk::AnswerMode::None) {
        text += "none";
    } else if (config.askUser) {
        text += skype.decision == sk::Decision::Allowed   ? "the user allowed it"
                : skype.decision == sk::Decision::Refused ? "the user refused it"
                                                          : "the user is asked";
        text += std::string(", ") + nameOf(config.answerMode, kAnswerModes);
    } else {
        text += std::to_string(config.attachStatus) + " (" +
                sk::attachStatusName(config.attachStatus) + "), " +
                nameOf(config.answerMode, kAnswerModes);
    }
    if (skype.pendingClient)
        text += "; waiting for the user: " + sk::hwndText(skype.pendingClient);
    setText(IdAttach, text);

    const HWND client = config.client ? config.client : skype.lastClient;
    setText(IdClient, "Client: " + sk::hwndText(client) +
                          "    Skype API window: " + sk::hwndText(skype.skypeWindow) +
                          (skype.skypeWindow ? "" : " (Skype away)") +
                          (skype.loggedIn ? "" : "    user logged out"));

    const HWND attached = skype.attachedClient;
    setText(IdProtocol, "Protocol " + std::to_string(skype.clientProtocol) + " (Skype's highest " +
                            std::to_string(config.highestProtocol) + ")    answers " +
                            nameOf(config.answers, kCommandAnswers) + "    SMTO_BLOCK " +
                            nameOf(config.blocking, kBlockings) + "    attached: " +
                            (attached ? sk::hwndText(attached) : std::string("none")) +
                            (skype.slowClients.empty() ? "" : "    slow client seen"));
    const bool asking = skype.pendingClient != nullptr;
    EnableWindow(GetDlgItem(g_window, IdAllow), asking);
    EnableWindow(GetDlgItem(g_window, IdRefuse), asking);
    SetDlgItemTextW(g_window, IdLogInOut, skype.loggedIn ? L"Log out" : L"Log in");
}

void showMoodAndCalls(const sk::Snapshot& skype) {
    const sk::Mood& mood = skype.mood;
    setText(IdMood, skype.moodSet ? mood.text + (mood.rich ? "   (rich)" : "") : "(none yet)");
    const std::vector<sk::CallState>& calls = skype.calls;
    std::string text = "Calls:";
    if (calls.empty())
        text += " none";
    const size_t first = calls.size() > kCallsShown ? calls.size() - kCallsShown : 0;
    for (size_t i = first; i < calls.size(); ++i) {
        const sk::CallState& call = calls[i];
        char duration[32] = "";
        if (call.duration)
            std::snprintf(duration, sizeof duration, " %u:%02u", call.duration / 60,
                          call.duration % 60);
        text += "   " + std::to_string(call.id) + " " + call.status + duration;
    }
    setText(IdCalls, text);
}

// The records from g_recordsShown on.
void showNewCommands(const sk::Snapshot& skype) {
    g_recordsShown += skype.records.size();
    for (const sk::CopyDataRecord& record : skype.records) {
        // The text readable, the bytes after it escaped; the list below has
        // every byte escaped.
        const std::string text = record.text();
        sk::CopyDataRecord rest;
        rest.bytes.assign(record.bytes.begin() + text.size(), record.bytes.end());
        setText(IdRaw, "Last command, cbData " + std::to_string(record.cbData) + " (" +
                           std::to_string(text.size()) + " bytes of text, then \"" +
                           rest.escaped() + "\"):\n" + (record.nullData ? "(null lpData)" : text));
    }
}

void refresh() {
    const sk::Snapshot skype = sk::snapshot(g_recordsShown, g_linesShown);
    for (const std::string& line : skype.transcript) {
        writeLine(line);
        ++g_linesShown;
    }
    showAttachState(skype);
    showMoodAndCalls(skype);
    showNewCommands(skype);
}

void sendCallStatus(const std::string& id, const std::string& status) {
    setText(IdCallId, id);
    sk::requestNotification(sk::textNotification("CALL " + id + " STATUS " + status));
}

// The caller gave up: the word depends on the client's protocol.
std::string cancelledWord() {
    return sk::statusWordFor("CANCELLED", sk::snapshot().clientProtocol);
}

std::string callIdFromWindow() {
    char text[32] = "";
    GetDlgItemTextA(g_window, IdCallId, text, sizeof text);
    return text[0] ? text : kDefaultCallId;
}

bool startScript(const std::string& argument) {
    const size_t blank = argument.find(' ');
    sk::CallPlan plan;
    if (!sk::parseScript(argument.substr(0, blank), &plan.script))
        return false;
    if (blank != std::string::npos) {
        int id = 0;
        if (!parseNumber(argument.substr(blank + 1), &id))
            return false;
        plan.id = static_cast<unsigned>(id);
    }
    sk::requestCall(plan);
    return true;
}

// The text of a control command, bounded by cbData whatever the sender wrote.
std::string controlText(const COPYDATASTRUCT& data) {
    const char* bytes = static_cast<const char*>(data.lpData);
    return bytes ? std::string(bytes, strnlen(bytes, data.cbData)) : std::string();
}

bool changeSetting(const std::string& name, const std::string& value) {
    sk::Config changed = sk::snapshot().config;
    if (!applySetting(name, value, &changed))
        return false;
    sk::updateConfig([&changed](sk::Config& config) { config = changed; });
    return true;
}

bool runUserAction(const std::string& verb) {
    if (verb == "ask") {
        sk::updateConfig([](sk::Config& config) { config.askUser = true; });
        sk::requestForgetDecision();
    } else if (verb == "allow" || verb == "refuse") {
        sk::requestDecision(verb == "allow");
    } else if (verb == "logout") {
        sk::requestLogOut();
    } else if (verb == "login") {
        sk::requestLogIn();
    } else if (verb == "leave") {
        sk::requestLeave();
    } else if (verb == "return") {
        sk::requestReturn();
    } else if (verb == "restart") {
        sk::requestRestart();
    } else {
        return false;
    }
    return true;
}

bool runControl(const std::string& command) {
    const size_t blank = command.find(' ');
    const std::string verb = command.substr(0, blank);
    const std::string argument = blank == std::string::npos ? "" : command.substr(blank + 1);
    const std::string id = argument.empty() ? callIdFromWindow() : argument;
    if (verb == "ring") {
        sendCallStatus(id, "RINGING");
    } else if (verb == "missed") {
        sendCallStatus(id, "MISSED");
    } else if (verb == "finished") {
        sendCallStatus(id, "FINISHED");
    } else if (verb == "cancelled") {
        sendCallStatus(id, cancelledWord());
    } else if (verb == "call") {
        return startScript(argument);
    } else if (verb == "notify" && !argument.empty()) {
        sk::requestNotification(sk::textNotification(argument));
    } else if (verb == "status") {
        bool none = false;
        LONG status = 0;
        if (!parseStatus(argument, &none, &status))
            return false;
        sk::setAnswer(none ? sk::AnswerMode::None : g_answerMode, status);
        sk::updateConfig([](sk::Config& config) { config.askUser = false; });
    } else if (verb == "exit") {
        PostMessageW(g_window, WM_CLOSE, 0, 0);
    } else if (verb == "sync") {
        refresh();
    } else if (!argument.empty()) {
        return changeSetting(verb, argument);
    } else {
        return runUserAction(verb);
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

void addButtonRow(HWND window, int y, int x,
                  std::initializer_list<std::pair<int, const wchar_t*>> buttons) {
    for (const auto& [id, label] : buttons) {
        addControl(window, L"BUTTON", label, BS_PUSHBUTTON, id, x, y, 90, 26);
        x += 98;
    }
}

void createControls(HWND window) {
    addControl(window, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, IdAttach, 12, 8, 560, 18);
    addControl(window, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, IdClient, 12, 26, 560, 18);
    addControl(window, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, IdProtocol, 12, 44, 560, 18);
    addControl(window, L"STATIC", L"Mood text:", SS_LEFT, 0, 12, 70, 80, 18);
    const HWND mood = addControl(window, L"STATIC", L"(none yet)", SS_LEFT | SS_NOPREFIX, IdMood,
                                 92, 66, 480, 26);
    g_moodFont =
        CreateFontW(-18, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    SendMessageW(mood, WM_SETFONT, reinterpret_cast<WPARAM>(g_moodFont), TRUE);
    addControl(window, L"STATIC", L"Calls: none", SS_LEFT | SS_NOPREFIX, IdCalls, 12, 96, 560, 18);
    addControl(window, L"STATIC", L"Last command: none", SS_LEFT | SS_NOPREFIX, IdRaw, 12, 116, 560,
               34);
    addControl(window, L"LISTBOX", L"", WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT,
               IdLog, 12, 154, 560, 180);
    addControl(window, L"STATIC", L"Call id:", SS_LEFT, 0, 12, 349, 50, 18);
    addControl(window, L"EDIT", wideFromUtf8(kDefaultCallId).c_str(), WS_BORDER | ES_AUTOHSCROLL,
               IdCallId, 64, 346, 80, 22);
    addButtonRow(window, 344, 160,
                 {{IdRing, L"Ring"},
                  {IdMissed, L"Missed"},
                  {IdFinished, L"Finished"},
                  {IdCancelled, L"Cancelled"}});
    addButtonRow(window, 378, 12,
                 {{IdAllow, L"Allow"},
                  {IdRefuse, L"Refuse"},
                  {IdLogInOut, L"Log out"},
                  {IdRestart, L"Restart"},
                  {IdIncoming, L"Incoming call"}});
    SendDlgItemMessageW(window, IdLog, LB_SETHORIZONTALEXTENT, 2000, 0);
}

void onButton(int id) {
    switch (id) {
    case IdRing:
        sendCallStatus(callIdFromWindow(), "RINGING");
        return;
    case IdMissed:
        sendCallStatus(callIdFromWindow(), "MISSED");
        return;
    case IdFinished:
        sendCallStatus(callIdFromWindow(), "FINISHED");
        return;
    case IdCancelled:
        sendCallStatus(callIdFromWindow(), cancelledWord());
        return;
    case IdAllow:
    case IdRefuse:
        sk::requestDecision(id == IdAllow);
        return;
    case IdLogInOut:
        runUserAction(sk::snapshot().loggedIn ? "logout" : "login");
        return;
    case IdRestart:
        sk::requestRestart();
        return;
    case IdIncoming:
        sk::requestCall(sk::planCall(sk::CallScript::Incoming));
        return;
    }
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        g_window = window;
        createControls(window);
        return 0;
    case kStateChanged:
        refresh();
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) >= IdRing)
            onButton(LOWORD(wParam));
        return 0;
    case WM_COPYDATA: {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!data || data->dwData != sk::kControlTag)
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
    const HWND target = FindWindowW(sk::kAppWindowClass, nullptr);
    if (!target) {
        std::fprintf(stderr, "standin_skype: no stand-in Skype is running\n");
        return 2;
    }
    if (!sk::sendControlCommand(target, nullptr, command)) {
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
        std::fprintf(stderr,
                     "usage: standin_skype.exe [--status N|none] "
                     "[--answer immediate|deferred|posted] [--client HEX] [--log FILE] "
                     "[--at X,Y]\n"
                     "         [--real] [--answers none|nested|later] [--protocol N] "
                     "[--greet on|off] [--ask]\n"
                     "         [--block never|always|alternate] [--drop on|off] [--user NAME]\n"
                     "       standin_skype.exe --send \"COMMAND\"\n");
        return 2;
    }
    if (options.send)
        return sendControl(options.sendCommand);
    g_answerMode = options.answerMode;
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
    windowClass.lpszClassName = sk::kAppWindowClass;
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowExW(0, sk::kAppWindowClass, kWindowTitle,
                                        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                        options.x, options.y, kWindowWidth, kWindowHeight, nullptr,
                                        nullptr, windowClass.hInstance, nullptr);
    if (!window)
        return 1;
    options.config.observer = window;
    options.config.observerMessage = kStateChanged;
    if (!sk::start(options.config)) {
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
    sk::stop();
    if (g_moodFont)
        DeleteObject(g_moodFont);
    if (g_log)
        std::fclose(g_log);
    return 0;
}
