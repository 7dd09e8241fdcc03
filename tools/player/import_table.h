// Reading and patching a loaded module's import table: the usual way to watch
// what a Win32 module asks of the system from outside.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

// Names of the DLLs the module imports from, as its import table spells them.
std::vector<std::string> importedDllNames(HMODULE module);

// How many functions the module imports, from all its DLLs together.
std::size_t importedFunctionCount(HMODULE module);

// Points the module's import of `function` from `dll` at `replacement` and
// returns the previous target, or nullptr when the module has no such import.
void* patchImport(HMODULE module, const char* dll, const char* function, void* replacement);
