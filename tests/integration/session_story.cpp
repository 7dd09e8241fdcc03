#include "session_story.h"

#include <iterator>
#include <random>
#include <set>

namespace session_story {

namespace sk = standin_skype;

namespace {

constexpr char kIni[] = "[Tralmo]\nTRALMO_STOP_MUSIC=1\nTRALMO_USER_STRING=[%title%] [%state%]\n"
                        "TRALMO_EXIT_MOOD=Gone\n";
constexpr unsigned kCallIds = 4;
const char* const kResumingEnds[] = {"FAILED", "MISSED", "REFUSED", "CANCELLED"};
const char* const kOtherEnds[] = {"FINISHED", "BUSY",         "TRANSFERRED",
                                  "VM_SENT",  "VM_CANCELLED", "VM_FAILED"};
const char* const kGoingOn[] = {"INPROGRESS", "LOCALHOLD", "ONHOLD", "INPROGRESS"};

// A second life, ticked by hand as the first.
bool init() {
    return standin::initPlugin() && KillTimer(standin::mainWindow(), kDiscoveryTimer);
}

// Until nothing moves between the player, the plug-in and Skype.
void settle() {
    settleSkypeLink();
    sk::sync();
    settleSkypeLink();
}

enum class Event { Song, ByHand, Ring, GoOn, End, SkypeEnds, SkypeLosesUs, AskThenClose, Quit };
const char* const kEventNames[] = {"a song starts",
                                   "the listener pauses or plays",
                                   "a call rings",
                                   "a call goes on",
                                   "a call ends",
                                   "Skype logs out or restarts",
                                   "Skype loses us",
                                   "Skype asks, the user closes it",
                                   "the player quits and starts again"};

// The model: what the listener should see, and Skype's calls as Skype knows
// them.
class Story {
  public:
    explicit Story(unsigned seed) : random_(seed) {}

    Result run(unsigned steps) {
        // Songs, the listener and calls come often; Skype's troubles seldom.
        std::discrete_distribution<int> pick({6, 3, 5, 4, 5, 2, 3, 1, 1});
        Result result;
        for (; result.steps < steps && failure_.empty(); ++result.steps) {
            const auto event = static_cast<Event>(pick(random_));
            play(event);
            settle();
            const bool nowPlaying = standin::playState() == standin::PlayState::Playing;
            expect(nowPlaying == playing_, nowPlaying ? "the music plays" : "the music is paused");
            const std::string mood = sk::snapshot().mood.text;
            expect(mood == expectedMood(), "Skype shows \"" + mood + "\"");
            if (!failure_.empty())
                result.violations.push_back("step " + std::to_string(result.steps) + " (" +
                                            kEventNames[static_cast<int>(event)] +
                                            "): " + failure_ + ", not as the rules say");
        }
        return result;
    }

  private:
    void play(Event event) {
        switch (event) {
        case Event::Song:
            song_ = (song_ + 1) % static_cast<int>(standin::titles().size());
            playing_ = true;
            standin::setPosition(song_);
            standin::setPlayState(standin::PlayState::Playing, standin::Notify::SongStarted);
            break;
        case Event::ByHand:
            playing_ = !playing_;
            standin::setPlayState(playing_ ? standin::PlayState::Playing
                                           : standin::PlayState::Paused,
                                  standin::Notify::StatusChanged);
            break;
        case Event::Ring:
            if (const unsigned id = 1 + below(kCallIds); calls_.insert(id).second) {
                pauseFor(id);
                notify(id, "RINGING");
            }
            break;
        case Event::GoOn: // answered, held, taken back
            if (const unsigned id = activeCall()) {
                const char* status = kGoingOn[below(4)];
                if (std::string(status) == "INPROGRESS")
                    pauseFor(id);
                notify(id, status);
            }
            break;
        case Event::End:
            endCall();
            break;
        case Event::SkypeEnds: // its calls end with it
            if (below(2)) {
                sk::waitFor(sk::requestLogOut());
                settle();
                sk::waitFor(sk::requestLogIn());
            } else {
                sk::waitFor(sk::requestRestart());
            }
            calls_.clear();
            holding_.clear();
            break;
        case Event::SkypeLosesUs:
            losesUs();
            break;
        case Event::AskThenClose:
            askThenClose();
            break;
        case Event::Quit:
            expect(standin::quitPlugin(), "quit failed");
            expect(sk::snapshot().mood.text == "Gone", "no exit mood at quit");
            holding_.clear(); // Skype's calls go on, unheld
            expect(init(), "the second init failed");
            break;
        }
    }

    unsigned below(unsigned bound) {
        return std::uniform_int_distribution<unsigned>(0, bound - 1)(random_);
    }

    void expect(bool holds, const std::string& what) {
        if (!holds && failure_.empty())
            failure_ = what;
    }

    std::string expectedMood() const {
        return standin::titles()[static_cast<std::size_t>(song_)] +
               (playing_ ? " playing" : " paused");
    }

    void notify(unsigned id, const std::string& status) {
        expect(skypeTells("CALL " + std::to_string(id) + " STATUS " + status) == 1,
               "the plug-in did not take call " + std::to_string(id) + "'s " + status);
    }

    unsigned activeCall() {
        if (calls_.empty())
            return 0;
        auto call = calls_.begin();
        std::advance(call, below(static_cast<unsigned>(calls_.size())));
        return *call;
    }

    // A call that rings or runs while the music plays pauses it; while our
    // pause holds, it holds the pause too.
    void pauseFor(unsigned id) {
        if (playing_ || !holding_.empty())
            holding_.insert(id);
        playing_ = false;
    }

    void endCall() {
        const unsigned id = activeCall();
        if (id == 0)
            return;
        const bool resumes = below(2) != 0;
        const std::string status = resumes ? kResumingEnds[below(4)] : kOtherEnds[below(6)];
        calls_.erase(id);
        const bool held = holding_.erase(id) != 0;
        if (held && resumes && holding_.empty())
            playing_ = true;
        notify(id, status);
    }

    // A song's mood meets a Skype that fails it, or hangs over it until the
    // send gives up, or Skype announces its API anew: it is found again.
    void losesUs() {
        const unsigned how = below(3);
        if (how == 0) {
            sk::setCopyDataResult(0);
            play(Event::Song);
            settle();
            sk::setCopyDataResult(1);
        } else if (how == 1) { // the link falls quiet once the send gave up
            sk::holdCopyData(true);
            play(Event::Song);
            settleSkypeLink();
            sk::holdCopyData(false);
        } else {
            sk::sendAttach(sk::kAttachApiAvailable);
        }
        discoveryTick();
    }

    // Skype starts again and asks its user, who closes it instead; then it
    // starts again and the user allows the player.
    void askThenClose() {
        sk::updateConfig([](sk::Config& config) { config.askUser = true; });
        sk::waitFor(sk::requestForgetDecision());
        sk::waitFor(sk::requestRestart());
        calls_.clear();
        holding_.clear();
        settle();
        discoveryTick();
        settle();
        sk::waitFor(sk::requestLeave());
        for (int tick = 0; tick < 2; ++tick)
            tickAndSettle(); // the second finds Skype silent
        sk::waitFor(sk::requestReturn());
        settle();
        sk::decide(true);
        sk::updateConfig([](sk::Config& config) { config.askUser = false; });
    }

    std::mt19937 random_;
    bool playing_ = true;
    int song_ = 0;
    std::set<unsigned> holding_; // the calls that hold the music paused
    std::set<unsigned> calls_;   // Skype's active calls
    std::string failure_;
};

} // namespace

std::string startStage(std::unique_ptr<sk::Running>& skype) {
    standin::PlayerOptions options;
    options.titles = {"First Song", "Second Song", "Third Song"};
    Stage stage;
    stage.ini = kIni;
    stage.playing = true;
    stage.manualTicks = true;                        // the story knows every broadcast's cause
    stage.skype.answers = sk::CommandAnswers::Later; // SEARCH ACTIVECALLS is answered
    stage.skype.announceOnReturn = true;
    if (std::string error = startPlayer(options); !error.empty())
        return error;
    if (const testing::AssertionResult prepared = prepareStage(stage, skype); !prepared)
        return prepared.message();
    if (!standin::initPlugin())
        return "the plug-in did not start: " + standin::pluginError();
    const testing::AssertionResult entered = enterStage(stage);
    return entered ? "" : entered.message();
}

Result run(unsigned seed, unsigned steps) {
    return Story(seed).run(steps);
}

} // namespace session_story
