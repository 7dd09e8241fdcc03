#include "bench_host.h"

#include "ini_file.h"
#include "host/host_api.h"
#include "ui/tray.h"

namespace bench {
namespace {

constexpr char kHostClass[] = "TralmoBenchHost";

template <typename Text> LRESULT entryOf(const std::vector<Text>& titles, WPARAM position) {
    const auto index = static_cast<std::size_t>(position);
    return index < titles.size() ? reinterpret_cast<LRESULT>(titles[index].c_str()) : 0;
}

LRESULT answerQuery(WPARAM wParam, LPARAM code) {
    HostState& state = hostState();
    ++state.queriesAnswered;
    switch (code) {
    case host::kQueryPlayState:
        return state.playState;
    case host::kQueryPlaylistPosition:
        return state.position;
    case host::kQueryEntryTitle:
        return entryOf(state.titles, wParam);
    case host::kQueryEntryTitleWide:
        return entryOf(state.wideTitles, wParam);
    case host::kQueryIniPath:
        return reinterpret_cast<LRESULT>(state.iniPath.c_str());
    case host::kQueryIniPathWide:
        return reinterpret_cast<LRESULT>(state.wideIniPath.c_str());
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

TempIni::TempIni(const std::string& content) : path_(standin::createTempIniFile("tralmo_bench")) {
    if (!path_.empty() && !standin::replaceIniFile(path_, content)) {
        DeleteFileA(path_.c_str());
        path_.clear();
    }
}

TempIni::~TempIni() {
    if (path_.empty())
        return;
    standin::releaseProfileCache(path_);
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

TrayIcon::TrayIcon(HWND window, UINT id) {
    data_.cbSize = kNotifyIconDataSize;
    data_.hWnd = window;
    data_.uID = id;
    data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data_.uCallbackMessage = WM_APP + id;
    data_.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    lstrcpynA(data_.szTip, "Bench", sizeof data_.szTip);
    Shell_NotifyIconA(NIM_ADD, &data_);
}

TrayIcon::~TrayIcon() {
    Shell_NotifyIconA(NIM_DELETE, &data_);
}

void TrayIcon::setTip(const char* text) {
    data_.uFlags = NIF_TIP;
    lstrcpynA(data_.szTip, text, kTrayTipMaxChars + 1);
    Shell_NotifyIconA(NIM_MODIFY, &data_);
}

std::string besideProgram(const char* fileName) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self);
    path.erase(path.find_last_of("\\/") + 1);
    return path + fileName;
}

} // namespace bench
