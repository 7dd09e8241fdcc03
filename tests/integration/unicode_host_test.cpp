// The plug-in in a host built as Winamp is: Unicode windows whose caption shows
// the song, titles in UTF-16 beside their ANSI copies, a stream's titles, and
// a shut-down that destroys the main window before quit.
#include "harness.h"

#include <cstring>

namespace {

namespace sk = standin_skype;
using standin::PlayState;

// Both lie outside code page 1252 (and 1251 holds only the first).
const std::wstring kCyrillic = L"\x0412\x0435\x0440\x0430 - \x0417\x0438\x043C\x0430";
const std::wstring kJapanese = L"\x5742\x672C\x9F8D\x4E00 - \x6226\x5834";
constexpr char kRich[] = "SET PROFILE RICH_MOOD_TEXT ";
constexpr char kExitMood[] = "Gone fishing";

std::string utf8(const std::wstring& text) {
    return standin::utf8FromWide(text);
}

std::wstring caption(int position, const std::wstring& title) {
    return std::to_wstring(position) + L". " + title + standin::kCaptionSuffix;
}

class UnicodeHostTest : public BesideSkypeTest {
  protected:
    UnicodeHostTest() {
        stage_.ini = std::string("[Tralmo]\nTRALMO_EXIT_MOOD=") + kExitMood + "\n";
    }
    void configure(standin::PlayerOptions& options) override {
        options.wideTitles = {kCyrillic, kJapanese, std::wstring(450, L'\x00E9')};
    }

    // Waits until Skype's last mood is the one composed for `title` (UTF-8).
    static testing::AssertionResult skypeShows(const std::string& title) {
        if (waitForLastSkypeCommand(kRich + title))
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << "Skype holds \"" << lastSkypeCommand() << "\"";
    }

    void playEntry(int position) {
        standin::setPosition(position);
        standin::setPlayState(PlayState::Playing, standin::Notify::SongStarted);
        standin::pumpPending();
    }
};

// The host shows the song in its caption and taskbar entry: subclassing its
// Unicode windows through the ANSI functions would turn them ANSI and every
// character outside the code page into "?".
TEST_F(UnicodeHostTest, TheCaptionKeepsEveryCharacter) {
    EXPECT_TRUE(IsWindowUnicode(host()));
    EXPECT_TRUE(IsWindowUnicode(playlist()));
    std::size_t subclassed = 0;
    for (const ApiCall& call : recordedCalls({"SetWindowLongW"}))
        subclassed += static_cast<int>(call.args[1]) == GWL_WNDPROC ? 1 : 0;
    EXPECT_EQ(subclassed, 2u) << "the main and the playlist window, in their character set";
    EXPECT_TRUE(recordedCalls({"SetWindowLongA"}).empty());

    playEntry(0);
    EXPECT_EQ(standin::mainCaption(), caption(1, kCyrillic));
    playEntry(1);
    EXPECT_EQ(standin::mainCaption(), caption(2, kJapanese));
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(standin::mainCaption(), caption(2, kJapanese));
    EXPECT_TRUE(IsWindowUnicode(host()));
    EXPECT_TRUE(IsWindowUnicode(playlist()));
}

class AnsiHostTest : public UnicodeHostTest {
  protected:
    void configure(standin::PlayerOptions& options) override {
        UnicodeHostTest::configure(options);
        options.windows = standin::Charset::Ansi;
    }
};

TEST_F(AnsiHostTest, AnAnsiHostKeepsTheAnsiFunctions) {
    EXPECT_FALSE(IsWindowUnicode(host()));
    EXPECT_EQ(recordedCalls({"SetWindowLongA"}).size(), 2u);
    EXPECT_TRUE(recordedCalls({"SetWindowLongW"}).empty());
    playEntry(1);
    EXPECT_TRUE(skypeShows(utf8(kJapanese)));
}

// Winamp offers the title in UTF-16: every character reaches Skype. The tray
// tooltip keeps the host's ANSI text.
TEST_F(UnicodeHostTest, TheWideTitleReachesSkypeWhole) {
    playEntry(1);
    EXPECT_TRUE(skypeShows(utf8(kJapanese)));
    EXPECT_TRUE(waitForTrayTip(standin::titles()[1]));
    EXPECT_NE(trayTips().back().find('?'), std::string::npos) << "no Japanese in the code page";

    // Beyond the 399 characters of the ANSI text.
    playEntry(2);
    EXPECT_TRUE(skypeShows(utf8(std::wstring(450, L'\x00E9'))));

    // An older host without the wide title: its ANSI text, cut as it cuts it.
    standin::setAnswerWideTitles(false);
    playEntry(1);
    EXPECT_TRUE(skypeShows(utf8(standin::wideFromAnsi(standin::titles()[1]))));
    playEntry(2);
    EXPECT_TRUE(skypeShows(utf8(std::wstring(399, L'\x00E9'))));
}

// A host that gives the wide title but no ANSI one: 0, or the 1 of a query it
// does not know, which is no text to read.
class NoAnsiTitleTest : public UnicodeHostTest,
                        public testing::WithParamInterface<standin::AnsiTitles> {
  protected:
    void configure(standin::PlayerOptions& options) override {
        UnicodeHostTest::configure(options);
        options.wideTitles = {kCafe, kJapanese};
        options.ansiTitles = GetParam();
    }
    const std::wstring kCafe = L"Caf\x00E9 del Mar";
};

TEST_P(NoAnsiTitleTest, TheTooltipIsMadeFromTheWideTitle) {
    playEntry(0);
    // The mood leaves from the plug-in's thread: wait for what Skype ends with.
    EXPECT_TRUE(skypeShows(utf8(kCafe)));
    EXPECT_TRUE(waitForTrayTip("Caf\xE9 del Mar"));
    playEntry(1);
    EXPECT_TRUE(skypeShows(utf8(kJapanese)));
    EXPECT_TRUE(waitForTrayTip(standin::ansiFromWide(kJapanese)));
}

INSTANTIATE_TEST_SUITE_P(Hosts, NoAnsiTitleTest,
                         testing::Values(standin::AnsiTitles::Null, standin::AnsiTitles::Unknown),
                         [](const testing::TestParamInfo<standin::AnsiTitles>& info) {
                             return info.param == standin::AnsiTitles::Null ? "AnswersZero"
                                                                            : "DoesNotKnowTheQuery";
                         });

// Internet radio: the host reports a new title with a status change only.
TEST_F(UnicodeHostTest, AStreamTitleReachesSkype) {
    playEntry(0);
    ASSERT_TRUE(skypeShows(utf8(kCyrillic)));
    settleSkypeLink();
    const std::size_t before = skypeCommandCount();
    standin::updateStreamTitle(kJapanese);
    standin::pumpPending();
    EXPECT_TRUE(skypeShows(utf8(kJapanese)));
    EXPECT_EQ(standin::mainCaption(), caption(1, kJapanese));

    standin::setVolume(50); // a status change too: nothing new to say
    standin::pumpPending();
    settleSkypeLink();
    EXPECT_EQ(skypeCommandCount(), before + 1);
}

// ---- Shut-down in either order ------------------------------------------------

struct OrderCase {
    const char* name;
    bool hostOrder; // the host's: the main window goes, then quit
};

class ShutDownOrderTest : public UnicodeHostTest, public testing::WithParamInterface<OrderCase> {};

// The exit mood leaves from the link window, whichever comes first, and only
// once; the bytes are the same either way. Nothing of the link outlives quit.
TEST_P(ShutDownOrderTest, TheExitMoodLeavesOnceFromTheLinkWindow) {
    playEntry(1);
    ASSERT_TRUE(skypeShows(utf8(kJapanese)));
    settleSkypeLink();
    const HWND main = host();
    const HWND link = skypeLink();
    ASSERT_NE(link, nullptr);
    const std::size_t before = sk::recordCount();
    clearRecordedCalls();
    if (GetParam().hostOrder) {
        ASSERT_TRUE(standin::closePlayer());
        EXPECT_FALSE(IsWindow(main)) << "the host's window went before quit";
    } else {
        ASSERT_TRUE(standin::quitPlugin());
    }
    EXPECT_FALSE(skypeLinkRemains());
    WNDCLASSA linkClass{};
    EXPECT_FALSE(GetClassInfoA(standin::pluginModule(), kSkypeLinkClass, &linkClass))
        << "the link's window class outlives quit";
    if (!GetParam().hostOrder)
        standin::destroyPlayer(); // the windows go after quit: no second exit mood
    std::vector<ApiCall> sends;
    for (const ApiCall& call : recordedCalls({"SendMessageTimeoutA"}))
        if (call.args[1] == WM_COPYDATA)
            sends.push_back(call);
    // Stopping may publish "stopped" first; the exit mood is the last word.
    ASSERT_FALSE(sends.empty());
    EXPECT_EQ(sends.back().args[0], reinterpret_cast<DWORD_PTR>(sk::skypeWindow()));
    EXPECT_EQ(sends.back().args[2], reinterpret_cast<DWORD_PTR>(link));
    EXPECT_TRUE(sends.back().wParamWindowAlive) << "sent from a window that no longer exists";

    const auto records = sk::snapshot(before).records;
    ASSERT_FALSE(records.empty());
    std::size_t exitMoods = 0;
    for (const auto& record : records)
        exitMoods += record.text() == kRich + std::string(kExitMood) ? 1 : 0;
    EXPECT_EQ(exitMoods, 1u);
    EXPECT_EQ(records.back().sender, link);
    EXPECT_EQ(records.back().text(), kRich + std::string(kExitMood));
    EXPECT_TRUE(records.back().endsWithTwoZeros());
    EXPECT_EQ(records.back().cbData, std::string(kRich).size() + std::strlen(kExitMood) + 2);
}

INSTANTIATE_TEST_SUITE_P(Orders, ShutDownOrderTest,
                         testing::Values(OrderCase{"HostOrder", true},
                                         OrderCase{"QuitFirst", false}),
                         [](const testing::TestParamInfo<OrderCase>& info) {
                             return info.param.name;
                         });

} // namespace
