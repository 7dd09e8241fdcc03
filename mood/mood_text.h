// Mood text composition: pure text work, no windows.h, so that it is tested
// and fuzzed natively.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

enum class PlayState : std::int32_t { Playing = 0, Paused = 1, Stopped = 2, Exiting = 3 };

inline constexpr std::string_view kTitlePlaceholder = "[%title%]";
inline constexpr std::string_view kStatePlaceholder = "[%state%]";
inline constexpr std::string_view kPlainMoodPrefix = "SET PROFILE MOOD_TEXT ";
inline constexpr std::string_view kRichMoodPrefix = "SET PROFILE RICH_MOOD_TEXT ";
inline constexpr char kComposerDefaultTemplate[] = "[%title%]";

// The host's play-state answer (1 playing, 3 paused, anything else stopped).
PlayState playStateFromHost(long hostAnswer);

// "playing", "paused", "stopped", or a single blank for Exiting.
std::string_view stateWord(PlayState state);

// Every "[%title%]" becomes the title. The search resumes after each inserted
// title, so a title that contains the placeholder cannot make it loop.
std::string substituteTitle(std::string_view text, std::string_view title);

// Every "[%state%]" becomes the word, titles' own occurrences included.
std::string substituteState(std::string_view text, std::string_view word);

// The title as text of rich mood text, whose value Skype reads as XML:
// "&", "<" and ">" become "&amp;", "&lt;" and "&gt;"; every other byte stays.
std::string escapeMarkup(std::string_view title);

// Prefix chosen by allowHtml, then the title-expanded template, then the
// state word put in. With html the title is escaped; the template is the
// user's own mark-up and stays as it is.
std::string composeMoodCommand(bool allowHtml, std::string_view templateText,
                               std::string_view title, PlayState state);

// What goes on the wire after the UTF-8 conversion: the bytes, their
// terminator and one more zero byte (cbData = length + 2).
std::string frameMoodBytes(std::string_view utf8Command);
