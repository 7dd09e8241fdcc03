// The listener's evening as a random story, checked step by step against the
// rules. Each run tells its seed; TRALMO_STORY_SEED replays one.
#include "session_story.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr unsigned kSteps = 40;

TEST(SessionStoryTest, TheListenerSeesWhatTheRulesSay) {
    std::unique_ptr<standin_skype::Running> skype;
    const std::string stage = session_story::startStage(skype);
    ASSERT_EQ(stage, "");
    const char* replay = std::getenv("TRALMO_STORY_SEED");
    const unsigned seed = replay != nullptr
                              ? static_cast<unsigned>(std::strtoul(replay, nullptr, 10))
                              : GetTickCount();
    std::printf("session story: seed %u\n", seed);
    for (const std::string& violation : session_story::run(seed, kSteps).violations)
        ADD_FAILURE() << "seed " << seed << ", " << violation;
    standin::destroyPlayer();
}

} // namespace
