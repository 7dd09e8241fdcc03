#include "api_commands.h"

#include "rich_text.h"

#include <algorithm>
#include <cstdio>

namespace standin_skype {
namespace {

constexpr std::size_t kMaxProtocolDigits = 9;
constexpr char kOnline[] = "ONLINE";

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether `text` begins with the keywords `words` (in any case), followed by
// the end or a blank; `rest` gets what follows that blank.
bool takeWords(const std::string& text, const std::string& words, std::string* rest) {
    if (text.size() < words.size())
        return false;
    for (std::size_t i = 0; i < words.size(); ++i)
        if (upper(text[i]) != words[i])
            return false;
    if (text.size() == words.size()) {
        rest->clear();
        return true;
    }
    if (text[words.size()] != ' ')
        return false;
    *rest = text.substr(words.size() + 1);
    return true;
}

// A command without arguments.
bool isCommand(const std::string& text, const std::string& words) {
    std::string rest;
    return takeWords(text, words, &rest) && rest.empty();
}

bool parseProtocol(const std::string& text, int* protocol) {
    if (text.empty() || text.size() > kMaxProtocolDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    *protocol = std::stoi(text);
    return true;
}

CommandResult answer(std::string text) {
    CommandResult result;
    result.answer = std::move(text);
    return result;
}

CommandResult failure(const ApiError& error) {
    CommandResult result;
    result.answer = errorText(error);
    result.error = true;
    return result;
}

CommandResult negotiate(const std::string& argument, ApiState& state) {
    int wanted = 0;
    if (!parseProtocol(argument, &wanted))
        return failure(kErrorInvalidProtocol);
    state.protocol = std::max(1, std::min(wanted, std::max(1, state.highestProtocol)));
    return answer("PROTOCOL " + std::to_string(state.protocol));
}

CommandResult setMood(const std::string& text, bool rich, ApiState& state) {
    if (rich && state.protocol < kFirstProtocolWithRichMood)
        return failure(kErrorUnknownProperty);
    if (rich && state.checkRichMarkup && !isWellFormedFragment(text))
        return failure(kErrorMalformedRichMood);
    state.mood.text = text;
    state.mood.rich = rich;
    state.moodSet = true;
    CommandResult result = answer((rich ? "PROFILE RICH_MOOD_TEXT " : "PROFILE MOOD_TEXT ") + text);
    result.moodChanged = true;
    return result;
}

CommandResult getProfile(const std::string& property, const ApiState& state) {
    if (property == "MOOD_TEXT")
        return answer("PROFILE MOOD_TEXT " + withoutTags(state.mood.text));
    if (property == "RICH_MOOD_TEXT" && state.protocol >= kFirstProtocolWithRichMood)
        return answer("PROFILE RICH_MOOD_TEXT " + state.mood.text);
    return failure(kErrorUnknownProperty);
}

// "CHAT CREATE a, b": a chat named after its creator and first partner.
CommandResult createChat(const std::string& users, ApiState& state) {
    const std::size_t first = users.find_first_not_of(", ");
    if (first == std::string::npos)
        return failure(kErrorUnknownCommand);
    const std::size_t end = users.find_first_of(", ", first);
    const std::string partner = users.substr(first, end - first);
    const bool several =
        end != std::string::npos && users.find_first_not_of(", ", end) != std::string::npos;
    char serial[20];
    std::snprintf(serial, sizeof serial, "%016x", ++state.chatsCreated);
    return answer("CHAT #" + state.userHandle + "/$" + partner + ";" + serial + " STATUS " +
                  (several ? "MULTI_SUBSCRIBED" : "DIALOG"));
}

// "12, 34", as Skype lists ids.
std::string joinedIds(const std::vector<unsigned>& ids) {
    std::string list;
    for (const unsigned id : ids)
        list += (list.empty() ? "" : ", ") + std::to_string(id);
    return list;
}

CommandResult run(const std::string& command, ApiState& state) {
    std::string rest;
    if (takeWords(command, "PROTOCOL", &rest))
        return negotiate(rest, state);
    if (isCommand(command, "PING"))
        return answer("PONG");
    if (takeWords(command, "NAME", &rest) && !rest.empty())
        return answer("OK");
    if (isCommand(command, "GET CURRENTUSERHANDLE"))
        return answer("CURRENTUSERHANDLE " + state.userHandle);
    if (isCommand(command, "GET USERSTATUS"))
        return answer(std::string("USERSTATUS ") + kOnline);
    if (isCommand(command, "GET CONNSTATUS"))
        return answer(std::string("CONNSTATUS ") + kOnline);
    if (takeWords(command, "SET PROFILE MOOD_TEXT", &rest))
        return setMood(rest, false, state);
    if (takeWords(command, "SET PROFILE RICH_MOOD_TEXT", &rest))
        return setMood(rest, true, state);
    if (takeWords(command, "SET PROFILE", &rest))
        return failure(kErrorUnknownProperty);
    if (takeWords(command, "GET PROFILE", &rest)) {
        std::transform(rest.begin(), rest.end(), rest.begin(), upper);
        return getProfile(rest, state);
    }
    if (takeWords(command, "CHAT CREATE", &rest))
        return createChat(rest, state);
    if (isCommand(command, "SEARCH ACTIVECALLS"))
        return answer("CALLS " + joinedIds(state.activeCalls));
    return failure(kErrorUnknownCommand);
}

} // namespace

CommandResult runCommand(const std::string& command, ApiState& state) {
    // "#7 PING" is answered "#7 PONG", so that a client can pair them.
    if (!command.empty() && command[0] == '#') {
        const std::size_t blank = command.find(' ');
        const std::string tag = command.substr(0, blank);
        CommandResult result =
            run(blank == std::string::npos ? std::string() : command.substr(blank + 1), state);
        result.answer = tag + " " + result.answer;
        return result;
    }
    return run(command, state);
}

bool isActiveCallStatus(const std::string& word) {
    for (const char* active : {"RINGING", "INPROGRESS", "ONHOLD", "LOCALHOLD", "REMOTEHOLD"})
        if (word == active)
            return true;
    return false;
}

std::string errorText(const ApiError& error) {
    return "ERROR " + std::to_string(error.code) + " " + error.text;
}

std::string withoutTags(const std::string& text) {
    std::string plain;
    bool inTag = false;
    for (const char c : text) {
        if (c == '<')
            inTag = true;
        else if (c == '>' && inTag)
            inTag = false;
        else if (!inTag)
            plain += c;
    }
    return plain;
}

} // namespace standin_skype
