// Ini files that the stand-in players make and fill themselves.
#pragma once
#include <string>

namespace standin {

// A new empty file in %TEMP% whose name starts with `prefix`, so that nothing
// from an earlier run can leak in; empty on failure.
std::string createTempIniFile(const char* prefix);

// Replaces the whole file, dropping the profile functions' cache of it before
// and after so that their next read sees the new content.
bool replaceIniFile(const std::string& path, const std::string& content);
bool replaceIniFile(const std::wstring& path, const std::string& content);

// Drops the profile functions' cache of the file (before deleting it, say).
void releaseProfileCache(const std::string& path);
void releaseProfileCache(const std::wstring& path);

} // namespace standin
