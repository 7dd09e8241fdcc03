// The message log: what the player's own procedures received, in order.
#include "player_state.h"

#include <algorithm>

namespace standin {

using namespace detail;

// ---- Message log -------------------------------------------------------------

const std::vector<LoggedMessage>& messageLog() {
    static const std::vector<LoggedMessage> none;
    return player ? player->log : none;
}

void clearLog() {
    if (!player)
        return;
    player->logBase += player->log.size();
    player->log.clear();
}

std::size_t countMessages(const std::function<bool(const LoggedMessage&)>& matches) {
    const auto& log = messageLog();
    return static_cast<std::size_t>(std::count_if(log.begin(), log.end(), matches));
}

std::size_t countMessages(Window window, UINT message) {
    return countMessages([&](const LoggedMessage& entry) {
        return entry.window == window && entry.message == message;
    });
}

std::size_t countCommands(Window window, unsigned id) {
    return countMessages([&](const LoggedMessage& entry) {
        return entry.window == window && entry.message == WM_COMMAND && LOWORD(entry.wParam) == id;
    });
}

std::size_t countQueries(long code) {
    return countMessages([&](const LoggedMessage& entry) {
        return entry.window == Window::Main && entry.message == host::kWmUser &&
               entry.lParam == code;
    });
}

std::size_t countPlaylistQueries(unsigned code) {
    return countMessages([&](const LoggedMessage& entry) {
        return entry.window == Window::Playlist && entry.message == host::kWmUser &&
               entry.wParam == code;
    });
}

std::optional<LoggedMessage> lastMessage(Window window, UINT message) {
    const auto& log = messageLog();
    const auto found = std::find_if(log.rbegin(), log.rend(), [&](const LoggedMessage& entry) {
        return entry.window == window && entry.message == message;
    });
    if (found == log.rend())
        return std::nullopt;
    return *found;
}

} // namespace standin
