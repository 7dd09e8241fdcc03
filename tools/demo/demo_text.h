// Text helpers of the demo: formatting, quoting, and the byte escapes the
// stand-in Skype writes in its transcript.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

namespace demo {

std::string textf(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool startsWith(const std::string& text, const std::string& prefix);
// In double quotes, control characters escaped; UTF-8 passes as it is.
std::string quoted(const std::string& text);
std::size_t characterCount(const std::string& utf8);
// "E5 9D 82": every byte in hex.
std::string hexBytes(const std::string& bytes);
std::string hexHandle(HWND window); // "0x0001009A"
// The bytes behind \0, \\, \" and \xNN; any other character stands for itself.
std::string unescapeBytes(const std::string& text);
std::string utf8FromAnsi(const std::string& ansi);

} // namespace demo
