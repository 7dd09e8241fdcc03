// Reads the raw input as a Skype notification and checks it against a reader
// written independently, on the full input and on the input cut at its first
// zero byte.
#include "skype/notification.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kSeparators(" ,\t\n", 4);

struct Reference {
    CallStatus status = CallStatus::None;
    std::string_view id;
};

Reference referenceRead(std::string_view bytes) {
    const std::string_view text = bytes.substr(0, bytes.find('\0'));
    Reference read;
    int words = 0;
    std::size_t start = text.find_first_not_of(kSeparators);
    while (start != std::string_view::npos) {
        const std::size_t end = text.find_first_of(kSeparators, start);
        const std::string_view word = text.substr(start, end - start);
        ++words;
        if (words == 1 && word != "CALL")
            return Reference{};
        bool isStatus = false;
        for (int value = 0; value <= static_cast<int>(kLastCallStatus); ++value) {
            const auto candidate = static_cast<CallStatus>(value);
            if (callStatusWord(candidate) == word) {
                read.status = candidate;
                isStatus = true;
            }
        }
        if (words == 2 && !isStatus)
            read.id = word;
        start = end == std::string_view::npos ? end : text.find_first_not_of(kSeparators, end);
    }
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

    // An answer's list lies within what was read, and names each of its words.
    const CallsAnswer answer = readCallsAnswer(text, size);
    check(answer.list.empty() ||
          (answer.list.data() >= text && answer.list.data() + answer.list.size() <= text + size));
    const std::size_t first = answer.list.find_first_not_of(kSeparators);
    if (first != std::string_view::npos)
        check(listsCall(
            answer.list,
            answer.list.substr(first, answer.list.find_first_of(kSeparators, first) - first)));
    return 0;
}
