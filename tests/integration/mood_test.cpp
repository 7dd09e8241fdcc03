// The mood text as Skype receives it, byte for byte, and when it is composed.
#include "harness.h"

#include <optional>

namespace {

namespace sk = standin_skype;

constexpr char kRich[] = "SET PROFILE RICH_MOOD_TEXT ";
constexpr char kPlain[] = "SET PROFILE MOOD_TEXT ";
constexpr std::size_t kTipChars = 127;

std::string bytesOf(const sk::CopyDataRecord& record) {
    return std::string(record.bytes.begin(), record.bytes.end());
}

// The record of one mood command: its UTF-8 bytes, two zero bytes, dwData 0,
// from the plug-in's link window.
testing::AssertionResult isMoodRecord(const sk::CopyDataRecord& record, const std::string& command,
                                      HWND link) {
    const std::string expected = command + std::string(2, '\0');
    const std::string actual = bytesOf(record);
    if (record.sender != link || record.dwData != 0 || record.nullData)
        return testing::AssertionFailure() << "sender, dwData or lpData wrong";
    if (record.cbData != expected.size())
        return testing::AssertionFailure()
               << "cbData " << record.cbData << ", expected " << expected.size();
    if (actual != expected) {
        std::size_t at = 0;
        while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
            ++at;
        return testing::AssertionFailure() << "bytes differ at " << at << " of " << expected.size()
                                           << ": got \"" << record.escaped().substr(0, 300) << "\"";
    }
    return testing::AssertionSuccess();
}

class MoodTest : public BesideSkypeTest {
  protected:
    void configure(standin::PlayerOptions& options) override { options.titles = titles_; }

    void SetUp() override {
        BesideSkypeTest::SetUp();
        link_ = skypeLink();
    }

    void setTemplate(const std::string& text) {
        standin::writeIniContent("[Tralmo]\nTRALMO_USER_STRING=" + text + "\n");
    }

    std::vector<std::string> titles_{"Song"};
    HWND link_ = nullptr; // it goes at quit
};

enum class Action { SongStarts, Pauses, Quits };

struct Case {
    const char* name;
    std::string ini;
    std::string title;
    Action action;
    std::optional<std::string> command; // nothing: no command at all
};

std::string iniWith(const std::string& lines) {
    return "[Tralmo]\n" + lines;
}

const std::string k511(502, 'x'); // 502 + 9 = 511: the placeholder just fits

const Case kCases[] = {
    {"DefaultTemplateRich", "", "Song", Action::SongStarts, std::string(kRich) + "Song"},
    {"DefaultTemplatePlain", iniWith("TRALMO_ALLOW_HTML=0\n"), "Song", Action::SongStarts,
     std::string(kPlain) + "Song"},
    {"ExampleTemplatePausedPlain",
     iniWith("TRALMO_ALLOW_HTML=0\nTRALMO_USER_STRING=winamp [%state%]:[%title%]\n"), "Song",
     Action::Pauses, std::string(kPlain) + "winamp paused:Song"},
    {"ExampleTemplatePausedRich", iniWith("TRALMO_USER_STRING=winamp [%state%]:[%title%]\n"),
     "Song", Action::Pauses, std::string(kRich) + "winamp paused:Song"},
    {"TitleTwice", iniWith("TRALMO_USER_STRING=[%title%] [%state%] [%title%]\n"), "Song",
     Action::SongStarts, std::string(kRich) + "Song playing Song"},
    {"TitleHoldingStatePlaceholder", "", "Live [%state%]", Action::SongStarts,
     std::string(kRich) + "Live playing"},
    {"TitleHoldingTitlePlaceholder", iniWith("TRALMO_USER_STRING=[%title%]|[%title%]\n"),
     "a[%title%]b", Action::SongStarts, std::string(kRich) + "a[%title%]b|a[%title%]b"},
    {"TemplateOf511Kept", iniWith("TRALMO_USER_STRING=" + k511 + "[%title%]tail\n"), "Song",
     Action::SongStarts, std::string(kRich) + k511 + "Song"},
    {"TemplateCutAt511", iniWith("TRALMO_USER_STRING=" + k511 + "x[%title%]\n"), "Song",
     Action::SongStarts, std::string(kRich) + k511 + "x[%title%"},
    {"ExitMoodPlain", iniWith("TRALMO_ALLOW_HTML=0\nTRALMO_EXIT_MOOD=winamp [%state%]:[%title%]\n"),
     "Song", Action::Quits, std::string(kPlain) + "winamp  :"},
    {"EmptyExitMoodStillSent", iniWith("TRALMO_ALLOW_HTML=0\n"), "Song", Action::Quits,
     std::string(kPlain)},
    {"ExitMoodDefaults", "", "Song", Action::Quits, std::string(kRich)},
    {"NoExitMoodWhenSwitchedOff", iniWith("TRALMO_EXITSETMOOD=0\nTRALMO_EXIT_MOOD=bye\n"), "Song",
     Action::Quits, std::nullopt},
};

class MoodBytesTest : public MoodTest, public testing::WithParamInterface<Case> {
  protected:
    MoodBytesTest() {
        stage_.ini = GetParam().ini;
        titles_ = {GetParam().title};
    }
};

TEST_P(MoodBytesTest, ReachesSkypeExactly) {
    const Case& c = GetParam();
    ASSERT_EQ(skypeCommandCount(), 0u);
    switch (c.action) {
    case Action::SongStarts:
        standin::sendSongStarted();
        break;
    case Action::Pauses:
        standin::setPlayState(standin::PlayState::Paused, standin::Notify::StatusChanged);
        standin::pumpPending(); // the host posts the status callback
        break;
    case Action::Quits:
        ASSERT_TRUE(standin::quitPlugin());
        break;
    }
    if (!c.command) {
        EXPECT_EQ(skypeCommandsSettled(), 0u);
        return;
    }
    ASSERT_TRUE(waitForSkypeCommands(1));
    ASSERT_EQ(skypeCommandsSettled(), 1u);
    EXPECT_TRUE(isMoodRecord(skypeCommands()[0], *c.command, link_));
    if (c.action == Action::Quits) {
        EXPECT_EQ(trayTips(), std::vector<std::string>{""}) << "no title on exit";
    }
}

INSTANTIATE_TEST_SUITE_P(Moods, MoodBytesTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST_F(MoodTest, TooltipTakes127CharactersAndFollowsEvenWhenInactive) {
    std::string title;
    while (title.size() < 200)
        title += "Song " + std::to_string(title.size()) + " ";
    title.resize(200);
    standin::setTitles({title});

    standin::sendSongStarted();
    ASSERT_TRUE(waitForSkypeCommands(1));
    EXPECT_TRUE(isMoodRecord(skypeCommands()[0], kRich + title, link_));
    EXPECT_TRUE(waitForTrayTip(title.substr(0, kTipChars)));
    EXPECT_EQ(trayTips(), std::vector<std::string>{title.substr(0, kTipChars)});

    sendToHost(WM_COMMAND, 104, 0); // "Active" off
    standin::setTitles({"Other"});
    standin::sendSongStarted();
    EXPECT_TRUE(waitForTrayTip("Other"));
    EXPECT_EQ(skypeCommandsSettled(), 1u);

    sendToHost(WM_COMMAND, 104, 0); // on again: nothing is composed by that alone
    EXPECT_EQ(skypeCommandsSettled(), 1u);
}

TEST_F(MoodTest, TitleOf64KiBArrivesWhole) {
    std::string title;
    for (int i = 0; title.size() < 64 * 1024; ++i)
        title += static_cast<char>('a' + i % 26);
    standin::setTitles({title});
    setTemplate("<[%title%]> [%state%]");

    standin::sendSongStarted();
    ASSERT_TRUE(waitForSkypeCommands(1));
    EXPECT_EQ(skypeCommandsSettled(), 1u);
    EXPECT_TRUE(isMoodRecord(skypeCommands()[0], kRich + ("<" + title + "> playing"), link_));
}

std::size_t templateReads() {
    std::size_t reads = 0;
    for (const ApiCall& call : recordedCalls(kIniReads))
        reads += call.text == "Tralmo/TRALMO_USER_STRING" ? 1 : 0;
    return reads;
}

// Songs change far more often than the ini file: the template is read again
// only once the file has changed, and every change shows at the next song.
TEST_F(MoodTest, TheTemplateIsReadAgainOnlyWhenTheIniFileChanged) {
    const std::vector<std::string> titles = {"One", "Two", "Three"};
    standin::setTitles(titles);
    auto play = [&](int entry, const std::string& prefix) {
        playSong(entry);
        return waitForLastSkypeCommand(kRich + prefix + titles[static_cast<std::size_t>(entry)]);
    };
    setTemplate("Now: [%title%]");
    ASSERT_TRUE(stampFile(standin::iniPath(), -1));
    clearRecordedCalls();
    for (int entry = 0; entry < 3; ++entry)
        EXPECT_TRUE(play(entry, "Now: ")) << lastSkypeCommand();
    EXPECT_EQ(templateReads(), 1u) << "an unchanged file gives the same template";

    // An editor saves the file: it may save again within its clock's step,
    // so a file written just now is read at every song until it settles (a
    // stamp ahead of our clock, as on a share, keeps it unsettled here).
    setTemplate("Air: [%title%]");
    ASSERT_TRUE(stampFile(standin::iniPath(), 1));
    EXPECT_TRUE(play(0, "Air: ")) << lastSkypeCommand();
    EXPECT_TRUE(play(1, "Air: ")) << lastSkypeCommand();
    EXPECT_EQ(templateReads(), 3u);

    // Settled again, then changed to a template of the same length.
    ASSERT_TRUE(stampFile(standin::iniPath(), -1));
    EXPECT_TRUE(play(2, "Air: ")) << lastSkypeCommand();
    setTemplate("Out: [%title%]");
    ASSERT_TRUE(stampFile(standin::iniPath(), -1));
    EXPECT_TRUE(play(0, "Out: ")) << lastSkypeCommand();
    EXPECT_TRUE(play(1, "Out: ")) << lastSkypeCommand();
    EXPECT_EQ(templateReads(), 5u);
}

// The shell that shows the tooltip is another program: while it hangs, the
// music and Skype go on, and the tooltip catches up with the latest song.
TEST_F(MoodTest, AHungShellHoldsNeitherThePlayerNorSkype) {
    const std::vector<std::string> titles = {"One", "Two", "Three"};
    standin::setTitles(titles);
    ASSERT_TRUE(holdTheShellOverSong(0));
    for (int entry = 1; entry < 3; ++entry)
        playSong(entry);
    EXPECT_TRUE(waitForLastSkypeCommand(kRich + titles[2])) << lastSkypeCommand();
    EXPECT_EQ(trayCallsInFlight(), 1) << "the first tooltip still waits for the shell";

    hangShellUpdates(false);
    EXPECT_TRUE(waitForTrayTip(titles[2]));
    EXPECT_EQ(trayTips(), (std::vector<std::string>{titles[0], titles[2]}))
        << "a tooltip overtaken while it waited is not shown";

    // Quit does not wait long for a hung shell either: the exit mood leaves.
    hangShellUpdates(true);
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(lastSkypeCommand(), std::string(kRich));
    EXPECT_TRUE(standin::pumpUntil([] { return trayCallsInFlight() == 1; }, 5000))
        << "the exit tooltip still waits for the shell";
    hangShellUpdates(false);
    EXPECT_TRUE(waitForTrayTip(""));
}

TEST_F(MoodTest, PollComposesOnlyWhenTheStateChanges) {
    setTemplate("[%title%] [%state%]");
    standin::sendStatusChanged();
    EXPECT_EQ(skypeCommandsSettled(), 0u) << "stopped right after load is no change";

    standin::setPlayState(standin::PlayState::Paused, standin::Notify::StatusChanged);
    standin::pumpPending();
    ASSERT_TRUE(waitForSkypeCommands(1));
    EXPECT_EQ(lastSkypeCommand(), std::string(kRich) + "Song paused");
    standin::sendStatusChanged();
    EXPECT_EQ(skypeCommandsSettled(), 1u);

    // A song start composes Playing without the poll recording it.
    standin::setPlayState(standin::PlayState::Playing);
    standin::sendSongStarted();
    ASSERT_TRUE(waitForSkypeCommands(2));
    EXPECT_EQ(lastSkypeCommand(), std::string(kRich) + "Song playing");
    standin::sendStatusChanged();
    ASSERT_TRUE(waitForSkypeCommands(3));
    EXPECT_EQ(lastSkypeCommand(), std::string(kRich) + "Song playing");
    standin::sendStatusChanged();
    EXPECT_EQ(skypeCommandsSettled(), 3u);
}

TEST_F(MoodTest, NoTitleSendsNothingButTheStateIsRecorded) {
    standin::setPosition(5); // outside the playlist: the host names no title
    standin::sendSongStarted();
    standin::setPlayState(standin::PlayState::Paused, standin::Notify::StatusChanged);
    standin::pumpPending();
    EXPECT_EQ(skypeCommandsSettled(), 0u);
    EXPECT_TRUE(trayTips().empty());

    standin::setPosition(0);
    standin::sendStatusChanged();
    EXPECT_EQ(skypeCommandsSettled(), 0u) << "Paused was recorded although nothing was sent";
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::StatusChanged);
    standin::pumpPending();
    ASSERT_TRUE(waitForSkypeCommands(1));
    EXPECT_EQ(skypeCommandsSettled(), 1u);
    EXPECT_EQ(lastSkypeCommand(), std::string(kRich) + "Song");
}

// "Привет" in code page 1251, from a host that names titles only in its ANSI
// code page: the plug-in converts them itself.
class CyrillicMoodTest : public MoodTest {
  protected:
    CyrillicMoodTest() { titles_ = {"\xCF\xF0\xE8\xE2\xE5\xF2"}; }
    void configure(standin::PlayerOptions& options) override {
        MoodTest::configure(options);
        options.answerWideTitles = false;
    }
};

// Run by its own test entry under code page 1251; without it the test means nothing.
TEST_F(CyrillicMoodTest, TitleArrivesAsUtf8) {
    ASSERT_EQ(GetACP(), 1251u) << "the test entry asks for the ANSI code page 1251";
    standin::sendSongStarted();
    ASSERT_TRUE(waitForSkypeCommands(1));
    EXPECT_TRUE(isMoodRecord(
        skypeCommands()[0], std::string(kRich) + "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
        link_));
    EXPECT_TRUE(waitForTrayTip(titles_[0]));
    EXPECT_EQ(trayTips(), std::vector<std::string>{titles_[0]}) << "the tooltip stays ANSI";
}

} // namespace
