// The record the host receives from winampGetGeneralPurposePlugin. Its layout
// is fixed by the host: seven 32-bit fields in this order.
#pragma once
#include <windows.h>

struct PluginDescriptor {
    int version;
    const char* description;
    int (*init)();
    void (*config)();
    void (*quit)();
    HWND hostWindow;          // written by the host before init
    HINSTANCE moduleInstance; // written by the host before init
};

static_assert(sizeof(PluginDescriptor) == 28, "the host expects seven 32-bit fields");

using GetGeneralPurposePluginFn = PluginDescriptor* (*)();
