#include "skype/notification.h"

#include <array>

namespace {

constexpr std::array<std::string_view, 16> kStatusWords = {
    "UNPLACED",    "ROUTING",  "EARLYMEDIA",   "FAILED",    "RINGING", "INPROGRESS",
    "ONHOLD",      "FINISHED", "MISSED",       "REFUSED",   "BUSY",    "CANCELLED",
    "TRANSFERRED", "VM_SENT",  "VM_CANCELLED", "VM_FAILED",
};

bool isSeparator(char c) {
    return c == ' ' || c == ',' || c == '\t' || c == '\n';
}

// The text up to the first zero byte within `size`.
std::string_view textOf(const char* data, std::size_t size) {
    if (data == nullptr)
        return {};
    std::size_t length = 0;
    while (length < size && data[length] != '\0')
        ++length;
    return std::string_view(data, length);
}

// The word at or after `pos`, which moves past it; empty when none is left.
std::string_view nextWord(std::string_view text, std::size_t& pos) {
    while (pos < text.size() && isSeparator(text[pos]))
        ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && !isSeparator(text[pos]))
        ++pos;
    return text.substr(start, pos - start);
}

CallStatus statusOfWord(std::string_view word) {
    for (std::size_t i = 0; i < kStatusWords.size(); ++i) {
        if (kStatusWords[i] == word)
            return static_cast<CallStatus>(i);
    }
    return CallStatus::None;
}

} // namespace

CallNotification readCallNotification(const char* data, std::size_t size) {
    CallNotification notification;
    const std::string_view text = textOf(data, size);
    std::size_t pos = 0;
    if (nextWord(text, pos).compare("CALL") != 0)
        return notification;
    notification.callId = nextWord(text, pos);
    // Other properties carry free text or another call's state.
    if (nextWord(text, pos).compare("STATUS") != 0)
        return notification;
    for (std::string_view word = nextWord(text, pos); !word.empty(); word = nextWord(text, pos)) {
        const CallStatus matched = statusOfWord(word);
        if (matched != CallStatus::None)
            notification.status = matched;
    }
    return notification;
}

CallAction callActionFor(CallStatus status) {
    switch (status) {
    case CallStatus::Ringing:
    case CallStatus::InProgress:
        return CallAction::Pause;
    case CallStatus::Failed:
    case CallStatus::Missed:
    case CallStatus::Refused:
    case CallStatus::Cancelled:
        return CallAction::Resume;
    case CallStatus::Finished:
    case CallStatus::Busy:
    case CallStatus::Transferred:
    case CallStatus::VoicemailSent:
    case CallStatus::VoicemailCancelled:
    case CallStatus::VoicemailFailed:
        return CallAction::End;
    default:
        return CallAction::None;
    }
}

std::string_view callStatusWord(CallStatus status) {
    const auto index = static_cast<std::int32_t>(status);
    if (index < 0 || index >= static_cast<std::int32_t>(kStatusWords.size()))
        return {};
    return kStatusWords[static_cast<std::size_t>(index)];
}

CallsAnswer readCallsAnswer(const char* data, std::size_t size) {
    CallsAnswer answer;
    const std::string_view text = textOf(data, size);
    std::size_t pos = 0;
    const std::string_view first = nextWord(text, pos);
    if (first == "ERROR") {
        answer.kind = CallsAnswerKind::Error;
    } else if (first == "CALLS") {
        answer.kind = CallsAnswerKind::Listed;
        answer.list = text.substr(pos);
    }
    return answer;
}

bool listsCall(std::string_view list, std::string_view id) {
    std::size_t pos = 0;
    for (std::string_view word = nextWord(list, pos); !word.empty(); word = nextWord(list, pos))
        if (word == id)
            return true;
    return false;
}
