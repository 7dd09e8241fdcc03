// standin_player.exe: loads a plug-in into the stand-in player, plays a short
// playlist, closes as the host does and prints what crossed the boundary, then
// the plug-in's ini section.
//
//   standin_player.exe --plugin PATH [--ini PATH] [--titles "A|B|C"] [--script default]
//   standin_player.exe --plugin PATH --script demo [--ini PATH] [--skype EXE]
//                      [--skype-log FILE] [--snapshots DIR] [--pace MS]
//
// The demo script (tools/demo/demo_session.h) runs the stand-in Skype client
// beside the player and drives a whole session through both.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "standin_player.h"
#include "tools/demo/demo_session.h"

namespace {

constexpr DWORD kSettleMs = 150;
constexpr char kStreamTitle[] = "Radio Tralmo - Evening Set";
constexpr char kDefaultTitles[] =
    "Nadia Orlov - Glass Harbour|The Quiet Engines - Northbound|Pavel Ruzek - Small Hours";

struct Arguments {
    std::string plugin;
    std::string ini;
    std::string titles = kDefaultTitles;
    std::string script = "default";
    DemoOptions demo; // --script demo only
};

void printUsage() {
    std::fprintf(stderr, "usage: standin_player.exe --plugin PATH [--ini PATH] "
                         "[--titles \"A|B|C\"] [--script default]\n"
                         "       standin_player.exe --plugin PATH --script demo [--ini PATH] "
                         "[--skype EXE] [--skype-log FILE] [--snapshots DIR] [--pace MS]\n");
}

bool parseArguments(int argc, char** argv, Arguments& arguments) {
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        if (std::strcmp(option, "--plugin") == 0)
            arguments.plugin = value;
        else if (std::strcmp(option, "--ini") == 0)
            arguments.ini = value;
        else if (std::strcmp(option, "--titles") == 0)
            arguments.titles = value;
        else if (std::strcmp(option, "--script") == 0)
            arguments.script = value;
        else if (std::strcmp(option, "--skype") == 0)
            arguments.demo.skype = value;
        else if (std::strcmp(option, "--skype-log") == 0)
            arguments.demo.skypeLog = value;
        else if (std::strcmp(option, "--snapshots") == 0)
            arguments.demo.snapshots = value;
        else if (std::strcmp(option, "--pace") == 0)
            arguments.demo.paceMs = std::strtoul(value, nullptr, 10);
        else
            return false;
    }
    return !arguments.plugin.empty() &&
           (arguments.script == "default" || arguments.script == "demo");
}

std::vector<std::string> splitTitles(const std::string& text) {
    std::vector<std::string> titles;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = text.find('|', start);
        const std::string title = text.substr(start, bar - start);
        if (!title.empty())
            titles.push_back(title);
        if (bar == std::string::npos)
            return titles;
        start = bar + 1;
    }
}

std::string playerState() {
    const int position = standin::position();
    const auto& titles = standin::titles();
    const std::string title = position >= 0 && static_cast<std::size_t>(position) < titles.size()
                                  ? titles[position]
                                  : "(none)";
    return std::string(standin::stateName(standin::playState())) + ", entry " +
           std::to_string(position + 1) + " \"" + title + "\", volume " +
           std::to_string(standin::volume()) + ", caption \"" +
           standin::ansiFromWide(standin::mainCaption()) + "\"";
}

// Prints what the player's windows received during the step, nested as it
// happened, leaving out painting and other window-manager traffic.
void printTranscript() {
    for (const standin::LoggedMessage& entry : standin::messageLog())
        if (standin::isNotable(entry))
            std::printf("  %*s%s\n", 2 * entry.depth, "", standin::describe(entry).c_str());
}

// One host action: runs it, lets queued messages settle, prints the result.
template <typename Action> bool runStep(const char* title, Action action) {
    std::printf("\n== %s\n", title);
    standin::clearLog();
    const bool ok = action();
    standin::pumpFor(kSettleMs);
    printTranscript();
    if (!ok)
        std::printf("  FAILED: %s\n", standin::pluginError().c_str());
    std::printf("  player: %s\n", playerState().c_str());
    std::fflush(stdout);
    return ok;
}

bool command(unsigned id) {
    standin::sendCommand(id);
    return true;
}

bool runDefaultScript(const Arguments& arguments) {
    bool ok = runStep("load", [&] {
        if (!standin::loadPlugin(arguments.plugin))
            return false;
        const PluginDescriptor* descriptor = standin::describePlugin();
        if (!descriptor)
            return false;
        std::printf("  descriptor: version 0x%X, \"%s\"\n", descriptor->version,
                    descriptor->description ? descriptor->description : "(null)");
        return true;
    });
    if (!ok)
        return false;
    ok &= runStep("init", [] {
        int result = 0;
        const bool done = standin::initPlugin(&result);
        if (done)
            std::printf("  init returned %d\n", result);
        return done;
    });
    ok &= runStep("play", [] { return command(host::kCommandPlay); });
    ok &= runStep("next", [] { return command(host::kCommandNext); });
    ok &= runStep("pause", [] { return command(host::kCommandPause); });
    ok &= runStep("resume (play while paused)", [] { return command(host::kCommandPlay); });
    ok &= runStep("a stream names its next song (no new song start)", [] {
        standin::updateStreamTitle(std::string(kStreamTitle));
        return true;
    });
    ok &= runStep("volume 200", [] {
        standin::setVolume(200);
        return true;
    });
    ok &= runStep("stop", [] { return command(host::kCommandStop); });
    ok &= runStep("close (WM_CLOSE): the windows go, the loop ends, then quit",
                  [] { return standin::closePlayer(); });
    std::printf("  the plug-in is still loaded: %s\n", standin::pluginModule() ? "yes" : "no");
    return ok;
}

void printIniSection() {
    std::printf("\n== [%s] in %s\n", kIniSection, standin::iniPath().c_str());
    const auto lines = standin::readIniSection(kIniSection);
    if (lines.empty())
        std::printf("  (empty)\n");
    for (const std::string& line : lines)
        std::printf("  %s\n", line.c_str());
}

} // namespace

int main(int argc, char** argv) {
    standin::installCrashFilter();
    Arguments arguments;
    if (!parseArguments(argc, argv, arguments)) {
        printUsage();
        return 2;
    }
    if (arguments.script == "demo") {
        arguments.demo.plugin = arguments.plugin;
        arguments.demo.ini = arguments.ini;
        return runDemoSession(arguments.demo);
    }
    standin::PlayerOptions options;
    options.titles = splitTitles(arguments.titles);
    options.iniPath = arguments.ini;
    if (options.titles.empty()) { // "Play" would wait in the Open file dialog
        std::fprintf(stderr, "standin_player: --titles names no title\n");
        return 2;
    }
    if (!standin::createPlayer(options)) {
        std::fprintf(stderr, "standin_player: %s\n", standin::pluginError().c_str());
        return 1;
    }
    std::printf("stand-in player: %u entries, ini %s\n"
                "Each line is a message a player window received and what the player answered;\n"
                "indented lines arrived while the line above was being handled. A plug-in's\n"
                "subclass sees a message first, so its own queries precede the message.\n",
                static_cast<unsigned>(standin::titles().size()), standin::iniPath().c_str());
    const bool ok = runDefaultScript(arguments);
    printIniSection();
    standin::destroyPlayer();
    std::fflush(stdout);
    return ok ? 0 : 1;
}
