#include "harness.h"

#include "thread_windows.h"

#include <algorithm>

std::string pluginPath() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self);
    path.erase(path.find_last_of("\\/") + 1);
    return path + "gen_tralmo.dll";
}

UINT registeredMessage(const char* name) {
    return RegisterWindowMessageA(name);
}

std::vector<standin_skype::CopyDataRecord> skypeCommands(std::size_t first) {
    std::vector<standin_skype::CopyDataRecord> commands = standin_skype::snapshot(first).records;
    commands.erase(std::remove_if(commands.begin(), commands.end(),
                                  [](const standin_skype::CopyDataRecord& record) {
                                      return record.text() == kProtocolCommand;
                                  }),
                   commands.end());
    return commands;
}

std::size_t skypeCommandCount() {
    return skypeCommands().size();
}

bool sentMessageQueued() {
    for (int i = 0; i < 5000; ++i) {
        if (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE)
            return true;
        Sleep(2);
    }
    return false;
}

HWND skypeLink() {
    return win32::threadWindowOfClass(kSkypeLinkClass);
}

bool waitForSkypeRecords(std::size_t count) {
    return standin_skype::pumpUntil([count] { return standin_skype::recordCount() >= count; });
}

bool waitForSkypeCommands(std::size_t count) {
    return standin_skype::pumpUntil([count] { return skypeCommandCount() >= count; });
}

bool waitForSkypeAttach() {
    return standin_skype::pumpUntil([] {
        const HWND link = skypeLink();
        if (link == nullptr)
            return false;
        for (const standin_skype::CopyDataRecord& record : standin_skype::snapshot().records)
            if (record.sender == link && record.text() == kProtocolCommand)
                return true;
        return false;
    });
}

namespace {

// Pumps until `activity` (a count that only grows) stays put over a quiet
// spell and `idle` holds, or a safety bound passes.
void pumpUntilQuiet(const std::function<std::size_t()>& activity,
                    const std::function<bool()>& idle) {
    constexpr DWORD kQuietMs = 150;
    constexpr int kMostRounds = 40;
    std::size_t seen = activity();
    for (int round = 0; round < kMostRounds; ++round) {
        standin::pumpFor(kQuietMs);
        const std::size_t now = activity();
        if (now == seen && idle())
            return;
        seen = now;
    }
}

} // namespace

void settleSkypeLink() {
    pumpUntilQuiet(
        [] { return standin_skype::recordCount() + recordedCalls({"SendMessageTimeoutA"}).size(); },
        [] { return sendsInFlight() == 0; });
}

std::vector<std::string> trayTips() {
    std::vector<std::string> tips;
    for (const ApiCall& call : recordedCalls({"Shell_NotifyIconA"}))
        if (call.args[0] == NIM_MODIFY && call.icon.uID == kMainTrayIconId &&
            call.icon.uFlags == NIF_TIP)
            tips.push_back(call.text);
    return tips;
}

bool waitForTrayTip(const std::string& tip) {
    return standin_skype::pumpUntil([&tip] {
        const std::vector<std::string> tips = trayTips();
        return !tips.empty() && tips.back() == tip && trayCallsInFlight() == 0;
    });
}

void settleTrayTips() {
    pumpUntilQuiet([] { return recordedCalls({"Shell_NotifyIconA"}).size(); },
                   [] { return trayCallsInFlight() == 0; });
}

testing::AssertionResult startSkypeForPlugin(std::unique_ptr<standin_skype::Running>& skype,
                                             standin_skype::Config config) {
    config.clientProcess = GetCurrentProcessId();
    skype = std::make_unique<standin_skype::Running>(config);
    if (!skype->started())
        return testing::AssertionFailure() << "the stand-in Skype did not start";
    return testing::AssertionSuccess();
}

testing::AssertionResult waitForQuietLink(standin_skype::AnswerMode mode) {
    if (mode != standin_skype::AnswerMode::None && !waitForSkypeAttach())
        return testing::AssertionFailure() << "Skype never attached the link";
    if (mode == standin_skype::AnswerMode::None &&
        !standin_skype::pumpUntil([] { return standin_skype::snapshot().discovers > 0; }))
        return testing::AssertionFailure() << "Skype never heard the link's Discover";
    settleSkypeLink();
    return testing::AssertionSuccess();
}

testing::AssertionResult startSkypeAndAttach(std::unique_ptr<standin_skype::Running>& skype) {
    const testing::AssertionResult started = startSkypeForPlugin(skype);
    if (!started)
        return started;
    sendToHost(WM_TIMER, kDiscoveryTimer, 0);
    return waitForQuietLink();
}

bool waitForLastSkypeCommand(const std::string& text) {
    return standin_skype::pumpUntil([&text] {
        const std::vector<standin_skype::CopyDataRecord> commands = skypeCommands();
        return !commands.empty() && commands.back().text() == text;
    });
}

namespace {

BOOL CALLBACK findLinkInProcess(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || className(window) != kSkypeLinkClass)
        return TRUE;
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

} // namespace

bool skypeLinkRemains() {
    bool found = false;
    EnumWindows(findLinkInProcess, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool stampFile(const std::string& path, int hours) {
    const HANDLE file =
        CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart += static_cast<ULONGLONG>(static_cast<LONGLONG>(hours) * 3600 * 10'000'000);
    const FILETIME stamp{time.LowPart, time.HighPart};
    const bool set = SetFileTime(file, nullptr, nullptr, &stamp) != FALSE;
    CloseHandle(file);
    return set;
}

LRESULT sendToHost(UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(standin::mainWindow(), message, wParam, lParam);
}

void discoveryTick() {
    sendToHost(WM_TIMER, kDiscoveryTimer, 0);
}

std::size_t discoverBroadcasts() {
    const UINT discover = registeredMessage(standin_skype::kDiscoverMessageName);
    std::size_t count = 0;
    for (const ApiCall& call : recordedCalls({"SendMessageTimeoutA"}))
        count +=
            call.args[0] == reinterpret_cast<DWORD_PTR>(HWND_BROADCAST) && call.args[1] == discover;
    return count;
}

void PluginTest::SetUp() {
    standin::PlayerOptions options;
    options.titles = {"First Song", "Second Song", "Third Song"};
    configure(options);
    ASSERT_TRUE(standin::createPlayer(options)) << "no player window: is there a display?";
    ASSERT_TRUE(standin::loadPlugin(pluginPath())) << standin::pluginError();
    startRecordingApi(standin::pluginModule());
    ASSERT_NE(standin::describePlugin(), nullptr) << standin::pluginError();
    prepare();
    if (initAtSetUp()) {
        ASSERT_TRUE(standin::initPlugin()) << standin::pluginError();
    }
    standin::clearLog();
}

void PluginTest::TearDown() {
    standin::destroyPlayer();
}

// ---- Dialogs -----------------------------------------------------------------

namespace {

DialogScript* gScript = nullptr;
constexpr UINT kLookPeriodMs = 10;
// Looks at a dialog whose action has returned before it is ended by force:
// a safety bound only, far beyond what closing takes.
constexpr int kIdleLooksAllowed = 500;

BOOL CALLBACK collectDialog(HWND window, LPARAM list) {
    if (IsWindowVisible(window) && className(window) == "#32770")
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

} // namespace

DialogScript::DialogScript() {
    gScript = this;
    timer_ = SetTimer(nullptr, 0, kLookPeriodMs, &DialogScript::tick);
}

DialogScript::~DialogScript() {
    KillTimer(nullptr, timer_);
    gScript = nullptr;
}

DialogScript& DialogScript::then(std::function<void(HWND)> action) {
    queue_.push_back(std::move(action));
    return *this;
}

void CALLBACK DialogScript::tick(HWND, UINT, UINT_PTR, DWORD) {
    if (gScript != nullptr)
        gScript->look();
}

void DialogScript::look() {
    const auto entry = [this](HWND dialog) {
        for (auto& seen : seen_)
            if (seen.first == dialog)
                return &seen.second;
        return static_cast<Seen*>(nullptr);
    };
    for (auto it = seen_.begin(); it != seen_.end();)
        it = IsWindow(it->first) ? it + 1 : seen_.erase(it);
    // Actions may open nested dialogs, which calls this again: hold no
    // iterator or pointer across an action.
    for (HWND dialog : visibleDialogs()) {
        if (Seen* seen = entry(dialog)) {
            if (!seen->acting && ++seen->idleTicks > kIdleLooksAllowed) {
                ADD_FAILURE() << "dialog \"" << windowText(dialog) << "\" stayed open; ending it";
                EndDialog(dialog, 0);
            }
            continue;
        }
        seen_.push_back({dialog, Seen{}});
        if (queue_.empty()) {
            ADD_FAILURE() << "unexpected dialog \"" << windowText(dialog) << "\"; ending it";
            EndDialog(dialog, 0);
            continue;
        }
        std::function<void(HWND)> action = std::move(queue_.front());
        queue_.erase(queue_.begin());
        entry(dialog)->acting = true;
        ++actionsRun_;
        action(dialog);
        if (Seen* seen = entry(dialog))
            seen->acting = false;
    }
}

std::vector<HWND> visibleDialogs() {
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), collectDialog, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

std::string windowText(HWND window) {
    const auto length = static_cast<int>(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0));
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const auto copied = static_cast<int>(
        SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
    text.resize(static_cast<std::size_t>(copied < 0 ? 0 : copied));
    return text;
}

std::string className(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

void clickButton(HWND dialog, int id) {
    SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0);
}

bool isChecked(HWND dialog, int id) {
    return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void typeText(HWND control, const std::string& text) {
    for (const char c : text)
        SendMessageA(control, WM_CHAR, static_cast<unsigned char>(c), 1);
}

void pressKey(HWND dialog, UINT virtualKey) {
    const HWND focus = GetFocus();
    const HWND target =
        focus != nullptr && (focus == dialog || IsChild(dialog, focus)) ? focus : dialog;
    PostMessageA(target, WM_KEYDOWN, virtualKey, 1);
    PostMessageA(target, WM_KEYUP, virtualKey, 0xC0000001);
}
