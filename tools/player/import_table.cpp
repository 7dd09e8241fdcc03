#include "import_table.h"

namespace {

const IMAGE_IMPORT_DESCRIPTOR* firstImport(HMODULE module) {
    const auto base = reinterpret_cast<const BYTE*>(module);
    const auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0)
        return nullptr;
    return reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
}

template <typename T> T* at(HMODULE module, DWORD rva) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

} // namespace

std::vector<std::string> importedDllNames(HMODULE module) {
    std::vector<std::string> names;
    for (auto entry = firstImport(module); entry != nullptr && entry->Name != 0; ++entry)
        names.emplace_back(at<const char>(module, entry->Name));
    return names;
}

std::size_t importedFunctionCount(HMODULE module) {
    std::size_t count = 0;
    for (auto entry = firstImport(module); entry != nullptr && entry->Name != 0; ++entry)
        for (auto names = at<IMAGE_THUNK_DATA>(module, entry->OriginalFirstThunk);
             names->u1.AddressOfData != 0; ++names)
            ++count;
    return count;
}

void* patchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    for (auto entry = firstImport(module); entry != nullptr && entry->Name != 0; ++entry) {
        if (lstrcmpiA(at<const char>(module, entry->Name), dll) != 0)
            continue;
        auto names = at<IMAGE_THUNK_DATA>(module, entry->OriginalFirstThunk);
        auto slots = at<IMAGE_THUNK_DATA>(module, entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto byName = at<IMAGE_IMPORT_BY_NAME>(module, names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            DWORD oldProtect = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &oldProtect);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<DWORD_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, oldProtect, &oldProtect);
            return previous;
        }
    }
    return nullptr;
}
