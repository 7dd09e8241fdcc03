#include "settings/settings.h"

#include "host/host_api.h"

#include <charconv>
#include <vector>

namespace {

Settings gSettings;
// Set once load has read everything: settings never read must never be
// written over the user's.
bool gLoaded = false;

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

int readInt(const char* section, const char* key, int current) {
    return static_cast<int>(
        GetPrivateProfileIntA(section, key, current, gSettings.iniPath.c_str()));
}

void writeInt(const char* key, int value) {
    char text[16]; // "-2147483648" and its terminator fit
    *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
    WritePrivateProfileStringA(kIniSection, key, text, gSettings.iniPath.c_str());
}

} // namespace

Settings& settings() {
    return gSettings;
}

std::string hostIniPath(HWND host) {
    const LRESULT answer = SendMessageA(host, host::kWmUser, 0, host::kQueryIniPath);
    if (host::isPointerAnswer(static_cast<unsigned long>(answer)))
        return reinterpret_cast<const char*>(answer);
    return host::kFallbackIniPath;
}

std::string readIniText(const std::string& iniPath, const char* key, const char* fallback) {
    std::vector<char> buffer(kIniTextBufferSize, '\0');
    GetPrivateProfileStringA(kIniSection, key, fallback, buffer.data(), kIniTextBufferSize,
                             iniPath.c_str());
    buffer.back() = '\0';
    return buffer.data();
}

void writeIniText(const std::string& iniPath, const char* key, const std::string& value) {
    WritePrivateProfileStringA(kIniSection, key, value.c_str(), iniPath.c_str());
}

void loadSettings(HWND host) {
    // Missing keys take the defaults, also after a quit cleared the switches.
    gSettings = Settings{};
    gLoaded = false;
    gSettings.iniPath = hostIniPath(host);
    for (const IntSetting& s : kSwitches)
        gSettings.*s.field = readInt(kIniSection, s.key, gSettings.*s.field);
    gSettings.exitMood = readIniText(gSettings.iniPath, kKeyExitMood, "");
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
