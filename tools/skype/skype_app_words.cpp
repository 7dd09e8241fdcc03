#include "skype_app_words.h"

#include <cstdlib>
#include <cstring>

namespace skype_app {
namespace {

// "X,Y" in decimal.
bool parsePoint(const char* text, int* x, int* y) {
    char* end = nullptr;
    const long left = std::strtol(text, &end, 10);
    if (end == text || *end != ',')
        return false;
    const char* rest = end + 1;
    const long top = std::strtol(rest, &end, 10);
    if (end == rest || *end)
        return false;
    *x = static_cast<int>(left);
    *y = static_cast<int>(top);
    return true;
}

} // namespace

bool parseStatus(const std::string& text, bool* none, LONG* status) {
    *none = text == "none";
    if (*none)
        return true;
    char* end = nullptr;
    *status = std::strtol(text.c_str(), &end, 0);
    return !text.empty() && !*end;
}

bool parseNumber(const std::string& text, int* number) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || value < 1 || value > 0xFFFF)
        return false;
    *number = static_cast<int>(value);
    return true;
}

bool applySetting(const std::string& name, const std::string& value, sk::Config* config) {
    if (name == "answers")
        return parseNamed(value, kCommandAnswers, &config->answers);
    if (name == "protocol")
        return parseNumber(value, &config->highestProtocol);
    if (name == "block")
        return parseNamed(value, kBlockings, &config->blocking);
    if (name == "greet")
        return parseNamed(value, kSwitches, &config->greetAfterAttach);
    if (name == "drop")
        return parseNamed(value, kSwitches, &config->dropSlowClients);
    if (name == "user" && !value.empty()) {
        config->userHandle = value;
        return true;
    }
    return false;
}

bool parseOptions(int argc, char** argv, Options* options) {
    sk::AnswerMode mode = sk::AnswerMode::Immediate;
    bool none = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--real") == 0)
            options->config = sk::realistic(nullptr);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--real") {
            continue;
        } else if (arg == "--ask") {
            options->config.askUser = true;
        } else if (arg == "--answer" && hasValue) {
            if (!parseNamed(argv[++i], kAnswerModes, &mode))
                return false;
        } else if (arg == "--status" && hasValue) {
            if (!parseStatus(argv[++i], &none, &options->config.attachStatus))
                return false;
        } else if (arg == "--client" && hasValue) {
            options->config.client = reinterpret_cast<HWND>(
                static_cast<ULONG_PTR>(std::strtoul(argv[++i], nullptr, 16)));
        } else if (arg == "--client-process" && hasValue) {
            options->config.clientProcess =
                static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--log" && hasValue) {
            options->logPath = argv[++i];
        } else if (arg == "--at" && hasValue) {
            if (!parsePoint(argv[++i], &options->x, &options->y))
                return false;
        } else if (arg == "--send" && hasValue) {
            options->send = true;
            options->sendCommand = argv[++i];
        } else if (arg.compare(0, 2, "--") == 0 && hasValue) {
            if (!applySetting(arg.substr(2), argv[++i], &options->config))
                return false;
        } else {
            return false;
        }
    }
    options->answerMode = mode;
    options->config.answerMode = none ? sk::AnswerMode::None : mode;
    // A person watches: calls run by the clock.
    options->config.scriptClock = sk::ScriptClock::RealTime;
    return true;
}

} // namespace skype_app
