#include "mood/mood_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <string>

namespace {

const std::string kPlain = "SET PROFILE MOOD_TEXT ";
const std::string kRich = "SET PROFILE RICH_MOOD_TEXT ";

std::string repeated(std::string_view piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out.append(piece);
    return out;
}

// --- The host's play-state answer -----------------------------------------

struct HostAnswerCase {
    long answer;
    PlayState expected;
};

class HostAnswer : public ::testing::TestWithParam<HostAnswerCase> {};

TEST_P(HostAnswer, MapsToPlayState) {
    EXPECT_EQ(playStateFromHost(GetParam().answer), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    All, HostAnswer,
    ::testing::Values(HostAnswerCase{1, PlayState::Playing}, HostAnswerCase{3, PlayState::Paused},
                      HostAnswerCase{0, PlayState::Stopped}, HostAnswerCase{2, PlayState::Stopped},
                      HostAnswerCase{4, PlayState::Stopped}, HostAnswerCase{-1, PlayState::Stopped},
                      HostAnswerCase{LONG_MAX, PlayState::Stopped},
                      HostAnswerCase{LONG_MIN, PlayState::Stopped}));

// --- Composition of the mood command -------------------------------------

struct ComposeCase {
    const char* name;
    bool allowHtml;
    std::string templateText;
    std::string title;
    PlayState state;
    std::string expected;
};

void PrintTo(const ComposeCase& c, std::ostream* os) {
    *os << c.name;
}

class Compose : public ::testing::TestWithParam<ComposeCase> {};

TEST_P(Compose, GivesTheCommandText) {
    const ComposeCase& c = GetParam();
    EXPECT_EQ(composeMoodCommand(c.allowHtml, c.templateText, c.title, c.state), c.expected);
}

const ComposeCase kComposeCases[] = {
    // Song starts with no template stored.
    {"DefaultTemplatePlain", false, kComposerDefaultTemplate, "Song", PlayState::Playing,
     kPlain + "Song"},
    {"DefaultTemplateRich", true, kComposerDefaultTemplate, "Song", PlayState::Playing,
     kRich + "Song"},
    // The options dialog's example.
    {"DialogExamplePausedPlain", false, "winamp [%state%]:[%title%]", "Song", PlayState::Paused,
     kPlain + "winamp paused:Song"},
    {"DialogExamplePausedRich", true, "winamp [%state%]:[%title%]", "Song", PlayState::Paused,
     kRich + "winamp paused:Song"},
    // Exit mood: empty title, the state word is a single blank.
    {"ExitMoodPlain", false, "winamp [%state%]:[%title%]", "", PlayState::Exiting,
     kPlain + "winamp  :"},
    {"ExitMoodEmptyPlain", false, "", "", PlayState::Exiting, kPlain},
    {"ExitMoodEmptyRich", true, "", "", PlayState::Exiting, kRich},
    // Every state word.
    {"StatePlaying", false, "[%state%]", "t", PlayState::Playing, kPlain + "playing"},
    {"StatePaused", false, "[%state%]", "t", PlayState::Paused, kPlain + "paused"},
    {"StateStopped", false, "[%state%]", "t", PlayState::Stopped, kPlain + "stopped"},
    {"StateExiting", false, "<[%state%]>", "", PlayState::Exiting, kPlain + "< >"},
    // Several placeholders, each replaced.
    {"TitleTwice", false, "[%title%] / [%title%]", "Song", PlayState::Playing,
     kPlain + "Song / Song"},
    {"StateTwice", false, "[%state%][%state%]", "Song", PlayState::Stopped,
     kPlain + "stoppedstopped"},
    {"Adjacent", false, "[%title%][%state%][%title%]", "A", PlayState::Paused, kPlain + "ApausedA"},
    {"NoPlaceholder", true, "just text", "Song", PlayState::Playing, kRich + "just text"},
    // Near misses stay as they are.
    {"NearMisses", false, "[%TITLE%] [%title% [% title %] %title%] [%State%]", "Song",
     PlayState::Playing, kPlain + "[%TITLE%] [%title% [% title %] %title%] [%State%]"},
    // The title's own "[%state%]" gets the state word.
    {"TitleHoldsState", false, "[%title%]", "Live [%state%] take", PlayState::Playing,
     kPlain + "Live playing take"},
    {"TitleHoldsStateTwice", false, "[%title%] [%state%]", "[%state%][%state%]", PlayState::Paused,
     kPlain + "pausedpaused paused"},
    // The title and the template text beside it form "[%state%]".
    {"TitleCompletesState", false, "[%sta[%title%]", "te%]", PlayState::Stopped,
     kPlain + "stopped"},
    // A title that holds "[%title%]" ends and is kept literally.
    {"TitleHoldsTitle", false, "[%title%]|[%title%]", "a [%title%] b", PlayState::Playing,
     kPlain + "a [%title%] b|a [%title%] b"},
    {"TitleIsPlaceholder", true, "[%title%]", "[%title%]", PlayState::Playing, kRich + "[%title%]"},
    {"TitleCompletesTitle", false, "[%ti[%title%]", "tle%]", PlayState::Playing,
     kPlain + "[%title%]"},
    {"TitleHoldsBoth", false, "[%title%]", "[%title%]:[%state%]", PlayState::Paused,
     kPlain + "[%title%]:paused"},
    // With html the title is text inside the user's mark-up: its "&", "<" and
    // ">" are escaped, the template's own mark-up and every other byte stay.
    {"RichTitleEscaped", true, "<b>[%title%]</b> [%state%]", "Simon & Garfunkel <Live> > 1",
     PlayState::Playing, kRich + "<b>Simon &amp; Garfunkel &lt;Live&gt; &gt; 1</b> playing"},
    {"RichTitleEscapedEachTime", true, "[%title%]|[%title%]", "a&b", PlayState::Paused,
     kRich + "a&amp;b|a&amp;b"},
    {"RichTitleEntityIsText", true, "[%title%]", "Tom &amp; Jerry", PlayState::Playing,
     kRich + "Tom &amp;amp; Jerry"},
    {"RichTitleQuotesStay", true, "[%title%]", "\"Don't\" ; '#x' %", PlayState::Playing,
     kRich + "\"Don't\" ; '#x' %"},
    {"RichTitleHoldsState", true, "[%title%]", "<[%state%]>", PlayState::Stopped,
     kRich + "&lt;stopped&gt;"},
    {"RichUtf8TitleStays", true, "[%title%]", "\xd0\x9a\xd0\xb8 & \xe3\x81\x82", PlayState::Playing,
     kRich + "\xd0\x9a\xd0\xb8 &amp; \xe3\x81\x82"},
    {"PlainTitleAsItIs", false, "<b>[%title%]</b>", "Simon & Garfunkel <Live>", PlayState::Playing,
     kPlain + "<b>Simon & Garfunkel <Live></b>"},
    {"RichExitMoodAsItIs", true, "<i>away &amp; [%state%]</i>[%title%]", "", PlayState::Exiting,
     kRich + "<i>away &amp;  </i>"},
    // Bytes of the ANSI code page pass through unchanged.
    {"HighBytes", false, "\xe9 [%title%]", "\xca\xe8\xed\xee", PlayState::Playing,
     kPlain + "\xe9 \xca\xe8\xed\xee"},
};

INSTANTIATE_TEST_SUITE_P(Examples, Compose, ::testing::ValuesIn(kComposeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ComposeLarge, TitleOf64KiBComesThroughWhole) {
    std::string title;
    for (std::size_t i = 0; i < 64 * 1024; ++i)
        title.push_back(static_cast<char>('!' + i % 90));
    EXPECT_EQ(composeMoodCommand(false, "[%title%]", title, PlayState::Playing), kPlain + title);
    std::string plainText;
    for (const char c : title)
        plainText.push_back(c == '&' || c == '<' || c == '>' ? '.' : c);
    EXPECT_EQ(composeMoodCommand(true, "<[%title%]|[%title%]>", plainText, PlayState::Playing),
              kRich + "<" + plainText + "|" + plainText + ">");
}

TEST(ComposeLarge, TitleOfMarkUpIsEscapedWhole) {
    const std::size_t times = 64 * 1024 / 3;
    EXPECT_EQ(composeMoodCommand(true, "[%title%]", repeated("&<>", times), PlayState::Playing),
              kRich + repeated("&amp;&lt;&gt;", times));
}

TEST(ComposeLarge, TitleOfPlaceholdersEndsAndStaysLiteral) {
    const std::string title = repeated("[%title%]", 64 * 1024 / 9);
    EXPECT_EQ(composeMoodCommand(false, "[%title%][%title%]", title, PlayState::Paused),
              kPlain + title + title);
}

TEST(ComposeLarge, EveryStatePlaceholderOfALongTitleIsReplaced) {
    const std::string title = repeated("[%state%]", 64 * 1024 / 9);
    EXPECT_EQ(composeMoodCommand(false, "[%title%]", title, PlayState::Paused),
              kPlain + repeated("paused", 64 * 1024 / 9));
}

// --- Framing for the wire --------------------------------------------------

class Frame : public ::testing::TestWithParam<std::string> {};

TEST_P(Frame, AppendsTwoZeroBytes) {
    const std::string& command = GetParam();
    const std::string framed = frameMoodBytes(command);
    ASSERT_EQ(framed.size(), command.size() + 2);
    EXPECT_EQ(framed.compare(0, command.size(), command), 0);
    EXPECT_EQ(framed[command.size()], '\0');
    EXPECT_EQ(framed[command.size() + 1], '\0');
}

INSTANTIATE_TEST_SUITE_P(Commands, Frame,
                         ::testing::Values(std::string(), kPlain, kRich + "Song",
                                           kPlain + "\xd0\x9a\xd0\xb8\xd0\xbd\xd0\xbe",
                                           kPlain + std::string(70000, 'x')));

} // namespace
