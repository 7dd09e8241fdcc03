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

CallStatus referenceRead(std::string_view bytes) {
    const std::string_view text = bytes.substr(0, bytes.find('\0'));
    CallStatus status = CallStatus::None;
    bool first = true;
    std::size_t start = text.find_first_not_of(kSeparators);
    while (start != std::string_view::npos) {
        const std::size_t end = text.find_first_of(kSeparators, start);
        const std::string_view word = text.substr(start, end - start);
        if (first && word != "CALL")
            return CallStatus::None;
        first = false;
        for (int value = 0; value < 12; ++value) {
            const auto candidate = static_cast<CallStatus>(value);
            if (callStatusWord(candidate) == word)
                status = candidate;
        }
        start = end == std::string_view::npos ? end : text.find_first_not_of(kSeparators, end);
    }
    return status;
}

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const CallStatus status = readCallNotification(text, size);

    const auto value = static_cast<std::int32_t>(status);
    check(value >= -1 && value <= 11);
    check((status == CallStatus::None) == callStatusWord(status).empty());
    check(status == referenceRead(std::string_view(text, size)));

    // Nothing after the first zero byte counts, and the terminator itself
    // changes nothing.
    const void* zero = std::memchr(text, 0, size);
    if (zero != nullptr) {
        const auto length = static_cast<std::size_t>(static_cast<const char*>(zero) - text);
        check(readCallNotification(text, length) == status);
        check(readCallNotification(text, length + 1) == status);
    }
    return 0;
}
