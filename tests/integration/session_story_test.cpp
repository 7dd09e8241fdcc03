// The listener's evening as a random story, checked step by step against the
// rules. Each run tells its seed; TRALMO_STORY_SEED replays one.
#include "session_story.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr unsigned kSteps = 60;

class SessionStoryTest : public PluginTest {
  protected:
    void prepare() override {
        ASSERT_TRUE(standin::writeIniContent(session_story::kIni));
        standin::setPlayState(standin::PlayState::Playing);
        ASSERT_TRUE(startSkypeForPlugin(skype_, session_story::skypeConfig()));
    }

    std::unique_ptr<standin_skype::Running> skype_;
};

TEST_F(SessionStoryTest, TheListenerSeesWhatTheRulesSay) {
    ASSERT_TRUE(waitForQuietLink());
    const char* replay = std::getenv("TRALMO_STORY_SEED");
    const unsigned seed = replay != nullptr
                              ? static_cast<unsigned>(std::strtoul(replay, nullptr, 10))
                              : GetTickCount();
    std::printf("session story: seed %u\n", seed);
    const session_story::Result result = session_story::run(seed, kSteps);
    for (const std::string& violation : result.violations)
        ADD_FAILURE() << "seed " << seed << ", " << violation;
}

} // namespace
