#include "harness.h"

#include "thread_windows.h"

#include <algorithm>
#include <functional>

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

namespace {

std::vector<std::string> textsOf(const std::vector<standin_skype::CopyDataRecord>& records) {
    std::vector<std::string> texts;
    for (const standin_skype::CopyDataRecord& record : records)
        texts.push_back(record.text());
    return texts;
}

} // namespace

std::vector<std::string> skypeCommandTexts(std::size_t first) {
    return textsOf(skypeCommands(first));
}

std::vector<std::string> skypeTexts(std::size_t first) {
    return textsOf(standin_skype::snapshot(first).records);
}

std::string lastSkypeCommand() {
    const std::vector<std::string> commands = skypeCommandTexts();
    return commands.empty() ? std::string() : commands.back();
}

std::size_t skypeHeard(const std::string& text, std::size_t first) {
    const std::vector<std::string> texts = skypeTexts(first);
    return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
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

bool waitForLastSkypeCommand(const std::string& text) {
    return standin_skype::pumpUntil([&text] { return lastSkypeCommand() == text; });
}

bool waitForSkypeToHear(const std::string& text, std::size_t times, std::size_t first) {
    return standin_skype::pumpUntil([&] { return skypeHeard(text, first) >= times; });
}

std::size_t timedOutCommands() {
    std::size_t count = 0;
    for (const ApiCall& call : recordedCalls({"SendMessageTimeoutA"}))
        count += call.args[1] == WM_COPYDATA && call.result == 0 ? 1 : 0;
    return count;
}

bool waitForTimedOutCommand(std::size_t before) {
    return standin_skype::pumpUntil(
        [before] { return timedOutCommands() > before && sendsInFlight() == 0; });
}

namespace {

// Handles what other threads send this thread for a while, leaving what is
// posted to it unread.
void serveSendsFor(DWORD ms) {
    const DWORD start = GetTickCount();
    for (DWORD passed = 0; passed < ms; passed = GetTickCount() - start) {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - passed, QS_SENDMESSAGE);
    }
}

// Pumps until `activity` (a count that only grows) stays put over a quiet
// spell and `idle` holds; false after a safety bound.
bool pumpUntilQuiet(const std::function<std::size_t()>& activity, const std::function<bool()>& idle,
                    void (*pump)(DWORD) = standin::pumpFor) {
    constexpr DWORD kQuietMs = 150;
    constexpr int kMostRounds = 40;
    std::size_t seen = activity();
    for (int round = 0; round < kMostRounds; ++round) {
        pump(kQuietMs);
        const std::size_t now = activity();
        if (now == seen && idle())
            return true;
        seen = now;
    }
    return false;
}

std::size_t linkActivity() {
    return standin_skype::recordCount() + recordedCalls({"SendMessageTimeoutA"}).size();
}

} // namespace

void settleSkypeLink() {
    EXPECT_TRUE(pumpUntilQuiet(linkActivity, [] { return sendsInFlight() == 0; }))
        << "the link never fell quiet";
}

void settleSkypeLinkUnread() {
    EXPECT_TRUE(pumpUntilQuiet(
        linkActivity, [] { return sendsInFlight() == 0; }, serveSendsFor))
        << "the link never fell quiet";
}

std::vector<std::string> skypeTextsSettled(std::size_t first, std::size_t awaited) {
    EXPECT_TRUE(waitForSkypeRecords(first + awaited)) << "Skype is still waiting";
    settleSkypeLink();
    return skypeTexts(first);
}

std::size_t skypeCommandsSettled() {
    settleSkypeLink();
    return skypeCommandCount();
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
    EXPECT_TRUE(pumpUntilQuiet([] { return recordedCalls({"Shell_NotifyIconA"}).size(); },
                               [] { return trayCallsInFlight() == 0; }))
        << "the tooltips never settled";
}

testing::AssertionResult startSkypeForPlugin(std::unique_ptr<standin_skype::Running>& skype,
                                             standin_skype::Config config) {
    config.clientProcess = GetCurrentProcessId();
    skype = std::make_unique<standin_skype::Running>(config);
    if (!skype->started())
        return testing::AssertionFailure() << "the stand-in Skype did not start";
    return testing::AssertionSuccess();
}

testing::AssertionResult waitForQuietLink(bool attaches) {
    if (attaches && !waitForSkypeAttach())
        return testing::AssertionFailure() << "Skype never attached the link";
    if (!attaches &&
        !standin_skype::pumpUntil([] { return standin_skype::snapshot().discovers > 0; }))
        return testing::AssertionFailure() << "Skype never heard the link's Discover";
    settleSkypeLink();
    if (!standin_skype::sync())
        return testing::AssertionFailure() << "Skype never caught up";
    return testing::AssertionSuccess();
}

testing::AssertionResult startSkypeAndAttach(std::unique_ptr<standin_skype::Running>& skype) {
    const testing::AssertionResult started = startSkypeForPlugin(skype);
    if (!started)
        return started;
    discoveryTick();
    return waitForQuietLink();
}

LRESULT skypeTells(const standin_skype::Notification& notification) {
    const standin_skype::Outcome outcome =
        standin_skype::waitFor(standin_skype::requestNotification(notification));
    return outcome.completed && outcome.delivered ? outcome.result : kUndelivered;
}

LRESULT skypeTells(const std::string& text) {
    return skypeTells(standin_skype::textNotification(text));
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

void tickAndSettle() {
    discoveryTick();
    settleSkypeLink();
}

void playSong(int position) {
    standin::setPosition(position);
    standin::sendSongStarted();
}

testing::AssertionResult holdTheShellOverSong(int position) {
    hangShellUpdates(true);
    playSong(position);
    if (!standin::pumpUntil([] { return trayCallsInFlight() == 1; }, 5000))
        return testing::AssertionFailure() << "no tooltip went to the shell";
    return testing::AssertionSuccess();
}

std::size_t discoverBroadcasts() {
    const UINT discover = registeredMessage(standin_skype::kDiscoverMessageName);
    std::size_t count = 0;
    for (const ApiCall& call : recordedCalls({"SendMessageTimeoutA"}))
        count +=
            call.args[0] == reinterpret_cast<DWORD_PTR>(HWND_BROADCAST) && call.args[1] == discover;
    return count;
}

std::string startPlayer(const standin::PlayerOptions& options) {
    if (!standin::createPlayer(options))
        return "no player window: is there a display?";
    if (!standin::loadPlugin(pluginPath()))
        return standin::pluginError();
    resetApiFakes();
    startRecordingApi(standin::pluginModule());
    return standin::describePlugin() != nullptr ? "" : standin::pluginError();
}

void PluginTest::SetUp() {
    standin::PlayerOptions options;
    options.titles = {"First Song", "Second Song", "Third Song"};
    configure(options);
    ASSERT_EQ(startPlayer(options), "");
    prepare();
    if (initAtSetUp()) {
        ASSERT_TRUE(standin::initPlugin()) << standin::pluginError();
    }
    standin::clearLog();
}

void PluginTest::TearDown() {
    resetApiFakes();
    standin::destroyPlayer();
}

testing::AssertionResult prepareStage(const Stage& stage,
                                      std::unique_ptr<standin_skype::Running>& skype) {
    if (!stage.ini.empty() && !standin::writeIniContent(stage.ini))
        return testing::AssertionFailure() << "cannot write the ini file";
    if (stage.playing)
        standin::setPlayState(standin::PlayState::Playing);
    return startSkypeForPlugin(skype, stage.skype);
}

testing::AssertionResult enterStage(const Stage& stage) {
    if (stage.manualTicks && !KillTimer(standin::mainWindow(), kDiscoveryTimer))
        return testing::AssertionFailure() << "no discovery timer to stop";
    if (!stage.quietLink)
        return testing::AssertionSuccess();
    const standin_skype::Config& skype = stage.skype;
    return waitForQuietLink(skype.answerMode != standin_skype::AnswerMode::None && !skype.askUser &&
                            skype.attachStatus == standin_skype::kAttachSuccess);
}

void BesideSkypeTest::SetUp() {
    PluginTest::SetUp();
    if (!HasFatalFailure() && initAtSetUp()) {
        ASSERT_TRUE(enterStage(stage_));
    }
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
