#include "elevation.h"

#include "import_table.h"
#include "message_filter.h"

namespace standin {
namespace {

using GetProcAddressFn = FARPROC(WINAPI*)(HMODULE, LPCSTR);
GetProcAddressFn g_systemLookUp = nullptr;

template <typename Function> FARPROC asFarProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

FARPROC WINAPI lookUp(HMODULE module, LPCSTR name) {
    if (!IS_INTRESOURCE(name) && module != nullptr && module == GetModuleHandleA("user32.dll")) {
        if (lstrcmpA(name, "ChangeWindowMessageFilterEx") == 0)
            return asFarProc(&message_filter::changeWindowMessageFilterEx);
        if (lstrcmpA(name, "ChangeWindowMessageFilter") == 0)
            return asFarProc(&message_filter::changeWindowMessageFilter);
    }
    return g_systemLookUp(module, name);
}

} // namespace

void answerFilterLookUps(HMODULE plugin) {
    void* previous =
        patchImport(plugin, "KERNEL32.dll", "GetProcAddress", reinterpret_cast<void*>(&lookUp));
    if (previous != nullptr && previous != reinterpret_cast<void*>(&lookUp))
        g_systemLookUp = reinterpret_cast<GetProcAddressFn>(previous);
    else if (g_systemLookUp == nullptr)
        g_systemLookUp = &GetProcAddress;
}

} // namespace standin
