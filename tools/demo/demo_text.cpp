#include "demo_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "standin_player.h"

namespace demo {

std::string textf(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return text;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string quoted(const std::string& text) {
    std::string result = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        result += byte < 0x20 || byte == 0x7F ? textf("\\x%02X", byte) : std::string(1, c);
    }
    return result + "\"";
}

std::size_t characterCount(const std::string& utf8) {
    std::size_t count = 0;
    for (const char c : utf8)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

std::string hexBytes(const std::string& bytes) {
    std::string text;
    for (const char c : bytes)
        text += textf(text.empty() ? "%02X" : " %02X", static_cast<unsigned char>(c));
    return text;
}

std::string hexHandle(HWND window) {
    return textf("0x%08lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)));
}

std::string unescapeBytes(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            bytes += text[i];
            continue;
        }
        const char next = text[++i];
        if (next == '0') {
            bytes += '\0';
        } else if (next == 'x' && i + 2 < text.size()) {
            bytes += static_cast<char>(std::strtoul(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            bytes += next;
        }
    }
    return bytes;
}

std::string utf8FromAnsi(const std::string& ansi) {
    return standin::utf8FromWide(standin::wideFromAnsi(ansi));
}

} // namespace demo
