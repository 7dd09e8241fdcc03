// The stand-in player's own behaviour where it follows the real host: the
// The stand-in player's own behaviour where it follows the real host: the
// titles, ini paths and volume it answers, when its callbacks arrive, its
// windows and caption, the playlist's index query, the Open file dialog and
// the shut-down order; and the busy program beside it.
#include "busy_program.h"
#include "harness.h"

#include <memory>

namespace {

using standin::PlayState;

// "Café Песня 日本", of which code page 1252 holds only "Café ".
const std::wstring kMixedTitle = L"Caf\u00E9 \u041F\u0435\u0441\u043D\u044F \u65E5\u672C";
const std::string kMixedTitle1252 = "Caf\xE9 ????? ??";

LRESULT query(long code, WPARAM wParam = 0) {
    return SendMessageW(standin::mainWindow(), WM_USER, wParam, code);
}

std::size_t callbacks(long code) {
    return standin::countQueries(code);
}

// The player's own log entry of the first callback with this code.
std::optional<standin::LoggedMessage> firstCallback(long code) {
    for (const auto& entry : standin::messageLog())
        if (entry.window == standin::Window::Main && entry.message == WM_USER &&
            entry.lParam == code)
            return entry;
    return std::nullopt;
}

class PlayerTest : public testing::Test {
  protected:
    void SetUp() override {
        options_.titles = {"First", "Second", "Third"};
        configure(options_);
        ASSERT_TRUE(standin::createPlayer(options_)) << standin::pluginError();
        standin::clearLog();
    }
    void TearDown() override { standin::destroyPlayer(); }
    virtual void configure(standin::PlayerOptions& options) { (void)options; }

    standin::PlayerOptions options_;
};

// ---- Titles -----------------------------------------------------------------------

class TitleTest : public PlayerTest {
  protected:
    void configure(standin::PlayerOptions& options) override {
        options.wideTitles = {kMixedTitle, std::wstring(450, L'x')};
    }
};

TEST_F(TitleTest, AnsiAnswerIsConvertedAndCutWideAnswerIsWhole) {
    ASSERT_EQ(GetACP(), 1252u)
        << "the expected text is code page 1252's; the test entry asks for it";
    const auto* ansi = reinterpret_cast<const char*>(query(host::kQueryEntryTitle, 0));
    ASSERT_NE(ansi, nullptr);
    EXPECT_EQ(std::string(ansi), kMixedTitle1252);
    EXPECT_EQ(ansi, standin::titles()[0].c_str());
    const auto* wide = reinterpret_cast<const wchar_t*>(query(host::kQueryEntryTitleWide, 0));
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::wstring(wide), kMixedTitle);

    const auto* cut = reinterpret_cast<const char*>(query(host::kQueryEntryTitle, 1));
    EXPECT_EQ(std::string(cut), std::string(standin::kAnsiTitleMaxBytes, 'x'));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(query(host::kQueryEntryTitleWide, 1))),
              std::wstring(450, L'x'));

    EXPECT_EQ(query(host::kQueryEntryTitle, 2), 0);
    EXPECT_EQ(query(host::kQueryEntryTitleWide, 2), 0);
    standin::setAnswerWideTitles(false); // an older host
    EXPECT_EQ(query(host::kQueryEntryTitleWide, 0), standin::kUnknownQueryAnswer);
}

TEST_F(TitleTest, StreamTitleChangesTheEntryWithoutASongStart) {
    standin::setPlayState(PlayState::Playing, standin::Notify::SongStarted);
    standin::pumpPending();
    standin::clearLog();
    standin::updateStreamTitle(std::wstring(L"Next on the radio"));
    EXPECT_EQ(standin::mainCaption(), L"1. Next on the radio - Winamp");
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(query(host::kQueryEntryTitleWide, 0))),
              L"Next on the radio");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(query(host::kQueryEntryTitle, 0))),
              "Next on the radio");
    EXPECT_EQ(callbacks(host::kCallbackStatusChanged), 0u) << "posted, not sent";
    standin::pumpPending();
    EXPECT_EQ(callbacks(host::kCallbackStatusChanged), 1u);
    EXPECT_EQ(callbacks(host::kCallbackSongStarted), 0u);
}

// ---- Callbacks --------------------------------------------------------------------

WNDPROC gBehindWatcher = nullptr;
std::wstring gCaptionAtSongStart;

LRESULT CALLBACK watchSongStart(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER && lParam == host::kCallbackSongStarted)
        gCaptionAtSongStart = standin::mainCaption();
    return CallWindowProcW(gBehindWatcher, window, message, wParam, lParam);
}

using CallbackTest = PlayerTest;

TEST_F(CallbackTest, SongStartSendsTheFileThenPostsTheStatus) {
    standin::setWideTitles({kMixedTitle, L"Second"});
    gBehindWatcher = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        standin::mainWindow(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&watchSongStart)));
    standin::sendCommand(host::kCommandPlay);

    const auto started = firstCallback(host::kCallbackSongStarted);
    ASSERT_TRUE(started.has_value());
    EXPECT_TRUE(started->finished);
    EXPECT_EQ(reinterpret_cast<const char*>(started->wParam), standin::fileNames()[0].c_str());
    EXPECT_EQ(gCaptionAtSongStart, L"1. " + kMixedTitle + L" - Winamp") << "caption first";
    EXPECT_EQ(callbacks(host::kCallbackStatusChanged), 0u);

    standin::pumpPending();
    const auto status = firstCallback(host::kCallbackStatusChanged);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->depth, 0) << "from the message loop, not inside the command";
}

TEST_F(CallbackTest, PauseStopAndVolumePostOnlyTheStatus) {
    standin::sendCommand(host::kCommandPlay);
    standin::pumpPending();
    const std::vector<std::function<void()>> changes = {
        [] { standin::sendCommand(host::kCommandPause); },
        [] { standin::sendCommand(host::kCommandPlay); }, // resumes
        [] { query(host::kSetVolume, 100); },
        [] { standin::setVolume(20); },
        [] { standin::sendCommand(host::kCommandStop); },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        SCOPED_TRACE(i);
        standin::clearLog();
        changes[i]();
        EXPECT_EQ(callbacks(host::kCallbackStatusChanged), 0u);
        standin::pumpPending();
        EXPECT_EQ(callbacks(host::kCallbackStatusChanged), 1u);
        EXPECT_EQ(callbacks(host::kCallbackSongStarted), 0u);
    }
    EXPECT_EQ(standin::playState(), PlayState::Stopped);
    EXPECT_EQ(standin::volume(), 20);
}

class SentCallbackTest : public PlayerTest {
  protected:
    void configure(standin::PlayerOptions& options) override {
        options.statusCallbacks = standin::StatusCallbacks::Sent;
    }
};

TEST_F(SentCallbackTest, StatusFollowsTheSongStartAtOnceAndVolumeSaysNothing) {
    standin::sendCommand(host::kCommandPlay);
    const auto status = firstCallback(host::kCallbackStatusChanged);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->depth, 1) << "inside the command";
    standin::setVolume(10);
    standin::pumpPending();
    EXPECT_EQ(callbacks(host::kCallbackStatusChanged), 1u);
}

// ---- Windows and queries -----------------------------------------------------------

TEST_F(PlayerTest, UnicodeWindowsAnswerUnknownQueriesWithOne) {
    EXPECT_TRUE(IsWindowUnicode(standin::mainWindow()));
    EXPECT_TRUE(IsWindowUnicode(standin::playlistWindow()));
    EXPECT_TRUE(standin::ownsWindowProc(standin::Window::Main));
    EXPECT_EQ(standin::mainCaption(), L"1. First - Winamp");
    EXPECT_EQ(query(4242), 1);
    EXPECT_EQ(SendMessageW(standin::playlistWindow(), WM_USER, 4242, 0), 1);
}

class OldHostTest : public PlayerTest {
  protected:
    void configure(standin::PlayerOptions& options) override {
        options.windows = standin::Charset::Ansi;
        options.unknownQueries = standin::UnknownQueries::Tagged;
    }
};

TEST_F(OldHostTest, AnsiWindowsTagUnknownQueries) {
    EXPECT_FALSE(IsWindowUnicode(standin::mainWindow()));
    EXPECT_FALSE(IsWindowUnicode(standin::playlistWindow()));
    EXPECT_TRUE(standin::ownsWindowProc(standin::Window::Playlist));
    EXPECT_EQ(query(4242), standin::kUnknownQueryTag | 4242);
    EXPECT_EQ(SendMessageW(standin::playlistWindow(), WM_USER, 4242, 0),
              standin::kUnknownQueryTag | 4242);
}

// Winamp 5.58 and later: the ini path in UTF-16 (1334) beside the ANSI one
// (334), which has "?" for what the code page lacks; the volume asked by 122
// with -666, which changes nothing.
class HostOfTodayTest : public PlayerTest {
  protected:
    void configure(standin::PlayerOptions& options) override {
        options.wideIniPath = L"C:\\\x7528\x6237\\winamp.ini"; // 用户, "user"
        options.volume = 200;
    }
};

TEST_F(HostOfTodayTest, AnswersTheWideIniPathAndTheVolume) {
    const auto wide = reinterpret_cast<const wchar_t*>(query(host::kQueryIniPathWide));
    ASSERT_TRUE(host::isPointerAnswer(reinterpret_cast<unsigned long>(wide)));
    EXPECT_EQ(std::wstring(wide), L"C:\\\x7528\x6237\\winamp.ini");
    const auto ansi = reinterpret_cast<const char*>(query(host::kQueryIniPath));
    ASSERT_TRUE(host::isPointerAnswer(reinterpret_cast<unsigned long>(ansi)));
    EXPECT_EQ(std::string(ansi), standin::ansiFromWide(wide));
    if (GetACP() == 1252) {
        EXPECT_EQ(std::string(ansi), "C:\\??\\winamp.ini");
    }

    EXPECT_EQ(query(host::kSetVolume, static_cast<WPARAM>(host::kGetVolumeParam)), 200);
    EXPECT_EQ(standin::volume(), 200);
    query(host::kSetVolume, 90);
    EXPECT_EQ(query(host::kSetVolume, static_cast<WPARAM>(host::kGetVolumeParam)), 90);
}

class OlderHostTest : public PlayerTest {
  protected:
    void configure(standin::PlayerOptions& options) override {
        options.answerWideIniPath = false;
        options.answerVolume = false;
        options.ansiTitles = standin::AnsiTitles::Unknown;
    }
};

TEST_F(OlderHostTest, KnowsNeitherTheWideIniPathNorTheVolumeQuery) {
    EXPECT_EQ(query(host::kQueryIniPathWide), standin::kUnknownQueryAnswer);
    EXPECT_TRUE(host::isPointerAnswer(static_cast<unsigned long>(query(host::kQueryIniPath))));
    EXPECT_EQ(query(host::kSetVolume, static_cast<WPARAM>(host::kGetVolumeParam)), -1);
    EXPECT_EQ(standin::volume(), host::kHostVolumeMax) << "asking changes nothing";
    EXPECT_EQ(query(host::kQueryEntryTitle, 0), standin::kUnknownQueryAnswer);
    EXPECT_TRUE(
        host::isPointerAnswer(static_cast<unsigned long>(query(host::kQueryEntryTitleWide, 0))));
}

TEST_F(PlayerTest, IndexBelowTheLastEntryIsTheEntryCount) {
    const auto indexAt = [](POINT point) {
        return SendMessageW(standin::playlistWindow(), WM_USER, host::kPlaylistQueryIndexAt,
                            reinterpret_cast<LPARAM>(&point));
    };
    EXPECT_EQ(indexAt(standin::playlistRowPoint(1)), 1);
    EXPECT_EQ(indexAt(standin::playlistRowPoint(5)), 3);
    const POINT leftOfTheList{2, standin::playlistRowPoint(0).y};
    EXPECT_EQ(indexAt(leftOfTheList), -1);
}

// ---- The Open file dialog ----------------------------------------------------------

class EmptyPlaylistTest : public PlayerTest {
  protected:
    void configure(standin::PlayerOptions& options) override { options.titles.clear(); }
};

TEST_F(EmptyPlaylistTest, PlayAsksForAFileAndCancelPlaysNothing) {
    HWND owner = nullptr;
    std::string caption;
    DialogScript script;
    script.then([&](HWND dialog) {
        owner = GetWindow(dialog, GW_OWNER);
        caption = windowText(dialog);
        clickButton(dialog, IDCANCEL);
    });
    standin::sendCommand(host::kCommandPlay);
    EXPECT_EQ(script.actionsRun(), 1) << "no dialog";
    EXPECT_EQ(caption, standin::kOpenFileCaption);
    EXPECT_EQ(owner, standin::mainWindow());
    EXPECT_EQ(standin::playState(), PlayState::Stopped);
    EXPECT_EQ(callbacks(host::kCallbackSongStarted), 0u);
    EXPECT_TRUE(visibleDialogs().empty());
}

TEST_F(EmptyPlaylistTest, AChosenFileIsListedAndPlayed) {
    DialogScript script;
    script.then([](HWND dialog) {
        SetDlgItemTextW(dialog, standin::kOpenFileNameId, L"C:\\Music\\Night Train.mp3");
        clickButton(dialog, IDOK);
    });
    standin::sendCommand(host::kCommandPlay);
    EXPECT_EQ(standin::playState(), PlayState::Playing);
    EXPECT_EQ(standin::wideTitles(), std::vector<std::wstring>{L"Night Train"});
    const auto started = firstCallback(host::kCallbackSongStarted);
    ASSERT_TRUE(started.has_value());
    EXPECT_STREQ(reinterpret_cast<const char*>(started->wParam), "C:\\Music\\Night Train.mp3");
}

// ---- Shut-down ---------------------------------------------------------------------

// Stands in for the plug-in's quit entry, to see the player as quit finds it.
void (*gRealQuit)() = nullptr;
HWND gMainAtStart = nullptr;
bool gWindowsAtQuit = false;
bool gQuitCalled = false;

// Puts the real entry back first: the descriptor lives as long as the library.
void watchedQuit() {
    gQuitCalled = true;
    gWindowsAtQuit = IsWindow(gMainAtStart) || standin::playlistWindow() != nullptr;
    standin::pluginDescriptor()->quit = gRealQuit;
    gRealQuit();
}

class ShutDownTest : public PluginTest {
  protected:
    void prepare() override {
        gRealQuit = descriptor()->quit;
        descriptor()->quit = &watchedQuit;
        gMainAtStart = host();
        gQuitCalled = gWindowsAtQuit = false;
    }
};

TEST_F(ShutDownTest, HostOrderClosesTheWindowsBeforeQuitAndKeepsTheLibrary) {
    standin::sendCommand(host::kCommandPlay);
    standin::pumpPending();
    standin::clearLog();
    ASSERT_TRUE(standin::closePlayer()) << standin::pluginError();
    EXPECT_TRUE(gQuitCalled);
    EXPECT_FALSE(gWindowsAtQuit);
    EXPECT_EQ(standin::playState(), PlayState::Stopped);
    EXPECT_EQ(standin::countMessages(standin::Window::Main, WM_CLOSE), 1u);
    EXPECT_EQ(standin::countMessages(standin::Window::Main, WM_DESTROY), 1u);
    EXPECT_EQ(standin::countMessages(standin::Window::Playlist, WM_DESTROY), 1u);
    EXPECT_EQ(callbacks(host::kCallbackStatusChanged), 0u) << "posted to a window now gone";
    EXPECT_NE(standin::pluginModule(), nullptr);
    EXPECT_FALSE(standin::pluginRunning());

    const std::string ini = standin::iniPath();
    standin::destroyPlayer();
    EXPECT_FALSE(standin::playerExists());
    EXPECT_EQ(GetFileAttributesA(ini.c_str()), INVALID_FILE_ATTRIBUTES);
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST_F(ShutDownTest, DestroyPlayerQuitsWhileTheWindowsStand) {
    standin::destroyPlayer();
    EXPECT_TRUE(gQuitCalled);
    EXPECT_TRUE(gWindowsAtQuit);
}

// A program busy for less than five seconds at a time keeps a send waiting
// while it works and answers it in its pause, and Windows never counts it
// hung: a broadcast cannot pass it by. Watched over two pauses, longer than
// the five seconds that make a program hung.
TEST(BusyProgramTest, KeepsSendsWaitingYetIsNeverCountedHung) {
    constexpr UINT kGlanceMs = 100;
    constexpr UINT kBroadcastBoundMs = 1000; // what a broadcast waits for one window
    constexpr DWORD kSafetyMs = 30000;
    standin::BusyProgram busy;
    ASSERT_TRUE(busy.ok());
    DWORD_PTR answer = 0;
    EXPECT_EQ(
        SendMessageTimeoutA(busy.window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kGlanceMs, &answer), 0)
        << "it answered in the middle of its first busy spell";

    const LONG firstSpell = busy.busySpells();
    bool everHung = false;
    int answered = 0;
    const DWORD start = GetTickCount();
    while (busy.busySpells() < firstSpell + 2 && GetTickCount() - start < kSafetyMs) {
        everHung = everHung || IsHungAppWindow(busy.window()) != FALSE;
        if (SendMessageTimeoutA(busy.window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kBroadcastBoundMs,
                                &answer) != 0)
            ++answered;
    }
    EXPECT_EQ(busy.busySpells(), firstSpell + 2) << "it never paused";
    EXPECT_FALSE(everHung);
    EXPECT_GE(answered, 1) << "it never answered in a pause";
}

} // namespace
