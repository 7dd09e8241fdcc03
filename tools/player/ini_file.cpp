#include "ini_file.h"

#include <windows.h>

#include <cstdio>

namespace standin {

std::string createTempIniFile(const char* prefix) {
    char directory[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH)
        return {};
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[MAX_PATH + 64];
        std::snprintf(name, sizeof name, "%s%s_%lu_%lu_%u.ini", directory, prefix,
                      GetCurrentProcessId(), GetTickCount(), ++counter);
        HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return name;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            return {};
    }
    return {};
}

namespace {

bool writeWhole(HANDLE file, const std::string& content) {
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

} // namespace

bool replaceIniFile(const std::string& path, const std::string& content) {
    releaseProfileCache(path);
    const bool ok = writeWhole(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr),
                               content);
    releaseProfileCache(path);
    return ok;
}

bool replaceIniFile(const std::wstring& path, const std::string& content) {
    releaseProfileCache(path);
    const bool ok = writeWhole(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr),
                               content);
    releaseProfileCache(path);
    return ok;
}

void releaseProfileCache(const std::string& path) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}

void releaseProfileCache(const std::wstring& path) {
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
}

} // namespace standin
