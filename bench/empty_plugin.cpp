// The smallest general-purpose plug-in a player can load: the bench's yardstick
// for what loading, starting and stopping gen_tralmo.dll costs.
#include "host/host_api.h"
#include "plugin/plugin_descriptor.h"

namespace {

int init() {
    return 0;
}
void config() {}
void quit() {}

constexpr char kDescription[] = "Empty plug-in";

PluginDescriptor gDescriptor = {
    host::kDescriptorVersion, kDescription, init, config, quit, nullptr, nullptr,
};

} // namespace

extern "C" __declspec(dllexport) PluginDescriptor* winampGetGeneralPurposePlugin() {
    return &gDescriptor;
}
