#include "session_story.h"

#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <set>

namespace session_story {

namespace sk = standin_skype;

namespace {

constexpr char kIni[] = "[Tralmo]\nTRALMO_STOP_MUSIC=1\nTRALMO_USER_STRING=[%title%] [%state%]\n"
                        "TRALMO_EXIT_MOOD=Gone\n";

constexpr unsigned kCallIds = 4;
constexpr DWORD kHangMs = 1500; // outlasts the bound of one send
// While the search has gone quiet, a minute (12 ticks) may hold the first
// minute's 12 broadcasts, the one that found Skype silent, and the patient
// ones.
constexpr unsigned kQuietSearchTicks = 24;
constexpr std::size_t kMostQuietBroadcasts = 1 + 12 + 2;

const char* const kResumingEnds[] = {"FAILED", "MISSED", "REFUSED", "CANCELLED"};
const char* const kOtherEnds[] = {"FINISHED", "BUSY",         "TRANSFERRED",
                                  "VM_SENT",  "VM_CANCELLED", "VM_FAILED"};

// What the listener should see, and Skype's calls as Skype knows them.
struct Model {
    bool playing = true;
    int song = 0;
    std::set<unsigned> holding;        // the calls that hold the music paused
    std::map<unsigned, bool> answered; // Skype's active calls: answered or ringing
    std::string mood() const {
        return standin::titles()[static_cast<std::size_t>(song)] +
               (playing ? " playing" : " paused");
    }
};

std::size_t broadcasts() {
    const UINT discover = registeredMessage(sk::kDiscoverMessageName);
    std::size_t count = 0;
    for (const ApiCall& call : recordedCalls({"SendMessageTimeoutA"}))
        count +=
            call.args[0] == reinterpret_cast<DWORD_PTR>(HWND_BROADCAST) && call.args[1] == discover;
    return count;
}

void tick() {
    sendToHost(WM_TIMER, kDiscoveryTimer, 0);
}

// Until nothing moves between the player, the plug-in and Skype.
void settle() {
    settleSkypeLink();
    sk::sync();
    settleSkypeLink();
}

class Story {
  public:
    explicit Story(unsigned seed) : random_(seed) {}

    Result run(unsigned steps) {
        Result result;
        const std::vector<std::pair<const char*, std::function<void()>>> events = {
            {"a song starts", [this] { nextSong(); }},
            {"the listener pauses or plays", [this] { toggleByHand(); }},
            {"a call rings", [this] { ring(); }},
            {"a call is answered", [this] { answer(); }},
            {"a call is put on hold", [this] { hold(); }},
            {"a call ends", [this] { endCall(); }},
            {"Skype logs out and in", [this] { logOutAndIn(); }},
            {"Skype restarts", [this] { restart(); }},
            {"a command fails", [this] { failCommand(false); }},
            {"Skype hangs over a command", [this] { failCommand(true); }},
            {"Skype announces its API", [this] { announce(); }},
            {"Skype asks its user, who closes it", [this] { askThenClose(); }},
            {"a tick", [this] { attachedTick(); }},
            {"the player quits and starts again", [this] { quitAndStart(); }},
        };
        // Songs, the listener and calls come often; Skype's troubles seldom.
        std::discrete_distribution<std::size_t> pick({6, 3, 5, 3, 2, 5, 1, 1, 1, 1, 1, 1, 2, 1});
        for (result.steps = 0; result.steps < steps && failure_.empty(); ++result.steps) {
            const auto& event = events[pick(random_)];
            event.second();
            settle();
            check();
            if (!failure_.empty())
                result.violations.push_back("step " + std::to_string(result.steps) + " (" +
                                            event.first + "): " + failure_);
        }
        return result;
    }

  private:
    unsigned randomBelow(unsigned bound) {
        return std::uniform_int_distribution<unsigned>(0, bound - 1)(random_);
    }

    void expect(bool holds, const std::string& what) {
        if (!holds && failure_.empty())
            failure_ = what;
    }

    void check() {
        const bool playing = standin::playState() == standin::PlayState::Playing;
        expect(playing == model_.playing, std::string("the music ") +
                                              (playing ? "plays" : "is paused") +
                                              ", the listener expects otherwise");
        const std::string mood = sk::snapshot().mood.text;
        expect(mood == model_.mood(),
               "Skype shows \"" + mood + "\", not \"" + model_.mood() + "\"");
    }

    void setPlaying(bool playing) {
        model_.playing = playing;
        standin::setPlayState(playing ? standin::PlayState::Playing : standin::PlayState::Paused,
                              standin::Notify::StatusChanged);
    }

    void nextSong() {
        model_.song = (model_.song + 1) % static_cast<int>(standin::titles().size());
        model_.playing = true;
        standin::setPosition(model_.song);
        standin::setPlayState(standin::PlayState::Playing, standin::Notify::SongStarted);
    }

    void toggleByHand() { setPlaying(!model_.playing); }

    void notify(unsigned id, const std::string& status) {
        expect(sk::sendNotification("CALL " + std::to_string(id) + " STATUS " + status).delivered,
               "Skype could not tell the plug-in of call " + std::to_string(id));
    }

    // An active call of Skype's, answered or not as asked; 0 when none.
    unsigned activeCall(bool answered) {
        std::vector<unsigned> ids;
        for (const auto& [id, isAnswered] : model_.answered)
            if (isAnswered == answered)
                ids.push_back(id);
        return ids.empty() ? 0 : ids[randomBelow(static_cast<unsigned>(ids.size()))];
    }

    // A call that rings or runs while the music plays pauses it; while our
    // pause holds, it holds the pause too.
    void pauseFor(unsigned id) {
        if (model_.playing) {
            model_.playing = false;
            model_.holding.insert(id);
        } else if (!model_.holding.empty()) {
            model_.holding.insert(id);
        }
    }

    void ring() {
        const unsigned id = 1 + randomBelow(kCallIds);
        if (model_.answered.count(id) != 0)
            return;
        model_.answered[id] = false;
        pauseFor(id);
        notify(id, "RINGING");
    }

    void answer() {
        if (const unsigned id = activeCall(false)) {
            model_.answered[id] = true;
            pauseFor(id);
            notify(id, "INPROGRESS");
        }
    }

    void hold() {
        if (const unsigned id = activeCall(true))
            notify(id, randomBelow(2) ? "LOCALHOLD" : "ONHOLD");
    }

    // Ends an active call; `heard`: the plug-in has a session to hear it.
    void endActiveCall(bool heard) {
        const unsigned id = activeCall(randomBelow(2) != 0);
        if (id == 0)
            return;
        const bool resumes = randomBelow(2) != 0;
        const std::string status =
            resumes ? kResumingEnds[randomBelow(4)] : kOtherEnds[randomBelow(6)];
        model_.answered.erase(id);
        if (heard) {
            const bool held = model_.holding.erase(id) != 0;
            if (held && resumes && model_.holding.empty() && !model_.playing)
                model_.playing = true;
            notify(id, status);
            return;
        }
        model_.holding.erase(id); // Skype will not list it
        sk::sendNotification("CALL " + std::to_string(id) + " STATUS " + status);
    }

    void endCall() { endActiveCall(true); }

    // Skype's calls end with it; the plug-in forgets the ones it held.
    void skypeEndsItsCalls() {
        model_.answered.clear();
        model_.holding.clear();
    }

    void logOutAndIn() {
        sk::waitFor(sk::requestLogOut());
        skypeEndsItsCalls();
        settle();
        sk::waitFor(sk::requestLogIn());
    }

    void restart() {
        sk::waitFor(sk::requestRestart());
        skypeEndsItsCalls();
    }

    // A song's mood meets a Skype that fails it; the next tick finds Skype
    // again, which says which calls go on. One may end meanwhile, unheard.
    void failCommand(bool hang) {
        if (hang)
            sk::waitFor(sk::requestHang(kHangMs));
        else
            sk::setCopyDataResult(0);
        nextSong();
        settle();
        sk::setCopyDataResult(1);
        if (randomBelow(2))
            endActiveCall(false);
        tick();
    }

    void announce() {
        sk::sendAttach(sk::kAttachApiAvailable);
        settle();
        if (randomBelow(2))
            endActiveCall(true);
    }

    // Skype starts again and asks its user, who closes it instead: the search
    // goes quiet. Then Skype starts again and the user allows the player.
    void askThenClose() {
        sk::updateConfig([](sk::Config& config) { config.askUser = true; });
        sk::waitFor(sk::requestForgetDecision());
        sk::waitFor(sk::requestRestart());
        skypeEndsItsCalls();
        settle();
        tick();
        settle();
        sk::waitFor(sk::requestLeave());
        const std::size_t before = broadcasts();
        for (unsigned i = 0; i < kQuietSearchTicks; ++i) {
            tick();
            settleSkypeLink();
        }
        expect(broadcasts() - before <= kMostQuietBroadcasts,
               std::to_string(broadcasts() - before) + " broadcasts in two minutes of silence");
        sk::waitFor(sk::requestReturn());
        settle();
        sk::decide(true);
        sk::updateConfig([](sk::Config& config) { config.askUser = false; });
    }

    void attachedTick() {
        const std::size_t before = broadcasts();
        tick();
        settle();
        expect(broadcasts() == before, "a tick looked for the Skype that is attached");
    }

    void quitAndStart() {
        expect(standin::quitPlugin(), "quit failed");
        const std::string mood = sk::snapshot().mood.text;
        expect(mood == "Gone", "Skype shows \"" + mood + "\" after quit, not the exit mood");
        model_.holding.clear(); // Skype's calls go on, unheld
        expect(standin::initPlugin(), "the second init failed");
    }

    std::mt19937 random_;
    Model model_;
    std::string failure_;
};

} // namespace

std::string startStage(std::unique_ptr<sk::Running>& skype) {
    standin::PlayerOptions options;
    options.titles = {"First Song", "Second Song", "Third Song"};
    if (!standin::createPlayer(options) || !standin::loadPlugin(pluginPath()))
        return "no player with the plug-in: " + standin::pluginError();
    startRecordingApi(standin::pluginModule());
    standin::writeIniContent(kIni);
    standin::setPlayState(standin::PlayState::Playing);
    sk::Config config;
    config.answers = sk::CommandAnswers::Later; // SEARCH ACTIVECALLS is answered
    config.announceOnReturn = true;
    if (!startSkypeForPlugin(skype, config) || !standin::describePlugin() || !standin::initPlugin())
        return "the plug-in or Skype did not start: " + standin::pluginError();
    if (!waitForQuietLink())
        return "Skype did not attach the plug-in";
    return {};
}

Result run(unsigned seed, unsigned steps) {
    return Story(seed).run(steps);
}

} // namespace session_story
