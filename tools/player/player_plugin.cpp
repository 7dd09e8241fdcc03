// The host's steps with a plug-in, each on its own, and the ini file that
// the player answers with.
#include "player_state.h"

#include "elevation.h"
#include "ini_file.h"

namespace standin {

using namespace detail;

namespace {

template <typename Fn> Fn exportedFunction(HMODULE module, const char* name) {
    // Through a plain function type: casting FARPROC directly warns.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

bool takePlugin(HMODULE module, const std::string& name) {
    if (!module)
        return fail("LoadLibrary(" + name + ") failed, error " + std::to_string(GetLastError()));
    auto entry = exportedFunction<GetGeneralPurposePluginFn>(module, host::kExportName);
    if (!entry) {
        FreeLibrary(module);
        return fail(name + " does not export " + host::kExportName);
    }
    player->module = module;
    player->entry = entry;
    if (player->elevated)
        answerFilterLookUps(module);
    return true;
}

bool readyToLoad() {
    if (!player)
        return fail("no player");
    if (player->module)
        return fail("a plug-in is already loaded");
    return true;
}

} // namespace

bool loadPlugin(const std::string& dllPath) {
    return readyToLoad() && takePlugin(LoadLibraryA(dllPath.c_str()), dllPath);
}

bool loadPlugin(const std::wstring& dllPath) {
    return readyToLoad() && takePlugin(LoadLibraryW(dllPath.c_str()), utf8FromWide(dllPath));
}

PluginDescriptor* describePlugin() {
    if (!player || !player->entry) {
        fail("no plug-in loaded");
        return nullptr;
    }
    PluginDescriptor* descriptor = player->entry();
    if (!descriptor) {
        fail("the plug-in returned no descriptor");
        return nullptr;
    }
    descriptor->hostWindow = player->main;
    descriptor->moduleInstance = reinterpret_cast<HINSTANCE>(player->module);
    player->descriptor = descriptor;
    return descriptor;
}

bool initPlugin(int* result) {
    if (!player || !player->descriptor || !player->descriptor->init)
        return fail("no described plug-in with an init entry");
    if (player->running)
        return fail("the plug-in is already initialised");
    player->running = true;
    const int answer = player->descriptor->init();
    if (result)
        *result = answer;
    return true;
}

bool configPlugin() {
    if (!player || !player->running || !player->descriptor->config)
        return fail("no running plug-in with a config entry");
    player->descriptor->config();
    return true;
}

bool quitPlugin() {
    if (!player || !player->running)
        return fail("no running plug-in");
    player->running = false;
    if (player->descriptor->quit)
        player->descriptor->quit();
    return true;
}

bool unloadPlugin() {
    if (!player || !player->module)
        return fail("no plug-in loaded");
    FreeLibrary(player->module);
    player->module = nullptr;
    player->entry = nullptr;
    player->descriptor = nullptr;
    player->running = false;
    return true;
}

PluginDescriptor* pluginDescriptor() {
    return player ? player->descriptor : nullptr;
}
HMODULE pluginModule() {
    return player ? player->module : nullptr;
}
bool pluginRunning() {
    return player && player->running;
}
const std::string& pluginError() {
    return lastError;
}

// ---- Ini file ----------------------------------------------------------------

const std::string& iniPath() {
    static const std::string none;
    return player ? player->iniPath : none;
}

const std::wstring& wideIniPath() {
    static const std::wstring none;
    return player ? player->wideIniPath : none;
}

bool writeIniContent(const std::string& content) {
    return player && replaceIniFile(player->wideIniPath, content);
}

// The file is read through the wide functions, which take any path; texts
// come back in the ANSI code page, as the plug-in's values are.
std::string readIniString(const char* section, const char* key, const char* fallback) {
    if (!player)
        return fallback;
    const std::wstring wideSection = wideFromAnsi(section);
    const std::wstring wideKey = wideFromAnsi(key);
    const std::wstring wideFallback = wideFromAnsi(fallback);
    // A full buffer means the value may have been cut: try a larger one.
    for (DWORD size = 1024; size <= (1u << 20); size *= 4) {
        std::wstring buffer(size, L'\0');
        const DWORD length =
            GetPrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), wideFallback.c_str(),
                                     &buffer[0], size, player->wideIniPath.c_str());
        if (length < size - 1) {
            buffer.resize(length);
            return ansiFromWide(buffer);
        }
    }
    return fallback;
}

std::vector<std::string> readIniSection(const char* section) {
    std::vector<std::string> lines;
    if (!player)
        return lines;
    const std::wstring wideSection = wideFromAnsi(section);
    for (DWORD size = 4096; size <= (1u << 20); size *= 4) {
        std::wstring buffer(size, L'\0');
        const DWORD length = GetPrivateProfileSectionW(wideSection.c_str(), &buffer[0], size,
                                                       player->wideIniPath.c_str());
        if (length >= size - 2)
            continue;
        for (std::size_t start = 0; start < length;) {
            const std::size_t end = buffer.find(L'\0', start);
            lines.push_back(ansiFromWide(buffer.substr(start, end - start)));
            start = end + 1;
        }
        break;
    }
    return lines;
}

} // namespace standin
