#include "bench_host.h"

#include "plugin/host_api.h"

#include <cstdio>

namespace bench {
namespace {

constexpr char kHostClass[] = "TralmoBenchHost";

LRESULT answerQuery(WPARAM wParam, LPARAM code) {
    HostState& state = hostState();
    ++state.queriesAnswered;
    switch (code) {
    case host::kQueryPlayState:
        return state.playState;
    case host::kQueryPlaylistPosition:
        return state.position;
    case host::kQueryEntryTitle: {
        const auto index = static_cast<std::size_t>(wParam);
        return index < state.titles.size() ? reinterpret_cast<LRESULT>(state.titles[index].c_str())
                                           : 0;
    }
    case host::kQueryIniPath:
        return reinterpret_cast<LRESULT>(state.iniPath.c_str());
    case host::kQueryWindow:
        return wParam == host::kWindowPlaylist ? reinterpret_cast<LRESULT>(state.playlist) : 0;
    default:
        return kUnknownQueryTag | (code & 0xFFFF);
    }
}

bool registerHostClass() {
    WNDCLASSA existing;
    if (GetClassInfoA(GetModuleHandleA(nullptr), kHostClass, &existing))
        return true;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = hostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kHostClass;
    return RegisterClassA(&windowClass) != 0;
}

std::string newTempIniPath() {
    char directory[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH)
        return {};
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[MAX_PATH + 64];
        std::snprintf(name, sizeof name, "%stralmo_bench_%lu_%u.ini", directory,
                      GetCurrentProcessId(), ++counter);
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

bool writeFile(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

// The profile functions cache files; drop the cache before touching one directly.
void releaseProfileCache(const std::string& path) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}

} // namespace

HostState& hostState() {
    static HostState state;
    return state;
}

LRESULT CALLBACK hostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == host::kWmUser)
        return answerQuery(wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND createHostWindow(const char* title) {
    if (!registerHostClass())
        return nullptr;
    return CreateWindowExA(0, kHostClass, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
}

TempIni::TempIni(const std::string& content) : path_(newTempIniPath()) {
    if (!path_.empty() && !writeFile(path_, content)) {
        DeleteFileA(path_.c_str());
        path_.clear();
    }
}

TempIni::~TempIni() {
    if (path_.empty())
        return;
    releaseProfileCache(path_);
    DeleteFileA(path_.c_str());
}

Plugin::~Plugin() {
    quit();
    unload();
}

bool Plugin::load(const std::string& path) {
    unload();
    module_ = LoadLibraryA(path.c_str());
    if (module_ == nullptr) {
        error_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}

bool Plugin::start(HWND host) {
    if (module_ == nullptr || running_)
        return false;
    // Through a plain function type: casting FARPROC directly warns.
    const auto entry = reinterpret_cast<GetGeneralPurposePluginFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, host::kExportName)));
    descriptor_ = entry != nullptr ? entry() : nullptr;
    if (descriptor_ == nullptr || descriptor_->init == nullptr) {
        error_ = "no descriptor with an init entry";
        return false;
    }
    descriptor_->hostWindow = host;
    descriptor_->moduleInstance = reinterpret_cast<HINSTANCE>(module_);
    running_ = true;
    descriptor_->init();
    return true;
}

void Plugin::quit() {
    if (!running_)
        return;
    running_ = false;
    if (descriptor_->quit != nullptr)
        descriptor_->quit();
}

void Plugin::unload() {
    quit();
    if (module_ != nullptr)
        FreeLibrary(module_);
    module_ = nullptr;
    descriptor_ = nullptr;
}

std::string besideProgram(const char* fileName) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self);
    path.erase(path.find_last_of("\\/") + 1);
    return path + fileName;
}

} // namespace bench
