// The stand-in Skype client on its own, against a small client window of
// ours: what it answers, what it reports of calls by protocol, how it
// attaches, announces and restarts, which calls it still counts active, and
// which clients it flags as slow.
#include <windows.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "standin_skype.h"

namespace {

namespace sk = standin_skype;

constexpr char kClientClass[] = "TralmoTestSkypeClient";
// What a client of ours waits for Skype; a hung Skype costs this.
constexpr UINT kClientTimeoutMs = 3000;
// A client that gives up on Skype sooner than a held Discover lasts.
constexpr UINT kHurriedClientMs = 100;
constexpr DWORD kSlowHandlerMs = 2 * sk::kSlowClientMs;

// One message that reached a client window.
struct Received {
    enum Kind { CopyData, Attach } kind;
    HWND sender;
    std::string text;   // CopyData
    LONG status;        // Attach
    bool duringCommand; // arrived while the client's own send (a command, Discover) waited
};

// A top-level window (so that broadcasts reach it) on the test thread, which
// records what Skype sends it and talks to Skype as a client does.
class Client {
  public:
    Client() {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kClientClass;
        RegisterClassA(&windowClass);
        window_ = CreateWindowExA(0, kClientClass, "client", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Client() { DestroyWindow(window_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    HWND window() const { return window_; }
    const std::vector<Received>& received() const { return received_; }
    void clear() { received_.clear(); }

    // Called for every WM_COPYDATA text, and every Attach status, before it
    // is answered with 1.
    std::function<void(const std::string&)> onCopyData;
    std::function<void(LONG)> onAttach;

    // Sends a command as the text and its terminator; returns what the send
    // gave (0 when it failed).
    LRESULT command(const std::string& text, HWND skype = sk::skypeWindow()) {
        return commandBytes(std::string(text.c_str(), text.size() + 1), skype);
    }
    LRESULT commandBytes(const std::string& bytes, HWND skype = sk::skypeWindow()) {
        COPYDATASTRUCT data{0, static_cast<DWORD>(bytes.size()), const_cast<char*>(bytes.data())};
        DWORD_PTR result = 0;
        ++commandsWaiting_;
        const LRESULT sent = SendMessageTimeoutA(
            skype, WM_COPYDATA, reinterpret_cast<WPARAM>(window_), reinterpret_cast<LPARAM>(&data),
            SMTO_NORMAL, kClientTimeoutMs, &result);
        --commandsWaiting_;
        return sent ? static_cast<LRESULT>(result) : 0;
    }

    // The Discover, sent to Skype's window alone rather than broadcast, so
    // that no other program under the wineserver hears it. False when the
    // send gave up.
    bool discover(UINT timeoutMs = kClientTimeoutMs) {
        DWORD_PTR ignored = 0;
        ++commandsWaiting_;
        const LRESULT sent = SendMessageTimeoutA(
            sk::skypeWindow(), RegisterWindowMessageA(sk::kDiscoverMessageName),
            reinterpret_cast<WPARAM>(window_), 0, SMTO_NORMAL, timeoutMs, &ignored);
        --commandsWaiting_;
        return sent != 0;
    }

    std::vector<LONG> attachStatuses() const {
        std::vector<LONG> statuses;
        for (const Received& r : received_)
            if (r.kind == Received::Attach)
                statuses.push_back(r.status);
        return statuses;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> texts;
        for (const Received& r : received_)
            if (r.kind == Received::CopyData)
                texts.push_back(r.text);
        return texts;
    }

  private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Client*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == WM_COPYDATA) {
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            const char* bytes = static_cast<const char*>(data->lpData);
            const std::string text =
                bytes ? std::string(bytes, strnlen(bytes, data->cbData)) : std::string();
            self->received_.push_back({Received::CopyData, reinterpret_cast<HWND>(wParam), text, 0,
                                       self->commandsWaiting_ > 0});
            if (self->onCopyData)
                self->onCopyData(text);
            return 1;
        }
        if (self && message == RegisterWindowMessageA(sk::kAttachMessageName)) {
            self->received_.push_back({Received::Attach, reinterpret_cast<HWND>(wParam), "",
                                       static_cast<LONG>(lParam), self->commandsWaiting_ > 0});
            if (self->onAttach)
                self->onAttach(static_cast<LONG>(lParam));
            return 1;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    std::vector<Received> received_;
    int commandsWaiting_ = 0;
};

class StandInSkypeTest : public testing::Test {
  protected:
    void TearDown() override { sk::stop(); }

    // Our client only, with `change` applied to the configuration.
    void startSkype(const std::function<void(sk::Config&)>& change = {}) {
        sk::Config config;
        config.client = client_.window();
        if (change)
            change(config);
        ASSERT_TRUE(sk::start(config));
    }

    // Discover and wait for the attach answer; true when it was Success.
    bool attach() {
        client_.clear();
        client_.discover();
        sk::sync();
        const auto statuses = client_.attachStatuses();
        return !statuses.empty() && statuses.back() == sk::kAttachSuccess;
    }

    // A command, then whatever Skype sends by the time it has caught up.
    std::vector<std::string> exchange(const std::string& text) {
        client_.clear();
        client_.command(text);
        sk::sync();
        return client_.texts();
    }
    std::string answerTo(const std::string& text) {
        const auto texts = exchange(text);
        return texts.empty() ? "(no answer)" : texts.back();
    }

    Client client_;
};

// ---- Commands and their answers ----

class AnsweringTest : public StandInSkypeTest {
  protected:
    void SetUp() override {
        startSkype([](sk::Config& c) { c.answers = sk::CommandAnswers::Nested; });
        ASSERT_TRUE(attach());
    }
};

TEST_F(AnsweringTest, ProtocolIsTheLowerOfTheClientsAndSkypes) {
    EXPECT_EQ(sk::snapshot().clientProtocol, sk::kInitialProtocol) << "before any PROTOCOL";
    EXPECT_EQ(answerTo("PROTOCOL 7"), "PROTOCOL 7");
    EXPECT_EQ(sk::snapshot().clientProtocol, 7);
    EXPECT_EQ(answerTo("PROTOCOL 99"), "PROTOCOL 8");
    EXPECT_EQ(sk::snapshot().clientProtocol, 8);
    EXPECT_EQ(answerTo("PROTOCOL 2"), "PROTOCOL 2");
    EXPECT_EQ(answerTo("PROTOCOL seven").rfind("ERROR ", 0), 0u);
    EXPECT_EQ(sk::snapshot().clientProtocol, 2) << "a bad PROTOCOL changes nothing";

    sk::updateConfig([](sk::Config& c) { c.highestProtocol = 5; });
    EXPECT_EQ(answerTo("PROTOCOL 7"), "PROTOCOL 5");

    ASSERT_TRUE(attach());
    EXPECT_EQ(sk::snapshot().clientProtocol, sk::kInitialProtocol) << "every attach starts afresh";
}

TEST_F(AnsweringTest, RichMoodNeedsProtocol7) {
    EXPECT_EQ(answerTo("SET PROFILE RICH_MOOD_TEXT <b>Song</b>").rfind("ERROR ", 0), 0u);
    EXPECT_FALSE(sk::snapshot().moodSet);

    // As the plug-in sends it: the text, its terminator and one more zero.
    client_.clear();
    client_.commandBytes(std::string("SET PROFILE MOOD_TEXT Song\0\0", 28));
    sk::sync();
    EXPECT_EQ(client_.texts(), std::vector<std::string>{"PROFILE MOOD_TEXT Song"});
    const sk::Snapshot plain = sk::snapshot();
    EXPECT_TRUE(plain.moodSet);
    EXPECT_EQ(plain.mood.text, "Song");
    EXPECT_FALSE(plain.mood.rich);

    answerTo("PROTOCOL 6");
    EXPECT_EQ(answerTo("SET PROFILE RICH_MOOD_TEXT <b>Other</b>").rfind("ERROR ", 0), 0u);
    EXPECT_EQ(sk::snapshot().mood.text, "Song");

    answerTo("PROTOCOL 7");
    EXPECT_EQ(answerTo("SET PROFILE RICH_MOOD_TEXT <b>Other</b>"),
              "PROFILE RICH_MOOD_TEXT <b>Other</b>");
    const sk::Mood rich = sk::snapshot().mood;
    EXPECT_EQ(rich.text, "<b>Other</b>");
    EXPECT_TRUE(rich.rich);
    EXPECT_EQ(answerTo("GET PROFILE MOOD_TEXT"), "PROFILE MOOD_TEXT Other");
}

// As Skype parses it, a rich mood must be a well-formed XML fragment; the
// quiet Skype of older tests takes anything.
TEST_F(AnsweringTest, RealisticSkypeRefusesMalformedRichMood) {
    answerTo("PROTOCOL 7");
    EXPECT_EQ(answerTo("SET PROFILE RICH_MOOD_TEXT Simon & Garfunkel"),
              "PROFILE RICH_MOOD_TEXT Simon & Garfunkel");

    sk::updateConfig(
        [](sk::Config& c) { c.checkRichMarkup = sk::realistic(nullptr).checkRichMarkup; });
    EXPECT_EQ(answerTo("SET PROFILE RICH_MOOD_TEXT <b>Simon &amp; Garfunkel</b>"),
              "PROFILE RICH_MOOD_TEXT <b>Simon &amp; Garfunkel</b>");
    for (const char* malformed : {"Simon & Garfunkel", "Song <Live>", "<b>open", "&nbsp;"}) {
        EXPECT_EQ(
            answerTo(std::string("SET PROFILE RICH_MOOD_TEXT ") + malformed).rfind("ERROR ", 0), 0u)
            << malformed;
        EXPECT_EQ(sk::snapshot().mood.text, "<b>Simon &amp; Garfunkel</b>") << "the old mood stays";
    }
    EXPECT_EQ(answerTo("#4 SET PROFILE RICH_MOOD_TEXT a<b"),
              "#4 " + sk::errorText(sk::kErrorMalformedRichMood));
    // Plain mood text is no XML.
    EXPECT_EQ(answerTo("SET PROFILE MOOD_TEXT Song <Live> & more"),
              "PROFILE MOOD_TEXT Song <Live> & more");
    EXPECT_FALSE(sk::snapshot().mood.rich);
}

TEST_F(AnsweringTest, EveryCommandIsAnswered) {
    EXPECT_EQ(answerTo("FROBNICATE"), "ERROR 2 Unknown command");
    EXPECT_EQ(answerTo(""), "ERROR 2 Unknown command");
    EXPECT_EQ(answerTo("#12 PING"), "#12 PONG") << "a command id comes back";
    EXPECT_EQ(answerTo("GET CURRENTUSERHANDLE"),
              std::string("CURRENTUSERHANDLE ") + sk::kDefaultUserHandle);
    const std::string chat = answerTo("CHAT CREATE dorvenak");
    EXPECT_EQ(chat.rfind(std::string("CHAT #") + sk::kDefaultUserHandle + "/$dorvenak;", 0), 0u)
        << chat;
    EXPECT_NE(chat.find(" STATUS DIALOG"), std::string::npos) << chat;
    // Unterminated: read within cbData all the same.
    client_.clear();
    client_.commandBytes("PING");
    sk::sync();
    EXPECT_EQ(client_.texts(), std::vector<std::string>{"PONG"});
    const auto sent = sk::snapshot().sent;
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().kind, sk::SentKind::Answer);
    EXPECT_EQ(sent.back().target, client_.window());
}

struct AnswerCase {
    const char* name;
    sk::CommandAnswers mode;
    bool answered;
    bool duringCommand;
};

void PrintTo(const AnswerCase& c, std::ostream* out) {
    *out << c.name;
}

class AnswerModeTest : public StandInSkypeTest, public testing::WithParamInterface<AnswerCase> {};

TEST_P(AnswerModeTest, AnswerComesInsideTheSendOrAfterIt) {
    startSkype([](sk::Config& c) { c.answers = GetParam().mode; });
    ASSERT_TRUE(attach());
    const auto texts = exchange("PROTOCOL 7");
    ASSERT_EQ(texts.size(), GetParam().answered ? 1u : 0u);
    if (!GetParam().answered)
        return;
    EXPECT_EQ(texts[0], "PROTOCOL 7");
    EXPECT_EQ(client_.received().back().duringCommand, GetParam().duringCommand);
    EXPECT_EQ(client_.received().back().sender, sk::skypeWindow());
    EXPECT_EQ(sk::snapshot().sent.back().insideCommand, GetParam().duringCommand);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AnswerModeTest,
    testing::Values(AnswerCase{"None", sk::CommandAnswers::None, false, false},
                    AnswerCase{"Nested", sk::CommandAnswers::Nested, true, true},
                    AnswerCase{"Later", sk::CommandAnswers::Later, true, false}),
    [](const testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

TEST_F(StandInSkypeTest, AnswersOnlyTheClientItServes) {
    startSkype([](sk::Config& c) { c.answers = sk::CommandAnswers::Nested; });
    Client stranger;
    stranger.discover();
    EXPECT_EQ(stranger.command("SET PROFILE MOOD_TEXT not mine"), 1);
    sk::sync();
    EXPECT_TRUE(stranger.received().empty()) << "no Attach, no answer";
    const sk::Snapshot skype = sk::snapshot();
    EXPECT_FALSE(skype.moodSet);
    EXPECT_EQ(skype.discovers, 0u);
    ASSERT_EQ(skype.records.size(), 1u);
    EXPECT_FALSE(skype.records[0].carriedOut);
}

TEST_F(StandInSkypeTest, OnlyAttachedClientsCommand) {
    startSkype([](sk::Config& c) {
        c.onlyAttachedClients = true;
        c.answerMode = sk::AnswerMode::None;
    });
    EXPECT_EQ(client_.command("SET PROFILE MOOD_TEXT early"), 0) << "not attached yet";
    EXPECT_FALSE(sk::snapshot().moodSet);
    ASSERT_TRUE(sk::sendAttach(sk::kAttachSuccess).delivered);
    EXPECT_EQ(client_.command("SET PROFILE MOOD_TEXT now"), 1);
    EXPECT_EQ(sk::snapshot().mood.text, "now");
    EXPECT_EQ(sk::recordCount(), 2u) << "the refused command was seen all the same";
}

// ---- Attaching ----

// A client may speak as soon as it hears Success, from inside its handler.
TEST_F(StandInSkypeTest, AttachedBeforeItHearsSuccess) {
    startSkype([](sk::Config& c) {
        c.onlyAttachedClients = true;
        c.answers = sk::CommandAnswers::Nested;
    });
    LRESULT taken = 0;
    client_.onAttach = [this, &taken](LONG status) {
        if (status == sk::kAttachSuccess)
            taken = client_.command("PROTOCOL 7");
    };
    ASSERT_TRUE(attach());
    client_.onAttach = nullptr;
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(client_.texts(), std::vector<std::string>{"PROTOCOL 7"});
    EXPECT_EQ(sk::snapshot().clientProtocol, 7);
}

TEST_F(StandInSkypeTest, GreetsAfterASuccessfulAttach) {
    startSkype([](sk::Config& c) { c.greetAfterAttach = true; });
    ASSERT_TRUE(attach());
    ASSERT_EQ(client_.received().size(), 4u);
    EXPECT_EQ(client_.received()[0].kind, Received::Attach);
    EXPECT_EQ(client_.texts(),
              (std::vector<std::string>{"CONNSTATUS ONLINE",
                                        std::string("CURRENTUSERHANDLE ") + sk::kDefaultUserHandle,
                                        "USERSTATUS ONLINE"}));
    for (const Received& r : client_.received())
        EXPECT_EQ(r.sender, sk::skypeWindow());
    EXPECT_EQ(sk::snapshot().attachedClient, client_.window());
}

TEST_F(StandInSkypeTest, AsksTheUserThenAllows) {
    startSkype([](sk::Config& c) {
        c.askUser = true;
        c.greetAfterAttach = true;
    });
    EXPECT_FALSE(attach());
    EXPECT_EQ(client_.attachStatuses(), std::vector<LONG>{sk::kAttachPendingAuthorization});
    EXPECT_TRUE(client_.texts().empty()) << "no greeting while pending";
    const sk::Snapshot asking = sk::snapshot();
    EXPECT_EQ(asking.pendingClient, client_.window());
    EXPECT_EQ(asking.attachedClient, nullptr);

    client_.clear();
    ASSERT_TRUE(sk::decide(true).delivered);
    EXPECT_EQ(client_.attachStatuses(), std::vector<LONG>{sk::kAttachSuccess});
    EXPECT_EQ(client_.texts().size(), 3u);
    const sk::Snapshot allowed = sk::snapshot();
    EXPECT_EQ(allowed.attachedClient, client_.window());
    EXPECT_EQ(allowed.pendingClient, nullptr);

    EXPECT_TRUE(attach()) << "the decision is remembered";
    EXPECT_EQ(client_.attachStatuses(), std::vector<LONG>{sk::kAttachSuccess});
}

TEST_F(StandInSkypeTest, AsksTheUserThenRefuses) {
    startSkype([](sk::Config& c) {
        c.askUser = true;
        c.onlyAttachedClients = true;
    });
    EXPECT_FALSE(attach());
    client_.clear();
    sk::decide(false);
    EXPECT_EQ(client_.attachStatuses(), std::vector<LONG>{sk::kAttachRefused});
    EXPECT_EQ(sk::snapshot().attachedClient, nullptr);
    EXPECT_FALSE(attach());
    EXPECT_EQ(client_.attachStatuses(), std::vector<LONG>{sk::kAttachRefused});
    EXPECT_EQ(client_.command("SET PROFILE MOOD_TEXT x"), 0);
}

TEST_F(StandInSkypeTest, LogOutSaysNotAvailableAndLogInAnnounces) {
    startSkype();
    ASSERT_TRUE(attach());
    client_.clear();
    ASSERT_TRUE(sk::waitFor(sk::requestLogOut()).delivered);
    ASSERT_EQ(client_.received().size(), 1u);
    EXPECT_EQ(client_.received()[0].status, sk::kAttachNotAvailable);
    EXPECT_EQ(client_.received()[0].sender, sk::skypeWindow());
    EXPECT_EQ(sk::snapshot().attachedClient, nullptr);
    EXPECT_FALSE(attach());
    EXPECT_EQ(client_.attachStatuses(), std::vector<LONG>{sk::kAttachNotAvailable});

    client_.clear();
    ASSERT_TRUE(sk::waitFor(sk::requestLogIn()).completed);
    ASSERT_EQ(client_.attachStatuses(), std::vector<LONG>{sk::kAttachApiAvailable})
        << "the broadcast reaches every top-level window";
    EXPECT_EQ(client_.received()[0].sender, sk::skypeWindow());
    EXPECT_TRUE(attach());
}

TEST_F(StandInSkypeTest, RestartGivesANewWindowAndAnnouncesIt) {
    startSkype();
    ASSERT_TRUE(attach());
    const HWND old = sk::skypeWindow();
    client_.clear();
    ASSERT_TRUE(sk::waitFor(sk::requestRestart()).delivered);
    const HWND fresh = sk::skypeWindow();
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, old);
    EXPECT_FALSE(IsWindow(old));
    ASSERT_EQ(client_.attachStatuses(), std::vector<LONG>{sk::kAttachApiAvailable});
    EXPECT_EQ(client_.received()[0].sender, fresh);
    EXPECT_EQ(sk::snapshot().attachedClient, nullptr) << "a new Skype knows no client";
    EXPECT_EQ(client_.command("PING", old), 0) << "the old window is gone";
    EXPECT_TRUE(attach());
}

TEST_F(StandInSkypeTest, ReturnAnnouncesOnlyWhenConfigured) {
    startSkype();
    sk::waitFor(sk::requestLeave());
    sk::waitFor(sk::requestReturn());
    sk::sync();
    EXPECT_TRUE(client_.attachStatuses().empty());

    sk::updateConfig([](sk::Config& c) { c.announceOnReturn = true; });
    sk::waitFor(sk::requestLeave());
    sk::waitFor(sk::requestReturn());
    EXPECT_EQ(client_.attachStatuses(), std::vector<LONG>{sk::kAttachApiAvailable});
}

// Skype stays in its Discover handler after it answered: the client hears
// Success, and its send of the Discover gives up all the same.
TEST_F(StandInSkypeTest, HeldDiscoverAttachesThoughTheSendGivesUp) {
    startSkype([](sk::Config& c) { c.discoverHangAfterAnswerMs = sk::kSlowClientMs; });
    client_.clear();
    EXPECT_FALSE(client_.discover(kHurriedClientMs));
    ASSERT_TRUE(sk::sync());
    EXPECT_EQ(client_.attachStatuses(), std::vector<LONG>{sk::kAttachSuccess});
    EXPECT_EQ(sk::snapshot().attachedClient, client_.window());
}

// ---- Calls ----

struct ScriptCase {
    const char* name;
    sk::CallScript script;
    int protocol;
    std::vector<std::string> statuses; // of the first call
};

std::vector<ScriptCase> scriptCases() {
    using S = sk::CallScript;
    return {
        {"IncomingP1", S::Incoming, 1, {"RINGING", "INPROGRESS", "FINISHED"}},
        {"IncomingP8", S::Incoming, 8, {"RINGING", "INPROGRESS", "FINISHED"}},
        {"Refused", S::Refused, 8, {"RINGING", "REFUSED"}},
        {"Missed", S::Missed, 8, {"RINGING", "MISSED"}},
        {"CancelledP1", S::Cancelled, 1, {"RINGING", "FINISHED"}},
        {"CancelledP2", S::Cancelled, 2, {"RINGING", "CANCELLED"}},
        {"Outgoing", S::Outgoing, 8, {"UNPLACED", "ROUTING", "RINGING", "INPROGRESS", "FINISHED"}},
        {"HoldP1",
         S::HoldAndResume,
         1,
         {"RINGING", "INPROGRESS", "ONHOLD", "INPROGRESS", "FINISHED"}},
        {"HoldP7",
         S::HoldAndResume,
         7,
         {"RINGING", "INPROGRESS", "LOCALHOLD", "INPROGRESS", "FINISHED"}},
        {"TwoCalls", S::TwoCalls, 8, {"RINGING", "INPROGRESS", "FINISHED"}},
        {"Transferred",
         S::Transferred,
         8,
         {"RINGING", "INPROGRESS", "TRANSFERRING", "TRANSFERRED"}},
        {"Voicemail",
         S::Voicemail,
         8,
         {"RINGING", "VM_BUFFERING_GREETING", "VM_PLAYING_GREETING", "VM_RECORDING", "VM_UPLOADING",
          "VM_SENT"}},
    };
}

void PrintTo(const ScriptCase& c, std::ostream* out) {
    *out << c.name;
}

struct CallNote {
    unsigned id;
    std::string property;
    std::string value;
};

std::vector<CallNote> callNotes(const std::vector<std::string>& texts) {
    std::vector<CallNote> notes;
    for (const std::string& text : texts) {
        CallNote note{};
        if (sk::parseCallNotification(text, &note.id, &note.property, &note.value))
            notes.push_back(note);
    }
    return notes;
}

std::vector<std::string> statusesOf(const std::vector<CallNote>& notes, unsigned id) {
    std::vector<std::string> statuses;
    for (const CallNote& note : notes)
        if (note.id == id && note.property == "STATUS")
            statuses.push_back(note.value);
    return statuses;
}

class CallScriptTest : public StandInSkypeTest, public testing::WithParamInterface<ScriptCase> {};

TEST_P(CallScriptTest, SaysTheWordsOfTheClientsProtocol) {
    startSkype();
    ASSERT_TRUE(attach());
    client_.command("PROTOCOL " + std::to_string(GetParam().protocol));
    client_.clear();
    const sk::CallPlan plan = sk::planCall(GetParam().script);
    ASSERT_TRUE(sk::startCall(plan).completed);
    EXPECT_TRUE(client_.received().empty()) << "a stepped script waits for its steps";
    const unsigned steps = sk::runCallsToEnd();
    EXPECT_EQ(steps, client_.received().size());
    EXPECT_EQ(sk::snapshot().scriptStepsLeft, 0u);

    const auto notes = callNotes(client_.texts());
    EXPECT_EQ(notes.size(), client_.received().size()) << "every notification is a CALL one";
    EXPECT_EQ(statusesOf(notes, plan.id), GetParam().statuses);

    // DURATION only while in progress, whole seconds counting up.
    std::string status;
    unsigned lastDuration = 0;
    unsigned ticks = 0;
    for (const CallNote& note : notes) {
        if (note.id != plan.id)
            continue;
        if (note.property == "STATUS")
            status = note.value;
        if (note.property != "DURATION")
            continue;
        ++ticks;
        EXPECT_EQ(status, "INPROGRESS");
        const unsigned duration = static_cast<unsigned>(std::stoul(note.value));
        EXPECT_GT(duration, lastDuration);
        lastDuration = duration;
    }
    const bool answered = std::find(GetParam().statuses.begin(), GetParam().statuses.end(),
                                    "INPROGRESS") != GetParam().statuses.end();
    EXPECT_EQ(ticks > 0, answered);

    const auto calls = sk::snapshot().calls;
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front().id, plan.id);
    EXPECT_EQ(calls.front().status, GetParam().statuses.back());
}

INSTANTIATE_TEST_SUITE_P(Scripts, CallScriptTest, testing::ValuesIn(scriptCases()),
                         [](const testing::TestParamInfo<ScriptCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(StandInSkypeTest, TwoCallsInterleave) {
    startSkype();
    ASSERT_TRUE(attach());
    client_.clear();
    const sk::CallPlan plan = sk::planCall(sk::CallScript::TwoCalls);
    ASSERT_NE(plan.id, plan.otherId);
    sk::startCall(plan);
    sk::runCallsToEnd();
    const auto notes = callNotes(client_.texts());
    EXPECT_EQ(statusesOf(notes, plan.otherId), (std::vector<std::string>{"RINGING", "MISSED"}));
    // The second call rings and is missed while the first is in progress.
    const auto at = [&notes](unsigned id, const std::string& status) {
        return std::find_if(notes.begin(), notes.end(),
                            [&](const CallNote& n) {
                                return n.id == id && n.property == "STATUS" && n.value == status;
                            }) -
               notes.begin();
    };
    EXPECT_LT(at(plan.id, "INPROGRESS"), at(plan.otherId, "RINGING"));
    EXPECT_LT(at(plan.otherId, "MISSED"), at(plan.id, "FINISHED"));
}

TEST_F(StandInSkypeTest, ScriptsGoOnlyToAnAttachedClient) {
    startSkype([](sk::Config& c) { c.answerMode = sk::AnswerMode::None; });
    sk::startCall(sk::planCall(sk::CallScript::Missed));
    const sk::Outcome step = sk::stepCall();
    EXPECT_TRUE(step.completed);
    EXPECT_FALSE(step.delivered);
    sk::sync();
    EXPECT_TRUE(client_.received().empty());
    EXPECT_EQ(sk::stepCall().error, static_cast<DWORD>(ERROR_NOT_CONNECTED))
        << "the script goes on regardless";
    EXPECT_EQ(sk::stepCall().error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
}

TEST_F(StandInSkypeTest, RealTimeScriptRunsByItself) {
    startSkype([](sk::Config& c) { c.scriptClock = sk::ScriptClock::RealTime; });
    ASSERT_TRUE(attach());
    client_.clear();
    sk::CallPlan plan = sk::planCall(sk::CallScript::Missed);
    plan.ringMs = 50;
    sk::startCall(plan);
    ASSERT_TRUE(sk::pumpUntil([] { return sk::snapshot().scriptStepsLeft == 0; }));
    sk::sync();
    EXPECT_EQ(statusesOf(callNotes(client_.texts()), plan.id),
              (std::vector<std::string>{"RINGING", "MISSED"}));
}

// Steps the call scripts until call `id` last said `status`; false when they
// end first.
bool stepUntil(unsigned id, const std::string& status) {
    for (;;) {
        for (const sk::CallState& call : sk::snapshot().calls)
            if (call.id == id && call.status == status)
                return true;
        if (sk::stepCall().error == static_cast<DWORD>(ERROR_NO_MORE_ITEMS))
            return false;
    }
}

// How Skype ends every call of its own: it exits or its user logs out, then
// it is back.
struct EndCase {
    const char* name;
    std::vector<sk::RequestId (*)()> requests;
};

void PrintTo(const EndCase& c, std::ostream* out) {
    *out << c.name;
}

class ActiveCallsTest : public StandInSkypeTest, public testing::WithParamInterface<EndCase> {};

// SEARCH ACTIVECALLS lists the calls that ring, run or are on hold, until
// Skype ends them by going away, telling no one.
TEST_P(ActiveCallsTest, ListedUntilSkypeEndsThem) {
    startSkype([](sk::Config& c) { c.answers = sk::CommandAnswers::Nested; });
    ASSERT_TRUE(attach());
    EXPECT_EQ(answerTo("SEARCH ACTIVECALLS"), "CALLS ");
    const sk::CallPlan held = sk::planCall(sk::CallScript::HoldAndResume);
    const sk::CallPlan missed = sk::planCall(sk::CallScript::Missed);
    sk::startCall(held);
    sk::startCall(missed);
    ASSERT_TRUE(stepUntil(missed.id, "RINGING"));
    const std::string heldId = std::to_string(held.id);
    EXPECT_EQ(answerTo("SEARCH ACTIVECALLS"), "CALLS " + heldId + ", " + std::to_string(missed.id));
    ASSERT_TRUE(stepUntil(held.id, "ONHOLD"));
    EXPECT_EQ(answerTo("SEARCH ACTIVECALLS"), "CALLS " + heldId) << "the missed call is over";

    client_.clear();
    for (sk::RequestId (*request)() : GetParam().requests)
        ASSERT_TRUE(sk::waitFor(request()).completed);
    EXPECT_TRUE(callNotes(client_.texts()).empty());
    ASSERT_TRUE(attach());
    EXPECT_EQ(answerTo("SEARCH ACTIVECALLS"), "CALLS ");
    EXPECT_EQ(sk::snapshot().calls.front().status, "FINISHED");
    EXPECT_EQ(sk::stepCall().error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS)) << "scripts end too";
}

INSTANTIATE_TEST_SUITE_P(Ends, ActiveCallsTest,
                         testing::Values(EndCase{"LogOut", {sk::requestLogOut, sk::requestLogIn}},
                                         EndCase{"Exit", {sk::requestLeave, sk::requestReturn}},
                                         EndCase{"Restart", {sk::requestRestart}}),
                         [](const testing::TestParamInfo<EndCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- Slow clients ----

TEST_F(StandInSkypeTest, SlowClientIsFlaggedAndDropped) {
    startSkype([](sk::Config& c) {
        c.sendTimeoutMs = sk::kSlowClientMs;
        c.dropSlowClients = true;
        c.onlyAttachedClients = true;
    });
    ASSERT_TRUE(attach());
    EXPECT_TRUE(sk::sendNotification("CALL 5 STATUS RINGING").delivered);
    EXPECT_TRUE(sk::snapshot().slowClients.empty()) << "a prompt client is no slow one";

    client_.onCopyData = [](const std::string&) { Sleep(kSlowHandlerMs); };
    EXPECT_FALSE(sk::sendNotification("CALL 5 STATUS MISSED").delivered);
    client_.onCopyData = nullptr;
    const sk::Snapshot skype = sk::snapshot();
    const auto& slow = skype.slowClients;
    ASSERT_EQ(slow.size(), 1u);
    EXPECT_EQ(slow[0].client, client_.window());
    EXPECT_EQ(slow[0].text, "CALL 5 STATUS MISSED");
    EXPECT_TRUE(slow[0].timedOut);
    EXPECT_TRUE(slow[0].dropped);
    EXPECT_TRUE(skype.sent.back().slow);
    EXPECT_EQ(skype.attachedClient, nullptr);
    EXPECT_EQ(client_.command("SET PROFILE MOOD_TEXT x"), 0) << "dropped";
}

// A client that sends Skype a command from inside a notification: with
// SMTO_BLOCK Skype cannot take it until its own send gave up on the client.
struct BlockCase {
    const char* name;
    sk::Blocking blocking;
    bool slow;
};

void PrintTo(const BlockCase& c, std::ostream* out) {
    *out << c.name;
}

class BlockingTest : public StandInSkypeTest, public testing::WithParamInterface<BlockCase> {};

TEST_P(BlockingTest, CommandFromInsideANotification) {
    startSkype([](sk::Config& c) {
        c.blocking = GetParam().blocking;
        c.sendTimeoutMs = sk::kSlowClientMs;
    });
    ASSERT_TRUE(attach());
    client_.onCopyData = [this](const std::string& text) {
        if (text.rfind("CALL ", 0) == 0)
            client_.command("SET PROFILE MOOD_TEXT paused");
    };
    sk::sendNotification("CALL 9 STATUS RINGING");
    client_.onCopyData = nullptr;
    sk::sync();
    const sk::Snapshot skype = sk::snapshot();
    EXPECT_EQ(skype.sent.back().blocking, GetParam().blocking != sk::Blocking::Never);
    EXPECT_EQ(!skype.slowClients.empty(), GetParam().slow);
    EXPECT_EQ(skype.mood.text, "paused") << "the command arrives either way";
}

INSTANTIATE_TEST_SUITE_P(Sends, BlockingTest,
                         testing::Values(BlockCase{"Never", sk::Blocking::Never, false},
                                         BlockCase{"Always", sk::Blocking::Always, true}),
                         [](const testing::TestParamInfo<BlockCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(StandInSkypeTest, AlternateBlocksEveryOtherSend) {
    startSkype([](sk::Config& c) { c.blocking = sk::Blocking::Alternate; });
    ASSERT_TRUE(attach());
    for (int i = 0; i < 4; ++i)
        sk::sendNotification("CALL 3 DURATION " + std::to_string(i + 1));
    const auto sent = sk::snapshot().sent;
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_NE(sent[0].blocking, sent[1].blocking);
    EXPECT_EQ(sent[0].blocking, sent[2].blocking);
    EXPECT_EQ(sent[1].blocking, sent[3].blocking);
}

} // namespace
