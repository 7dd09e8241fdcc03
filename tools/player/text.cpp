// Conversions between the code pages the player's texts cross.
#include "standin_player.h"

#include <climits>

namespace standin {
namespace {

std::wstring toWide(UINT codePage, const std::string& text) {
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int size = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (units <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, &wide[0], units);
    return wide;
}

std::string fromWide(UINT codePage, DWORD flags, const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int units = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(codePage, flags, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(codePage, flags, text.data(), units, &narrow[0], bytes, nullptr, nullptr);
    return narrow;
}

} // namespace

std::wstring wideFromAnsi(const std::string& text) {
    return toWide(CP_ACP, text);
}

std::string ansiFromWide(const std::wstring& text) {
    // No best fit: what the code page lacks becomes its default character.
    return fromWide(CP_ACP, WC_NO_BEST_FIT_CHARS, text);
}

std::string utf8FromWide(const std::wstring& text) {
    return fromWide(CP_UTF8, 0, text);
}

std::wstring wideFromUtf8(const std::string& text) {
    return toWide(CP_UTF8, text);
}

} // namespace standin
