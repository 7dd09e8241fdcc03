// A random story of one listener's evening: songs, calls that ring, run and
// end in every way, Skype logging out, restarting, hanging, failing a
// command, announcing itself, asking its user and being closed instead, and
// the player quitting and starting again. A small model of the rules says
// after each step what the listener must see: the music paused or playing,
// the mood Skype shows, and how often the plug-in looks for Skype. The
// integration tests run a short story, the bench's soak a long one.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

namespace session_story {

// The ini file and the Skype a story needs, for the player it runs in.
extern const char kIni[];
standin_skype::Config skypeConfig();

struct Result {
    unsigned steps = 0;
    // "step 12 (Skype restarts): the music plays, the listener expects it paused"
    std::vector<std::string> violations;
};

// Runs `steps` random steps from `seed` against the player and plug-in of
// this thread, both started with the above and Skype attached; stops at the
// first violation.
Result run(unsigned seed, unsigned steps);

} // namespace session_story
