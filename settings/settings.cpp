#include "settings/settings.h"

#include "host/host_api.h"

#include <charconv>
#include <vector>

namespace {

Settings gSettings;
// Set once load has read everything: settings never read must never be
// written over the user's.
bool gLoaded = false;

// The template is read at every song change. A file that has not changed
// since the last read gives the same text, so the read is skipped then: the
// path, size and last write time say whether it changed.
struct FileStamp {
    FILETIME lastWrite{};
    DWORD sizeHigh = 0;
    DWORD sizeLow = 0;
};

struct TemplateRead {
    bool valid = false;
    std::vector<wchar_t> widePath;
    std::string ansiPath;
    FileStamp stamp;
    std::string text;
};
TemplateRead gTemplateRead;

// A file written this recently may change again within its file system's
// time resolution (2 s on FAT) without its stamp showing it.
constexpr ULONGLONG kSettledAfter100ns = 3ULL * 10 * 1000 * 1000;

constexpr char kKeyActive[] = "TRALMO_ACTIVE";
constexpr char kKeyStopMusic[] = "TRALMO_STOP_MUSIC";
constexpr char kKeyShowTrayIcon[] = "TRALMO_SHOW_TRAYICON";
constexpr char kKeyAllowHtml[] = "TRALMO_ALLOW_HTML";
constexpr char kKeyExitSetMood[] = "TRALMO_EXITSETMOOD";
constexpr std::array<const char*, kTrayButtonCount> kButtonKeys = {
    "PREV_BUTTON", "PLAY_BUTTON", "PAUSE_BUTTON", "STOP_BUTTON", "NEXT_BUTTON",
};

struct IntSetting {
    const char* key;
    int Settings::*field;
};
constexpr std::array<IntSetting, 5> kSwitches = {{
    {kKeyActive, &Settings::active},
    {kKeyStopMusic, &Settings::stopOnCall},
    {kKeyShowTrayIcon, &Settings::showTrayIcon},
    {kKeyAllowHtml, &Settings::allowHtml},
    {kKeyExitSetMood, &Settings::setMoodOnExit},
}};

// Text in the ANSI code page to UTF-16 (terminated) and back. The profile
// functions turn UTF-16 into the file's own encoding, so the ANSI file holds
// the same bytes as through the ANSI functions. Vectors, not std::wstring,
// which would link the runtime's wide strings (some 36 KiB).
std::vector<wchar_t> wideFromAnsi(const char* text) {
    const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0)
        return {L'\0'};
    std::vector<wchar_t> wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
    return wide;
}

std::string ansiFromWide(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string ansi(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.data(), bytes, nullptr, nullptr);
    ansi.pop_back();
    return ansi;
}

// The section, a key or a number in UTF-16 without allocating: save runs at
// quit also when the host has run out of memory.
class ShortWide {
  public:
    explicit ShortWide(const char* text) {
        if (MultiByteToWideChar(CP_ACP, 0, text, -1, text_, kCapacity) == 0)
            text_[0] = L'\0';
    }
    const wchar_t* c_str() const { return text_; }

  private:
    static constexpr int kCapacity = 64;
    wchar_t text_[kCapacity] = {};
};

bool isWide(const IniFile& file) {
    return !file.widePath.empty();
}

int readInt(const char* section, const char* key, int current) {
    const IniFile& file = gSettings.iniFile;
    if (isWide(file))
        return static_cast<int>(GetPrivateProfileIntW(
            ShortWide(section).c_str(), ShortWide(key).c_str(), current, file.widePath.data()));
    return static_cast<int>(GetPrivateProfileIntA(section, key, current, file.ansiPath.c_str()));
}

ULONGLONG asNumber(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

UINT windowsFolder(char* buffer, UINT size) {
    return GetWindowsDirectoryA(buffer, size);
}
UINT windowsFolder(wchar_t* buffer, UINT size) {
    return GetWindowsDirectoryW(buffer, size);
}
BOOL fileAttributes(const char* path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return GetFileAttributesExA(path, GetFileExInfoStandard, &data);
}
BOOL fileAttributes(const wchar_t* path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return GetFileAttributesExW(path, GetFileExInfoStandard, &data);
}

// The attributes of the file the profile functions read: they look for a
// name without a folder or drive (the fallback "winamp.ini") in the Windows
// folder, where the file functions would look in the current one.
template <typename Char>
BOOL profileFileAttributes(const Char* name, WIN32_FILE_ATTRIBUTE_DATA& data) {
    bool bare = name[0] != 0 && name[1] != ':';
    for (const Char* c = name; *c != 0 && bare; ++c)
        bare = *c != '\\' && *c != '/';
    if (!bare)
        return fileAttributes(name, data);
    std::vector<Char> path(MAX_PATH, 0);
    const UINT length = windowsFolder(path.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    path.resize(length);
    path.push_back('\\');
    while (*name != 0)
        path.push_back(*name++);
    path.push_back(0);
    return fileAttributes(path.data(), data);
}

// The stamp of a file that has settled; nothing for a missing file or one
// written just now.
bool settledStamp(const IniFile& file, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const BOOL found = isWide(file) ? profileFileAttributes(file.widePath.data(), data)
                                    : profileFileAttributes(file.ansiPath.c_str(), data);
    if (found == FALSE)
        return false;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG written = asNumber(data.ftLastWriteTime);
    if (written > asNumber(now) || asNumber(now) - written < kSettledAfter100ns)
        return false;
    stamp.lastWrite = data.ftLastWriteTime;
    stamp.sizeHigh = data.nFileSizeHigh;
    stamp.sizeLow = data.nFileSizeLow;
    return true;
}

bool sameStamp(const FileStamp& a, const FileStamp& b) {
    return asNumber(a.lastWrite) == asNumber(b.lastWrite) && a.sizeHigh == b.sizeHigh &&
           a.sizeLow == b.sizeLow;
}

bool sameFile(const TemplateRead& read, const IniFile& file) {
    return read.widePath == file.widePath && read.ansiPath == file.ansiPath;
}

void writeInt(const char* key, int value) {
    char text[16]; // "-2147483648" and its terminator fit
    *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
    const IniFile& file = gSettings.iniFile;
    gTemplateRead.valid = false;
    if (isWide(file))
        WritePrivateProfileStringW(ShortWide(kIniSection).c_str(), ShortWide(key).c_str(),
                                   ShortWide(text).c_str(), file.widePath.data());
    else
        WritePrivateProfileStringA(kIniSection, key, text, file.ansiPath.c_str());
}

} // namespace

Settings& settings() {
    return gSettings;
}

IniFile hostIniFile(HWND host) {
    IniFile file;
    const LRESULT wide = SendMessageA(host, host::kWmUser, 0, host::kQueryIniPathWide);
    if (host::isPointerAnswer(static_cast<unsigned long>(wide))) {
        const auto* path = reinterpret_cast<const wchar_t*>(wide);
        if (*path != L'\0') {
            file.widePath.assign(path, path + lstrlenW(path) + 1);
            return file;
        }
    }
    const LRESULT ansi = SendMessageA(host, host::kWmUser, 0, host::kQueryIniPath);
    file.ansiPath = host::isPointerAnswer(static_cast<unsigned long>(ansi))
                        ? reinterpret_cast<const char*>(ansi)
                        : host::kFallbackIniPath;
    return file;
}

std::string readIniText(const IniFile& file, const char* key, const char* fallback) {
    if (isWide(file)) {
        std::vector<wchar_t> buffer(kIniTextBufferSize, L'\0');
        GetPrivateProfileStringW(ShortWide(kIniSection).c_str(), ShortWide(key).c_str(),
                                 wideFromAnsi(fallback).data(), buffer.data(), kIniTextBufferSize,
                                 file.widePath.data());
        buffer.back() = L'\0';
        return ansiFromWide(buffer.data());
    }
    std::vector<char> buffer(kIniTextBufferSize, '\0');
    GetPrivateProfileStringA(kIniSection, key, fallback, buffer.data(), kIniTextBufferSize,
                             file.ansiPath.c_str());
    buffer.back() = '\0';
    return buffer.data();
}

std::string readMoodTemplate(const IniFile& file, const char* fallback) {
    FileStamp stamp;
    const bool settled = settledStamp(file, stamp);
    if (settled && gTemplateRead.valid && sameFile(gTemplateRead, file) &&
        sameStamp(gTemplateRead.stamp, stamp))
        return gTemplateRead.text;
    gTemplateRead.valid = false;
    std::string text = readIniText(file, kKeyUserString, fallback);
    if (settled) {
        gTemplateRead.widePath = file.widePath;
        gTemplateRead.ansiPath = file.ansiPath;
        gTemplateRead.stamp = stamp;
        gTemplateRead.text = text;
        gTemplateRead.valid = true;
    }
    return text;
}

void writeIniText(const IniFile& file, const char* key, const std::string& value) {
    gTemplateRead.valid = false;
    if (isWide(file))
        WritePrivateProfileStringW(ShortWide(kIniSection).c_str(), ShortWide(key).c_str(),
                                   wideFromAnsi(value.c_str()).data(), file.widePath.data());
    else
        WritePrivateProfileStringA(kIniSection, key, value.c_str(), file.ansiPath.c_str());
}

void loadSettings(HWND host) {
    // Missing keys take the defaults, also after a quit cleared the switches.
    gSettings = Settings{};
    gTemplateRead = TemplateRead{};
    gLoaded = false;
    gSettings.iniFile = hostIniFile(host);
    for (const IntSetting& s : kSwitches)
        gSettings.*s.field = readInt(kIniSection, s.key, gSettings.*s.field);
    gSettings.exitMood = readIniText(gSettings.iniFile, kKeyExitMood, "");
    for (int i = 0; i < kTrayButtonCount; ++i) {
        unsigned char& shown = gSettings.buttonShown[i];
        shown = readInt(kIniSection, kButtonKeys[i], shown) != 0 ? 1 : 0;
    }
    gSettings.volume = readInt(host::kHostIniSection, host::kHostVolumeKey, gSettings.volume);
    gLoaded = true;
}

void saveSettings() {
    if (!gLoaded)
        return;
    for (const IntSetting& s : kSwitches)
        writeInt(s.key, gSettings.*s.field);
    for (int i = 0; i < kTrayButtonCount; ++i)
        writeInt(kButtonKeys[i], gSettings.buttonShown[i]);
}
