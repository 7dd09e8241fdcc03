// Composes a mood command from fuzzed parts and checks it against plain
// split-and-join expansion and against the search that starts again from the
// beginning after every replacement, where the two must agree; and that with
// html any title inside a template without mark-up gives a value the stand-in
// Skype reads as well-formed XML.
//
// Input: one flag byte (bit 0 allowHtml, bits 1-2 the play state), then the
// template up to the first zero byte, then the title.
#include "mood/mood_text.h"
#include "rich_text.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool contains(std::string_view text, std::string_view piece) {
    return text.find(piece) != std::string_view::npos;
}

// The placeholder has no border (it starts with '[' and ends with ']'), so
// its occurrences never overlap and splitting at them is unambiguous.
std::vector<std::string_view> splitAt(std::string_view text, std::string_view placeholder) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const std::size_t at = text.find(placeholder);
        pieces.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return pieces;
        text.remove_prefix(at + placeholder.size());
    }
}

std::string join(const std::vector<std::string_view>& pieces, std::string_view glue) {
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            out.append(glue);
        out.append(pieces[i]);
    }
    return out;
}

// Rich mood text is XML: the title's "&", "<" and ">" become entities.
std::string escapedTitle(std::string_view title) {
    std::string out;
    for (const char c : title) {
        if (c == '&')
            out.append("&amp;");
        else if (c == '<')
            out.append("&lt;");
        else if (c == '>')
            out.append("&gt;");
        else
            out.push_back(c);
    }
    return out;
}

// Replace the leftmost occurrence and search again from the start; gives up
// after `limit` replacements.
std::optional<std::string> searchFromStart(std::string text, std::string_view placeholder,
                                           std::string_view replacement, std::size_t limit) {
    for (std::size_t done = 0;; ++done) {
        const std::size_t at = text.find(placeholder);
        if (at == std::string::npos)
            return text;
        if (done == limit)
            return std::nullopt;
        text.replace(at, placeholder.size(), replacement);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const bool allowHtml = (data[0] & 1) != 0;
    const auto state = static_cast<PlayState>((data[0] >> 1) & 3);
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = rest.find('\0');
    const std::string_view templateText = rest.substr(0, split);
    const std::string_view title =
        split == std::string_view::npos ? std::string_view() : rest.substr(split + 1);

    const std::string command = composeMoodCommand(allowHtml, templateText, title, state);
    const std::string_view prefix = allowHtml ? kRichMoodPrefix : kPlainMoodPrefix;
    const std::string_view word = stateWord(state);
    const std::string inserted = allowHtml ? escapedTitle(title) : std::string(title);

    check(command.compare(0, prefix.size(), prefix) == 0);
    check(!contains(command, kStatePlaceholder));

    // Each placeholder of the template gets the title once; the state word is
    // then put in over the whole text, titles included.
    const auto templatePieces = splitAt(templateText, kTitlePlaceholder);
    const std::string expanded = std::string(prefix) + join(templatePieces, inserted);
    const auto statePieces = splitAt(expanded, kStatePlaceholder);
    check(command == join(statePieces, word));

    // No state word is longer than the placeholder it replaces.
    const std::size_t titles = templatePieces.size() - 1;
    check(command.size() <= prefix.size() + templateText.size() + titles * inserted.size());
    check(command.size() >= prefix.size());

    // Unless the expanded text still holds "[%title%]" (the title brings it, alone or
    // with the template text beside it), searching again from the start after
    // each replacement gives the same text with the same number of steps.
    if (!contains(expanded, kTitlePlaceholder)) {
        const auto naiveTitles =
            searchFromStart(std::string(templateText), kTitlePlaceholder, inserted, titles);
        check(naiveTitles.has_value());
        const auto naive = searchFromStart(std::string(prefix) + *naiveTitles, kStatePlaceholder,
                                           word, statePieces.size() - 1);
        check(naive.has_value());
        check(command == *naive);
    }

    // Whatever the title holds, only the template's own mark-up can make a
    // rich mood malformed.
    if (allowHtml && templateText.find_first_of("&<>") == std::string_view::npos)
        check(standin_skype::isWellFormedFragment(std::string_view(command).substr(prefix.size())));
    return 0;
}
