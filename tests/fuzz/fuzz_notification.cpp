// Reads the raw input as a Skype notification and checks it against a reader
// written independently, on the full input and on the input cut at its first
// zero byte.
#include "skype/notification.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Cut at separators and zeros alike.
std::vector<std::string_view> wordsOf(std::string_view text) {
    constexpr std::string_view cuts(" ,\t\n\0", 5);
    std::vector<std::string_view> words;
    for (std::size_t start = text.find_first_not_of(cuts); start != std::string_view::npos;) {
        const std::size_t end = text.find_first_of(cuts, start);
        words.push_back(text.substr(start, end - start));
        start = end == std::string_view::npos ? end : text.find_first_not_of(cuts, end);
    }
    return words;
}

struct Reference {
    CallStatus status = CallStatus::None;
    std::string_view id;
    CallsAnswerKind answer = CallsAnswerKind::None;
    std::vector<std::string_view> listed;
};

Reference referenceRead(std::string_view bytes) {
    const std::vector<std::string_view> words = wordsOf(bytes.substr(0, bytes.find('\0')));
    const std::string_view first = words.empty() ? std::string_view() : words[0];
    Reference read;
    if (first == "CALLS")
        read.listed.assign(words.begin() + 1, words.end());
    read.answer = first == "CALLS"   ? CallsAnswerKind::Listed
                  : first == "ERROR" ? CallsAnswerKind::Error
                                     : CallsAnswerKind::None;
    if (first == "CALL" && words.size() > 1)
        read.id = words[1];
    for (std::size_t i = 3; first == "CALL" && i < words.size() && words[2] == "STATUS"; ++i)
        for (int value = 0; value <= static_cast<int>(kLastCallStatus); ++value)
            if (callStatusWord(static_cast<CallStatus>(value)) == words[i])
                read.status = static_cast<CallStatus>(value);
    return read;
}

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const CallNotification read = readCallNotification(text, size);
    const CallStatus status = read.status;

    const auto value = static_cast<std::int32_t>(status);
    check(value >= -1 && value <= static_cast<std::int32_t>(kLastCallStatus));
    check((status == CallStatus::None) == callStatusWord(status).empty());
    const Reference reference = referenceRead(std::string_view(text, size));
    check(status == reference.status);
    check(read.callId == reference.id);
    // The id lies within what was read.
    check(read.callId.empty() ||
          (read.callId.data() >= text && read.callId.data() + read.callId.size() <= text + size));

    // Nothing after the first zero byte counts, and the terminator itself
    // changes nothing.
    const void* zero = std::memchr(text, 0, size);
    if (zero != nullptr) {
        const auto length = static_cast<std::size_t>(static_cast<const char*>(zero) - text);
        check(readCallNotification(text, length).status == status);
        check(readCallNotification(text, length + 1).status == status);
        check(readCallNotification(text, length + 1).callId == read.callId);
    }

    // An answer's list lies within what was read, and names exactly the ids
    // the reference lists: of every word of the input, zeros cutting too.
    const CallsAnswer answer = readCallsAnswer(text, size);
    check(answer.kind == reference.answer);
    check(answer.list.empty() ||
          (answer.list.data() >= text && answer.list.data() + answer.list.size() <= text + size));
    for (const std::string_view word : wordsOf(std::string_view(text, size)))
        check(listsCall(answer.list, word) ==
              (std::count(reference.listed.begin(), reference.listed.end(), word) > 0));
    check(!listsCall(answer.list, {}));
    return 0;
}
