#include "skype/notification.h"

#include <array>

namespace {

constexpr std::array<std::string_view, 12> kStatusWords = {
    "UNPLACED", "ROUTING",  "EARLYMEDIA", "FAILED",  "RINGING", "INPROGRESS",
    "ONHOLD",   "FINISHED", "MISSED",     "REFUSED", "BUSY",    "CANCELLED",
};

bool isSeparator(char c) {
    return c == ' ' || c == ',' || c == '\t' || c == '\n';
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
    if (data == nullptr)
        return notification;
    std::size_t length = 0;
    while (length < size && data[length] != '\0')
        ++length;
    const std::string_view text(data, length);

    std::size_t index = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && isSeparator(text[pos]))
            ++pos;
        const std::size_t start = pos;
        while (pos < text.size() && !isSeparator(text[pos]))
            ++pos;
        if (start == pos)
            break;
        const std::string_view word = text.substr(start, pos - start);
        const std::size_t wordIndex = index++;
        if (wordIndex == 0) {
            if (word != "CALL")
                return notification;
            continue;
        }
        const CallStatus matched = statusOfWord(word);
        if (matched != CallStatus::None)
            notification.status = matched;
        else if (wordIndex == 1)
            notification.callId = word;
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
