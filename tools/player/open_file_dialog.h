// The modal "Open file" dialog that "Play" opens when the playlist is empty.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

namespace standin {

// Runs the dialog owned by `owner`; the typed name when the user presses OK
// with one, nothing on Cancel or an empty name.
std::optional<std::wstring> askForFile(HWND owner);

// The title a file is listed under: its name without folder and extension.
std::wstring titleOfFile(const std::wstring& path);

} // namespace standin
