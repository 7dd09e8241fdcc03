#include "mood/mood_text.h"

PlayState playStateFromHost(long hostAnswer) {
    constexpr long kHostPlaying = 1;
    constexpr long kHostPaused = 3;
    if (hostAnswer == kHostPlaying)
        return PlayState::Playing;
    if (hostAnswer == kHostPaused)
        return PlayState::Paused;
    return PlayState::Stopped;
}

std::string_view stateWord(PlayState state) {
    switch (state) {
    case PlayState::Playing:
        return "playing";
    case PlayState::Paused:
        return "paused";
    case PlayState::Stopped:
        return "stopped";
    case PlayState::Exiting:
        break;
    }
    return " ";
}

namespace {

std::string replaceEach(std::string_view text, std::string_view placeholder,
                        std::string_view replacement) {
    std::string out;
    out.reserve(text.size() + replacement.size());
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(placeholder, from);
        if (at == std::string_view::npos)
            break;
        out.append(text, from, at - from);
        out.append(replacement);
        from = at + placeholder.size();
    }
    out.append(text, from, std::string_view::npos);
    return out;
}

} // namespace

std::string substituteTitle(std::string_view text, std::string_view title) {
    return replaceEach(text, kTitlePlaceholder, title);
}

std::string substituteState(std::string_view text, std::string_view word) {
    // No state word is a piece of the placeholder, so an inserted word never
    // joins its neighbours into a new one: one pass equals searching again
    // from the start after every replacement.
    return replaceEach(text, kStatePlaceholder, word);
}

std::string escapeMarkup(std::string_view title) {
    std::string out;
    out.reserve(title.size());
    for (const char c : title) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

std::string composeMoodCommand(bool allowHtml, std::string_view templateText,
                               std::string_view title, PlayState state) {
    std::string command(allowHtml ? kRichMoodPrefix : kPlainMoodPrefix);
    // The escapes hold none of the placeholders' characters, so a title's
    // own "[%state%]" still gets the state word afterwards.
    command += allowHtml ? substituteTitle(templateText, escapeMarkup(title))
                         : substituteTitle(templateText, title);
    return substituteState(command, stateWord(state));
}

std::string frameMoodBytes(std::string_view utf8Command) {
    std::string bytes(utf8Command);
    bytes.push_back('\0');
    bytes.push_back('\0');
    return bytes;
}
