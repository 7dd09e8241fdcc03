// A random story of one listener's evening: songs, calls that ring, run and
// end in every way, Skype logging out, restarting, hanging, failing a
// command, announcing itself, asking its user and being closed instead, and
// the player quitting and starting again. A small model of the rules says
// after each step what the listener must see: the music paused or playing
// and the mood Skype shows. The integration tests run a short story, the
// bench's soak a long one.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

namespace session_story {

// A new player on this thread with the plug-in running in it, beside a
// Skype that has attached it: the stage of a story. An empty text when it
// came up, else what did not. The player goes with standin::destroyPlayer.
std::string startStage(std::unique_ptr<standin_skype::Running>& skype);

struct Result {
    unsigned steps = 0;
    // "step 12 (Skype restarts): the music plays, the listener expects it paused"
    std::vector<std::string> violations;
};

// Runs `steps` random steps from `seed` on the stage; stops at the first
// violation.
Result run(unsigned seed, unsigned steps);

} // namespace session_story
