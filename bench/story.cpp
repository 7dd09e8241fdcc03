// The soak's last road: a random listener's evening, many more steps of it
// than the integration tests take, against the session rules.
#include "parts.h"
#include "stats.h"

#include "session_story.h"
#include "standin_player.h"

#include <memory>

namespace bench {

void runSessionStory(int steps, Report& report) {
    std::unique_ptr<standin_skype::Running> skype;
    const std::string stage = session_story::startStage(skype);
    const unsigned seed = GetTickCount();
    const session_story::Result story = stage.empty()
                                            ? session_story::run(seed, static_cast<unsigned>(steps))
                                            : session_story::Result{0, {stage}};
    standin::destroyPlayer();
    const bool kept = story.violations.empty();
    report.add({"4j",
                format("a random listener's evening against the session rules, seed %u", seed),
                kept ? format("%u steps, every one as the rules say", story.steps)
                     : story.violations.front(),
                "", "", "no violation", holds(kept)});
}

} // namespace bench
