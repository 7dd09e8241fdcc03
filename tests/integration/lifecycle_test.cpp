// The library as the host meets it: its file (imports, export, version
// resource), the descriptor, start-up and shut-down, and what is left behind
// once the host has let the library go.
#include "spine_support.h"

#include "import_table.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <memory>
#include <optional>
#include <set>

using namespace spine;

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::string> exportedNames(HMODULE module) {
    const auto base = reinterpret_cast<const BYTE*>(module);
    const auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    if (dir.VirtualAddress == 0)
        return names;
    const auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
    return names;
}

GetGeneralPurposePluginFn exportedEntry(HMODULE module) {
    return reinterpret_cast<GetGeneralPurposePluginFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, host::kExportName)));
}

} // namespace

// ---- The library file and its descriptor ----------------------------------------

using LibraryTest = PluginTest;

TEST_F(LibraryTest, ImportsOnlyFromSystemLibraries) {
    const std::set<std::string> allowed = {"kernel32.dll", "user32.dll",   "shell32.dll",
                                           "winmm.dll",    "comctl32.dll", "msvcrt.dll"};
    const auto names = importedDllNames(standin::pluginModule());
    EXPECT_FALSE(names.empty());
    for (const std::string& name : names)
        EXPECT_EQ(allowed.count(lowered(name)), 1u) << "imports from " << name;
}

TEST_F(LibraryTest, ExportsOnlyTheUndecoratedEntry) {
    EXPECT_NE(GetProcAddress(standin::pluginModule(), "winampGetGeneralPurposePlugin"), nullptr);
    EXPECT_EQ(exportedNames(standin::pluginModule()),
              std::vector<std::string>{"winampGetGeneralPurposePlugin"});
}

TEST_F(LibraryTest, CarriesItsVersionResource) {
    const std::string path = pluginPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000005u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000005u);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04B0);

    const auto text = [&](const char* name) -> std::optional<std::string> {
        const std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
        char* value = nullptr;
        UINT chars = 0;
        if (!VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars))
            return std::nullopt;
        return value != nullptr && chars > 0 ? std::string(value) : std::string();
    };
    EXPECT_EQ(text("FileDescription"), "Tralmo plugin for winamp");
    EXPECT_EQ(text("ProductName"), "Tralmo plugin for winamp");
    EXPECT_EQ(text("InternalName"), "gen_tralmo.dll");
    EXPECT_EQ(text("OriginalFilename"), "gen_tralmo.dll");
    EXPECT_EQ(text("FileVersion"), "1.0.0.5");
    EXPECT_EQ(text("ProductVersion"), "1.0.0.5");
    EXPECT_EQ(text("CompanyName"), "");
    EXPECT_EQ(text("LegalTrademarks"), "");
}

// Seven 32-bit fields at the offsets Winamp uses, whatever the header shared
// with the stand-in says: the host writes its window and an instance into the
// last two before init, which hooks that window and loads its menu from that
// instance, whichever it is.
class LibraryBeforeInitTest : public PluginTest {
  protected:
    bool initAtSetUp() override { return false; }
};

TEST_F(LibraryBeforeInitTest, DescriptorHoldsItsSevenFields) {
    ASSERT_NE(descriptor(), nullptr);
    auto* field = reinterpret_cast<DWORD_PTR*>(descriptor()); // a 32-bit host
    EXPECT_EQ(field[0], 0x10u);
    ASSERT_NE(field[1], 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(field[1]), "Tralmo v1.0.0.5");
    const auto image = handle(standin::pluginModule());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    for (int entry = 2; entry <= 4; ++entry) // init, config, quit: code of the library's
        EXPECT_TRUE(field[entry] > image && field[entry] < image + nt->OptionalHeader.SizeOfImage)
            << "field " << entry;

    const auto other = handle(GetModuleHandleA(nullptr));
    field[5] = handle(host());
    field[6] = other;
    ASSERT_TRUE(standin::initPlugin());
    EXPECT_FALSE(standin::ownsWindowProc(standin::Window::Main)) << "the host's window not hooked";
    const auto menus = recordedCalls({"LoadMenuA"});
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0].args[0], other);
}

TEST_F(LibraryTest, HandsOutOneDescriptorInEveryState) {
    const auto entry = exportedEntry(standin::pluginModule());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry(), descriptor());
    EXPECT_EQ(entry(), entry());
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(entry(), descriptor());

    // Freshly loaded, the host's two fields are still empty.
    ASSERT_TRUE(standin::unloadPlugin());
    ASSERT_TRUE(standin::loadPlugin(pluginPath())) << standin::pluginError();
    const auto fresh = exportedEntry(standin::pluginModule());
    ASSERT_NE(fresh, nullptr);
    PluginDescriptor* loaded = fresh();
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->hostWindow, nullptr);
    EXPECT_EQ(loaded->moduleInstance, nullptr);
    EXPECT_EQ(standin::describePlugin(), loaded);
    EXPECT_EQ(fresh(), loaded);
}

// ---- Start-up ---------------------------------------------------------------------

struct InitCase {
    const char* name;
    const char* ini;
    bool answerPlaylist;
    bool mainIcon;
    UINT activeMark;
    UINT stopMark;
};

void PrintTo(const InitCase& c, std::ostream* out) {
    *out << c.name;
}

class InitTest : public PluginTest, public testing::WithParamInterface<InitCase> {
  protected:
    void configure(standin::PlayerOptions& options) override {
        options.answerPlaylistWindow = GetParam().answerPlaylist;
    }
    void prepare() override { ASSERT_TRUE(standin::writeIniContent(GetParam().ini)); }
    bool initAtSetUp() override { return false; }
};

TEST_P(InitTest, RunsItsStepsInOrderAndReturnsZero) {
    const InitCase& c = GetParam();
    clearRecordedCalls();
    int result = -1;
    ASSERT_TRUE(standin::initPlugin(&result));
    EXPECT_EQ(result, 0);
    // The Discover broadcast leaves from the link's own thread.
    EXPECT_TRUE(standin_skype::pumpUntil([] {
        return countCalls(recordedCalls(), discoverBroadcast(skypeLink())) == 1 &&
               sendsInFlight() == 0;
    }));
    settleSkypeLink();
    const std::vector<ApiCall> calls = recordedCalls();

    // Every setting is read before the host window is hooked.
    std::size_t hook = 0;
    while (hook < calls.size() && !windowProcSet(host())(calls[hook]))
        ++hook;
    ASSERT_LT(hook, calls.size()) << describeCalls(calls);
    std::size_t reads = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].function.rfind("GetPrivateProfile", 0) != 0)
            continue;
        ++reads;
        EXPECT_LT(i, hook) << describeCall(calls[i]) << " after the hook";
    }
    EXPECT_EQ(reads, 12u); // ten switches and buttons, the exit mood, the volume

    HMENU menuResource = nullptr;
    HMENU popup = nullptr;
    for (const ApiCall& call : calls) {
        if (call.function == "LoadMenuA")
            menuResource = reinterpret_cast<HMENU>(call.result);
        if (call.function == "GetSubMenu")
            popup = reinterpret_cast<HMENU>(call.result);
    }
    ASSERT_NE(popup, nullptr);

    std::vector<Step> steps = {
        // The host names its ini file in UTF-16: the wide functions read it.
        {"ini path query", hostSend(host(), WM_USER, 0, host::kQueryIniPathWide)},
        {"settings read", named("GetPrivateProfileIntW")},
        {"host window hooked", windowProcSet(host())},
        {"discovery timer", timerStarted(host())},
    };
    if (c.mainIcon)
        steps.push_back({"main icon added", trayIcon(NIM_ADD, kMainIconId)});
    for (int i = 0; i < kButtonCount; ++i)
        steps.push_back({"button icon " + std::to_string(i) + " cleared",
                         trayIcon(NIM_DELETE, kFirstButtonIconId + i)});
    steps.push_back({"menu POPMENU loaded", [&](const ApiCall& call) {
                         return call.function == "LoadMenuA" && call.text == "POPMENU" &&
                                call.args[0] == handle(standin::pluginModule());
                     }});
    steps.push_back({"submenu 0 taken", [&](const ApiCall& call) {
                         return call.function == "GetSubMenu" &&
                                call.args[0] == handle(menuResource) && call.args[1] == 0;
                     }});
    steps.push_back({"playlist window query",
                     hostSend(host(), WM_USER, host::kWindowPlaylist, host::kQueryWindow)});
    if (c.answerPlaylist)
        steps.push_back({"playlist window hooked", windowProcSet(playlist())});
    steps.push_back({"Active check mark", menuCheck(IDM_ACTIVE, c.activeMark)});
    steps.push_back({"Stop on call check mark", menuCheck(IDM_STOP_ON_CALL, c.stopMark)});
    steps.push_back({"Discover registered", registered("SkypeControlAPIDiscover")});
    steps.push_back({"Discover broadcast from the link window", discoverBroadcast(skypeLink())});
    expectInOrder(calls, steps);
    EXPECT_NE(skypeLink(), nullptr);

    EXPECT_EQ(countCalls(calls, registered("SkypeControlAPIAttach")), 1u);
    EXPECT_EQ(countCalls(calls, trayIcon(NIM_ADD, kMainIconId)), c.mainIcon ? 1u : 0u);
    EXPECT_EQ(countCalls(calls, windowProcSet(playlist())), c.answerPlaylist ? 1u : 0u);
    EXPECT_EQ(countCalls(calls, named("SetTimer")), 1u);
    EXPECT_EQ(countCalls(calls, anyMenuCheck()), 2u);
    for (const ApiCall& call : calls) {
        if (call.function == "CheckMenuItem") {
            EXPECT_EQ(call.args[0], handle(popup));
        }
        if (call.function == "Shell_NotifyIconA" && call.icon.uID == kMainIconId) {
            EXPECT_EQ(call.icon.hWnd, host());
            EXPECT_EQ(call.icon.uCallbackMessage, kMainTrayCallback);
        }
    }
    EXPECT_FALSE(standin::ownsWindowProc(standin::Window::Main));
    EXPECT_EQ(standin::ownsWindowProc(standin::Window::Playlist), !c.answerPlaylist);
}

INSTANTIATE_TEST_SUITE_P(
    Start, InitTest,
    testing::Values(InitCase{"Defaults", "", true, true, MF_CHECKED, MF_UNCHECKED},
                    InitCase{"TrayIconOff", "[Tralmo]\nTRALMO_SHOW_TRAYICON=0\n", true, false,
                             MF_CHECKED, MF_UNCHECKED},
                    InitCase{"NoPlaylistWindow", "", false, true, MF_CHECKED, MF_UNCHECKED},
                    InitCase{"InactiveStopOnCall",
                             "[Tralmo]\nTRALMO_ACTIVE=0\nTRALMO_STOP_MUSIC=1\n", true, true,
                             MF_UNCHECKED, MF_CHECKED}),
    [](const testing::TestParamInfo<InitCase>& info) { return std::string(info.param.name); });

// ---- Shut-down --------------------------------------------------------------------

struct QuitCase {
    const char* name;
    const char* ini;
    bool discoveryDelivered;
    bool exitMood; // expected: the exit mood is composed and reaches Skype
    bool mainIcon;
};

constexpr char kExitMood[] = "SET PROFILE RICH_MOOD_TEXT Gone fishing";

void PrintTo(const QuitCase& c, std::ostream* out) {
    *out << c.name;
}

// Beside a Skype that answers, so that the exit mood has somewhere to go:
// it attaches, even where the broadcast seemed undelivered.
class QuitTest : public BesideSkypeTest, public testing::WithParamInterface<QuitCase> {
  protected:
    QuitTest() { stage_.ini = GetParam().ini; }
    void prepare() override {
        if (!GetParam().discoveryDelivered) // as a broadcast nobody took
            overrideApi(&SendMessageTimeoutA,
                        [](auto system, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                           UINT flags, UINT timeout, PDWORD_PTR answer) {
                            const LRESULT sent =
                                system(window, message, wParam, lParam, flags, timeout, answer);
                            return window == HWND_BROADCAST ? 0 : sent;
                        });
        BesideSkypeTest::prepare();
    }
};

TEST_P(QuitTest, SendsTheExitMoodSavesThenRemovesTheIcons) {
    const QuitCase& c = GetParam();
    const HWND link = skypeLink();
    const std::size_t seen = standin_skype::recordCount();
    clearRecordedCalls();
    ASSERT_TRUE(standin::quitPlugin());
    const std::vector<ApiCall> calls = recordedCalls();

    // The exit mood has left from the link window before quit returned, and
    // nothing of the link is left.
    const auto records = standin_skype::snapshot(seen).records;
    if (c.exitMood) {
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].text(), kExitMood);
        EXPECT_EQ(records[0].sender, link);
    } else {
        EXPECT_TRUE(records.empty());
    }
    EXPECT_EQ(skypeLink(), nullptr);

    std::vector<Step> steps;
    if (c.exitMood && c.mainIcon)
        steps.push_back({"tooltip emptied for the exit mood", [](const ApiCall& call) {
                             return trayIcon(NIM_MODIFY, kMainIconId)(call) && call.text.empty();
                         }});
    for (const char* key : {"TRALMO_ACTIVE", "TRALMO_STOP_MUSIC", "TRALMO_SHOW_TRAYICON",
                            "TRALMO_ALLOW_HTML", "TRALMO_EXITSETMOOD", "PREV_BUTTON", "PLAY_BUTTON",
                            "PAUSE_BUTTON", "STOP_BUTTON", "NEXT_BUTTON"})
        steps.push_back({std::string("saved ") + key, iniWrite(key)});
    if (c.mainIcon)
        steps.push_back({"main icon removed", trayIcon(NIM_DELETE, kMainIconId)});
    for (int i = 0; i < kButtonCount; ++i)
        steps.push_back({"button icon " + std::to_string(i) + " removed",
                         trayIcon(NIM_DELETE, kFirstButtonIconId + i)});
    expectInOrder(calls, steps);

    EXPECT_EQ(countCalls(calls, copyDataSend()), c.exitMood ? 1u : 0u);
    EXPECT_EQ(countCalls(calls, trayIcon(NIM_MODIFY, kMainIconId)),
              c.exitMood && c.mainIcon ? 1u : 0u);
    EXPECT_EQ(countCalls(calls, named("WritePrivateProfileStringW")), 10u);
    EXPECT_EQ(countCalls(calls, trayIcon(NIM_DELETE, kMainIconId)), c.mainIcon ? 1u : 0u);
    EXPECT_EQ(countCalls(calls, namedAnyOf(kIniReads)), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Stop, QuitTest,
    testing::Values(
        QuitCase{"Defaults", "[Tralmo]\nTRALMO_EXIT_MOOD=Gone fishing\n", true, true, true},
        QuitCase{"SetMoodOnExitOff",
                 "[Tralmo]\nTRALMO_EXITSETMOOD=0\nTRALMO_EXIT_MOOD=Gone fishing\n", true, false,
                 true},
        // Skype attached, whatever the broadcast returned: the exit mood is its.
        QuitCase{"DiscoveryNotDelivered", "[Tralmo]\nTRALMO_EXIT_MOOD=Gone fishing\n", false, true,
                 true},
        QuitCase{"TrayIconOff", "[Tralmo]\nTRALMO_SHOW_TRAYICON=0\nTRALMO_EXIT_MOOD=Gone fishing\n",
                 true, true, false}),
    [](const testing::TestParamInfo<QuitCase>& info) { return std::string(info.param.name); });

// The exit mood is what Skype ends with, whenever quit meets it: right after
// init, or while Skype attaches during quit; and quit keeps its bound while
// the broadcast and the shell hang.
class ExitMoodTest : public BesideSkypeTest {
  protected:
    ExitMoodTest() {
        stage_.ini = "[Tralmo]\nTRALMO_EXIT_MOOD=Gone fishing\n";
        stage_.playing = true;
    }
    bool initAtSetUp() override { return false; }
};

TEST_F(ExitMoodTest, QuitRightAfterInitSetsIt) {
    ASSERT_TRUE(standin::initPlugin());
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(lastSkypeCommand(), kExitMood);
}

// Skype attaches the link again as the exit mood leaves; quit's waits (the
// next song's tooltip hangs in the shell) take the attach, and the new
// session gets the exit mood too, not the song.
TEST_F(ExitMoodTest, ASkypeAttachingDuringQuitGetsItNotTheSong) {
    ASSERT_TRUE(standin::initPlugin());
    ASSERT_TRUE(enterStage(stage_));
    ASSERT_TRUE(holdTheShellOverSong(1));
    settleSkypeLink();
    std::atomic<standin_skype::RequestId> attach{0};
    overrideApi(&SendMessageTimeoutA,
                [&attach](auto system, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                          UINT flags, UINT timeout, PDWORD_PTR answer) {
                    if (message == WM_COPYDATA && attach == 0)
                        attach = standin_skype::requestAttach(standin_skype::kAttachSuccess);
                    return system(window, message, wParam, lParam, flags, timeout, answer);
                });
    const std::size_t before = standin_skype::recordCount();
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_TRUE(standin_skype::waitFor(attach).delivered) << "the attach came after quit";
    EXPECT_EQ(skypeTexts(before),
              (std::vector<std::string>{kExitMood, kProtocolCommand, kExitMood}));
}

// Quit returns while what it waits for still hangs, bounded by its own
// deadline, not by them.
TEST_F(ExitMoodTest, QuitReturnsWhileTheBroadcastAndTheShellStillHang) {
    holdBroadcasts(true);
    ASSERT_TRUE(standin::initPlugin());
    ASSERT_TRUE(standin_skype::pumpUntil([] { return sendsInFlight() == 1; }));
    ASSERT_TRUE(holdTheShellOverSong(1));
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(sendsInFlight(), 1) << "quit waited for the broadcast";
    EXPECT_EQ(trayCallsInFlight(), 1) << "quit waited for the shell";
}

// ---- After shut-down ---------------------------------------------------------------

// Unknown queries carry their code back: the player's own answer shows.
class UnloadTest : public PluginTest {
  protected:
    void configure(standin::PlayerOptions& options) override {
        options.unknownQueries = standin::UnknownQueries::Tagged;
    }
};

TEST_F(UnloadTest, PlayerWindowsKeepWorkingOnceTheLibraryIsGone) {
    settleSkypeLink(); // init's discovery
    clearRecordedCalls();
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(skypeLink(), nullptr);
    // Nothing may point into the library once the host frees it.
    EXPECT_TRUE(standin::ownsWindowProc(standin::Window::Main));
    EXPECT_TRUE(standin::ownsWindowProc(standin::Window::Playlist));
    const std::vector<ApiCall> atQuit = recordedCalls();
    EXPECT_EQ(countCalls(atQuit, timerKilled(host())), 1u) << describeCalls(atQuit);
    EXPECT_EQ(countCalls(atQuit, named("DestroyMenu")), 1u) << describeCalls(atQuit);

    // Quit but still loaded: the plug-in hears nothing more.
    clearRecordedCalls();
    standin::setPlayState(standin::PlayState::Playing);
    standin::sendSongStarted();
    sendToHost(WM_TIMER, kDiscoveryTimer, 0);
    sendToHost(WM_COMMAND, IDM_ACTIVE, 0);
    sendToHost(kMainTrayCallback, 0, WM_RBUTTONUP);
    EXPECT_TRUE(recordedCalls().empty()) << describeCalls(recordedCalls());

    ASSERT_TRUE(standin::unloadPlugin());
    standin::clearLog();
    EXPECT_EQ(sendToHost(WM_USER, 0, 4242), standin::kUnknownQueryTag | 4242);
    EXPECT_EQ(sendToHost(WM_USER, 0, host::kQueryPlayState), host::kStatePlaying);
    standin::sendCommand(host::kCommandPause);
    EXPECT_EQ(standin::playState(), standin::PlayState::Paused);
    standin::sendCommand(host::kCommandNext);
    EXPECT_EQ(standin::countQueries(host::kCallbackSongStarted), 1u);
    sendToHost(WM_TIMER, kDiscoveryTimer, 0);
    sendToHost(kMainTrayCallback, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(standin::countMessages(standin::Window::Main, WM_TIMER), 1u);
    EXPECT_EQ(SendMessageA(playlist(), WM_USER, host::kPlaylistQueryCount, 0), 3);
    const POINT row = standin::playlistRowPoint(0);
    SendMessageA(playlist(), WM_RBUTTONUP, 0, MAKELPARAM(row.x, row.y));
    SendMessageA(playlist(), WM_COMMAND, host::kPlaylistCommandChat, 0);
    EXPECT_EQ(standin::countCommands(standin::Window::Playlist, host::kPlaylistCommandChat), 1u);
    standin::pumpFor(50);

    DestroyWindow(host());
    EXPECT_EQ(standin::mainWindow(), nullptr);
    EXPECT_EQ(standin::playlistWindow(), nullptr);
    EXPECT_EQ(standin::countMessages(standin::Window::Main, WM_DESTROY), 1u);
    EXPECT_EQ(standin::countMessages(standin::Window::Playlist, WM_DESTROY), 1u);
}

namespace {

WNDPROC gBehindTestSubclass = nullptr;
int gTestSubclassCalls = 0;

LRESULT CALLBACK testSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ++gTestSubclassCalls;
    return CallWindowProcA(gBehindTestSubclass, window, message, wParam, lParam);
}

} // namespace

// Pins the library into the process, so it runs in a process of its own.
using PinnedLibraryTest = UnloadTest;

TEST_F(PinnedLibraryTest, LaterSubclassKeepsTheChainAndTheLibraryAndQuitSilencesThePlugin) {
    std::unique_ptr<standin_skype::Running> skype;
    ASSERT_TRUE(startSkypeAndAttach(skype));

    // Running: a song start is published and a ringing call pauses.
    standin::setPlayState(standin::PlayState::Playing);
    std::size_t records = standin_skype::recordCount();
    standin::sendSongStarted();
    EXPECT_TRUE(waitForSkypeRecords(records + 1));
    sendToHost(WM_COMMAND, IDM_STOP_ON_CALL, 0);
    EXPECT_EQ(skypeTells("CALL 7 STATUS RINGING"), 1);
    EXPECT_EQ(standin::playState(), standin::PlayState::Paused);
    EXPECT_TRUE(waitForSkypeRecords(records + 2)); // the pause is published
    settleSkypeLink();
    standin::setPlayState(standin::PlayState::Playing);

    // The hook's own address, asked in the window's character set: through the
    // other one Windows hands out a translating stand-in instead.
    const auto hookCode =
        reinterpret_cast<LPCSTR>(IsWindowUnicode(host()) ? GetWindowLongPtrW(host(), GWLP_WNDPROC)
                                                         : GetWindowLongPtrA(host(), GWLP_WNDPROC));
    gTestSubclassCalls = 0;
    gBehindTestSubclass = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(host(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&testSubclass)));
    const WNDPROC hostHook = gBehindTestSubclass;
    clearRecordedCalls();
    ASSERT_TRUE(standin::quitPlugin());

    EXPECT_EQ(GetWindowLongPtrA(host(), GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&testSubclass));
    EXPECT_EQ(countCalls(recordedCalls(), windowProcSet(host())), 0u);
    EXPECT_TRUE(standin::ownsWindowProc(standin::Window::Playlist));
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_ACTIVE"), "1");
    EXPECT_EQ(standin::readIniString("Tralmo", "TRALMO_STOP_MUSIC"), "1");

    // The host frees the library, but the chain still reaches the hook: it stays mapped.
    const HMODULE library = standin::pluginModule();
    ASSERT_TRUE(standin::unloadPlugin());
    HMODULE stillThere = nullptr;
    EXPECT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, hookCode, &stillThere));
    EXPECT_EQ(stillThere, library);

    // The hook still hears everything, but nothing reaches Skype any more,
    // and Skype's window to us went with quit: a call pauses nothing.
    standin::clearLog();
    records = standin_skype::recordCount();
    standin::sendSongStarted();
    EXPECT_GT(standin::countQueries(host::kQueryEntryTitle), 0u);
    settleSkypeLink();
    EXPECT_EQ(standin_skype::recordCount(), records);
    EXPECT_EQ(skypeLink(), nullptr);
    EXPECT_EQ(skypeTells("CALL 8 STATUS RINGING"), kUndelivered);
    EXPECT_EQ(standin::playState(), standin::PlayState::Playing);
    EXPECT_EQ(standin::countCommands(standin::Window::Main, host::kCommandPause), 0u);
    EXPECT_GT(gTestSubclassCalls, 0);

    // The test takes its subclass out; the player's destruction reaches the hook.
    SetWindowLongPtrA(host(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hostHook));
    const HWND main = host();
    clearRecordedCalls();
    DestroyWindow(main);
    EXPECT_EQ(countCalls(recordedCalls(), timerKilled(main)), 1u);
    EXPECT_EQ(countCalls(recordedCalls(), named("DestroyMenu")), 1u);
    EXPECT_EQ(standin::countMessages(standin::Window::Main, WM_DESTROY), 1u);
}

// ---- The pin from wherever the library lies ----------------------------------------

namespace {

constexpr wchar_t kPinFolderPrefix[] = L"tralmo_pin_";

std::wstring tempFolder() {
    wchar_t path[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, path);
    return path;
}

// A pinned library stays locked until its process ends: each run clears the
// folders that earlier runs had to leave behind.
void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(folder + L"\\" + name);
            else
                DeleteFileW((folder + L"\\" + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

void removeEarlierPinFolders() {
    const std::wstring temp = tempFolder();
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((temp + kPinFolderPrefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
        removeTree(temp + found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
}

// A copy of the library under `tail` (one or more folder names) in a folder
// of this process's own; empty when it cannot be made.
std::wstring copiedPlugin(const std::wstring& tail) {
    removeEarlierPinFolders();
    std::wstring folder = tempFolder() + kPinFolderPrefix + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    for (std::size_t start = 0; start < tail.size();) {
        const std::size_t end = std::min(tail.find(L'\\', start), tail.size());
        folder += L"\\" + tail.substr(start, end - start);
        CreateDirectoryW(folder.c_str(), nullptr);
        start = end + 1;
    }
    const std::wstring copy = folder + L"\\gen_tralmo.dll";
    if (!CopyFileW(standin::wideFromAnsi(pluginPath()).c_str(), copy.c_str(), FALSE))
        return {};
    return copy;
}

} // namespace

// The host frees the library while a later subclass still reaches its hook:
// the pin must load the library by its own path, wherever that lies.
class PinnedPathTest : public PluginTest {
  protected:
    bool initAtSetUp() override { return false; }

    void expectPinnedFrom(const std::wstring& tail) {
        const std::wstring copy = copiedPlugin(tail);
        ASSERT_FALSE(copy.empty()) << "cannot copy the library";
        ASSERT_TRUE(standin::unloadPlugin());
        ASSERT_TRUE(standin::loadPlugin(copy)) << standin::pluginError();
        startRecordingApi(standin::pluginModule());
        ASSERT_NE(standin::describePlugin(), nullptr);
        ASSERT_TRUE(standin::initPlugin());

        const auto hookCode = reinterpret_cast<LPCWSTR>(
            IsWindowUnicode(host()) ? GetWindowLongPtrW(host(), GWLP_WNDPROC)
                                    : GetWindowLongPtrA(host(), GWLP_WNDPROC));
        gBehindTestSubclass = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(host(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&testSubclass)));
        ASSERT_TRUE(standin::quitPlugin());
        const HMODULE library = standin::pluginModule();
        ASSERT_TRUE(standin::unloadPlugin());

        HMODULE stillThere = nullptr;
        EXPECT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                       hookCode, &stillThere))
            << "the library was freed while a subclass still reaches its hook";
        EXPECT_EQ(stillThere, library);
        // Only a mapped hook may be called; the player's own procedure goes
        // back either way when the player is destroyed.
        if (stillThere != nullptr) {
            EXPECT_EQ(sendToHost(WM_USER, 0, host::kQueryPlayState), 0);
        }
    }
};

// A player installed in a folder outside the ANSI code page: the folder has
// no ANSI name to load the library by.
TEST_F(PinnedPathTest, FromAFolderOutsideTheCodePage) {
    const std::wstring folder = L"\x97F3\x697D\x30D7\x30EC\x30FC\x30E4\x30FC"; // 音楽プレーヤー
    ASSERT_NE(standin::ansiFromWide(folder).find('?'), std::string::npos)
        << "the code page holds the folder's name: nothing to show";
    expectPinnedFrom(folder);
}

// A path longer than the first buffer the module name is read into.
TEST_F(PinnedPathTest, FromAPathLongerThanMaxPath) {
    const std::wstring level(90, L'p');
    expectPinnedFrom(level + L"\\" + level + L"\\" + level);
}
