// What Skype logged during a step, read from its transcript and turned into
// the player's account of it, and the look-ups the checks make in it.
#include "session_state.h"

#include <algorithm>
#include <cstring>

namespace demo::session {
// The mood a mood command carries; false for any other command.
bool moodOf(const std::string& command, std::string* mood) {
    for (const char* prefix : {kRichMoodPrefix, kPlainMoodPrefix})
        if (startsWith(command, prefix)) {
            *mood = command.substr(std::strlen(prefix));
            return true;
        }
    return false;
}

// ---- What Skype logged ----

namespace {

void cause(const std::string& text) {
    gSession.skype.causes.push_back(labelled("Skype", text));
}

void reply(const std::string& text) {
    gSession.skype.replies.push_back(labelled("Skype", text));
}

} // namespace

// What the window a message went to made of it.
std::string outcome(const SkypeLine& line) {
    if (line.delivered)
        return textf(" -> %ld", line.result);
    return IsWindow(line.client) ? " -> not delivered" : " -> not delivered: the window is gone";
}

namespace {

// Skype logs its Attach once the client has handled it, after the commands
// the client sent meanwhile: show it right after the Discover it answers.
void takeAttach(const SkypeLine& line) {
    StepRecord& step = gSession.skype;
    const std::string text =
        (line.posted ? "posted Attach from its window " : "answered with Attach from its window ") +
        hexHandle(line.skype) +
        textf(", status %lu (%s)", line.status, attachStatusName(static_cast<LONG>(line.status))) +
        (line.posted ? std::string() : outcome(line));
    const std::size_t slot = std::min(step.attachSlot, step.replies.size());
    step.replies.insert(step.replies.begin() + static_cast<std::ptrdiff_t>(slot),
                        labelled("Skype", text));
    step.attachSlot = kNone;
}

void takeReceivedCommand(const SkypeLine& line) {
    StepRecord& step = gSession.skype;
    SkypeTally& tally = gSession.tally;
    if (line.line.find('"') == std::string::npos) {
        reply(line.line); // a WM_COPYDATA without data
        return;
    }
    const std::string text = line.text();
    if (line.refused) {
        ++tally.refused;
        reply("refused " + quoted(text) + " from " + hexHandle(line.client) +
              ": it takes commands only from the client it attached");
        return;
    }
    ++tally.commands;
    ++tally.unanswered;
    reply("got " + quoted(text));
    std::string layout = textf("cbData %lu = %u bytes of UTF-8 text", line.cbData,
                               static_cast<unsigned>(text.size()));
    if (characterCount(text) != text.size())
        layout += textf(" (%u characters)", static_cast<unsigned>(characterCount(text)));
    const std::string tail = line.bytes.size() > text.size() ? line.bytes.substr(text.size()) : "";
    if (tail.empty())
        layout += ", no terminator";
    else if (tail.find_first_not_of('\0') == std::string::npos)
        layout += textf(" + %u zero byte%s", static_cast<unsigned>(tail.size()),
                        tail.size() == 1 ? "" : "s");
    else
        layout += textf(" + %u more bytes", static_cast<unsigned>(tail.size()));
    if (line.dwData)
        layout += textf(", dwData %lu", line.dwData);
    step.replies.push_back(labelled("", layout));
    std::string mood;
    if (moodOf(text, &mood))
        step.moods.push_back(mood);
}

void takeSentMessage(const SkypeLine& line) {
    SkypeTally& tally = gSession.tally;
    ++tally.sent;
    tally.blocking += line.blocking;
    // A message to a window that is gone cannot be taken; any other must be.
    if (line.delivered ? line.result != kTaken : IsWindow(line.client) != FALSE)
        ++tally.notTaken;
    const std::string text = line.text();
    const std::string how = (line.blocking ? " (SMTO_BLOCK)" : "") + outcome(line);
    switch (line.sentKind) {
    case SentKind::Answer:
        if (tally.unanswered > 0)
            --tally.unanswered;
        tally.errors += startsWith(text, kErrorAnswer);
        for (const char* prefix : {kRichMoodAnswer, kPlainMoodAnswer})
            if (startsWith(text, prefix))
                tally.heldMood = text.substr(std::strlen(prefix));
        reply("answered " + quoted(text) + how);
        return;
    case SentKind::Greeting:
        reply("greeted: " + quoted(text) + how);
        return;
    case SentKind::Notification:
    case SentKind::Call:
        ++gSession.skype.notifications;
        cause("told the plug-in " + quoted(text) + textf(" (cbData %lu)", line.cbData) + how);
        return;
    }
}

// Skype forgets what it owed a client when it goes away or the user logs out.
void forgetAnswersOwed() {
    gSession.tally.unanswered = 0;
}

void takeSkypeLine(const SkypeLine& line) {
    gSession.skype.lines.push_back(line);
    switch (line.event) {
    case SkypeEvent::Control:
        return; // the step's own request
    case SkypeEvent::Discover:
        reply("saw the plug-in's Discover broadcast");
        gSession.skype.attachSlot = gSession.skype.replies.size();
        return;
    case SkypeEvent::Attach:
        takeAttach(line);
        return;
    case SkypeEvent::Announce:
        cause("announced its API to every window: Attach from its window " + hexHandle(line.skype) +
              textf(", status 0x%lX (%s)", line.status,
                    attachStatusName(static_cast<LONG>(line.status))) +
              (line.delivered ? "" : ", not delivered"));
        return;
    case SkypeEvent::Received:
        takeReceivedCommand(line);
        return;
    case SkypeEvent::Sent:
        takeSentMessage(line);
        return;
    case SkypeEvent::SlowClient:
        ++gSession.tally.slow;
        reply("found the plug-in slow on " + quoted(line.text()) +
              (line.timedOut ? " (it timed out)" : "") + (line.dropped ? " and dropped it" : ""));
        return;
    case SkypeEvent::Restart:
        forgetAnswersOwed();
        cause("exits and starts again: its window " + hexHandle(line.oldSkype) +
              " is gone, the new one is " + hexHandle(line.skype));
        return;
    case SkypeEvent::Leave:
        forgetAnswersOwed();
        cause("exits: its window " + hexHandle(line.skype) + " is gone");
        return;
    case SkypeEvent::Return:
        cause("is back, with the window " + hexHandle(line.skype));
        return;
    case SkypeEvent::LogOut:
        forgetAnswersOwed();
        cause("the user logs out; Skype tells " + hexHandle(line.client) + " NotAvailable");
        return;
    case SkypeEvent::LogIn:
        cause("the user logs in");
        return;
    case SkypeEvent::Decision:
        cause(std::string("the user ") + (line.refused ? "refuses " : "allows ") +
              hexHandle(line.client));
        return;
    case SkypeEvent::Hang:
        cause(textf("hangs for %lu ms", line.ms));
        return;
    case SkypeEvent::CallScript:
        cause(textf("starts call %lu: ", line.callId) + line.word);
        return;
    case SkypeEvent::CallStepNotSent:
        reply("had no client to tell " + quoted(line.text()));
        return;
    case SkypeEvent::Other:
        reply(line.line);
        return;
    }
}

void collectSkypeLines() {
    for (const SkypeLine& line : demo::newSkypeLines())
        takeSkypeLine(line);
}

} // namespace

// Pumps, reading Skype's transcript as it grows, until `done` holds.
bool waitForSkype(const std::function<bool()>& done, DWORD timeoutMs) {
    return standin::pumpUntil(
        [&done] {
            collectSkypeLines();
            return done();
        },
        timeoutMs);
}

void settle() {
    standin::pumpFor(kSettleMs);
    waitForSkype([] { return gSession.tally.unanswered == 0; }, kAnswerTimeoutMs);
}

// ---- Looking through the step's Skype lines ----

std::size_t findLine(const std::function<bool(const SkypeLine&)>& matches, std::size_t from) {
    const std::vector<SkypeLine>& lines = gSession.skype.lines;
    for (std::size_t i = from; i < lines.size(); ++i)
        if (matches(lines[i]))
            return i;
    return kNone;
}

const SkypeLine* lineAt(std::size_t index) {
    return index == kNone ? nullptr : &gSession.skype.lines[index];
}

bool isCommand(const SkypeLine& line) {
    return line.event == SkypeEvent::Received && !line.refused;
}

bool isSuccessfulAttach(const SkypeLine& line) {
    return line.event == SkypeEvent::Attach && line.status == standin_skype::kAttachSuccess &&
           line.delivered;
}

bool isSent(const SkypeLine& line, SentKind kind) {
    return line.event == SkypeEvent::Sent && line.sentKind == kind;
}

} // namespace demo::session
