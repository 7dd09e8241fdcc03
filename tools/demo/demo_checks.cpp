// What should have happened after a step, checked against what Skype logged,
// the player's state and the ini file.
#include "session_state.h"

#include <utility>

#include "settings/settings.h"
#include "skype/skype_link.h"
#include "thread_windows.h"

namespace demo::session {
namespace {} // namespace

void check(bool ok, const std::string& what, const std::string& otherwise) {
    ++gSession.checks;
    if (!ok)
        ++gSession.failures;
    std::string line = what + (ok ? ": ok" : ": FAILED");
    if (!ok && !otherwise.empty())
        line += " (" + otherwise + ")";
    sayAs("check", line);
}

// The plug-in's last mood command of the step, and what Skype says it holds.
void checkMood(const std::string& expected) {
    const std::vector<std::string>& moods = gSession.skype.moods;
    const std::string& held = gSession.tally.heldMood;
    const bool got = !moods.empty() && moods.back() == expected;
    check(got && held == expected, "Skype's mood text is now " + quoted(expected),
          !got ? (moods.empty() ? "Skype got no mood" : "it got " + quoted(moods.back()))
               : "Skype's answer says it holds " + quoted(held));
}

void checkPlayState(standin::PlayState expected) {
    check(standin::playState() == expected,
          std::string("the player is ") + standin::stateName(expected),
          std::string("it is ") + standin::stateName(standin::playState()));
}

void checkIni(const char* key, const std::string& expected) {
    const std::string value = standin::readIniString(kIniSection, key, "(missing)");
    check(value == expected, textf("the ini holds %s = ", key) + quoted(utf8FromAnsi(expected)),
          "it holds " + quoted(utf8FromAnsi(value)));
}

// The window the plug-in made to talk to Skype from, on the player's thread.
HWND pluginLinkWindow() {
    return win32::threadWindowOfClass(kSkypeLinkWindowClass);
}

// An attach from `from` on: Skype attached the plug-in from `skype` (any
// window when null), the plug-in's first command was PROTOCOL 7, Skype
// answered it from that window, and greeted the plug-in, which took it all.
void checkAttached(std::size_t from, HWND skype) {
    const SkypeLine* attach = lineAt(findLine(
        [skype](const SkypeLine& line) {
            return isSuccessfulAttach(line) && (!skype || line.skype == skype);
        },
        from));
    check(attach != nullptr, "Skype answered the plug-in's Discover with Attach Success" +
                                 (skype ? " from " + hexHandle(skype) : std::string()));
    if (!attach)
        return;
    const HWND link = pluginLinkWindow();
    check(link != nullptr && attach->client == link,
          "Skype's client is the plug-in's link window " + hexHandle(link) +
              ", not the player's main window",
          "Skype attached " + hexHandle(attach->client));
    const SkypeLine* first = lineAt(findLine(isCommand, from));
    const SkypeLine* answer = lineAt(findLine(
        [attach](const SkypeLine& line) {
            return isSent(line, SentKind::Answer) && line.skype == attach->skype &&
                   line.text() == kProtocolAnswer;
        },
        from));
    check(first && first->text() == kProtocolCommand && answer && answer->delivered,
          textf("the plug-in asked for \"%s\" first and Skype answered \"%s\": they speak "
                "protocol 7",
                kProtocolCommand, kProtocolAnswer),
          first ? "the first command was " + quoted(first->text()) : "no command came");
    unsigned greetings = 0;
    for (std::size_t i = from; i < gSession.skype.lines.size(); ++i) {
        const SkypeLine& line = gSession.skype.lines[i];
        greetings += isSent(line, SentKind::Greeting) && line.delivered && line.result == kTaken;
    }
    check(greetings == kGreetings,
          "Skype greeted the plug-in (CONNSTATUS, CURRENTUSERHANDLE, USERSTATUS) and it took each",
          textf("%u of %u taken", greetings, kGreetings));
}

std::string currentTitleUtf8() {
    const auto& titles = standin::wideTitles();
    const int position = standin::position();
    return position >= 0 && static_cast<std::size_t>(position) < titles.size()
               ? standin::utf8FromWide(titles[position])
               : std::string();
}

// The caption (GetWindowTextW) names the song in full: the plug-in's subclass
// kept the window Unicode.
void checkCaption() {
    const std::string caption = standin::utf8FromWide(standin::mainCaption());
    const std::string expected = textf("%d. ", standin::position() + 1) + currentTitleUtf8() +
                                 standin::utf8FromWide(standin::kCaptionSuffix);
    check(caption == expected, "the player's caption reads " + quoted(expected),
          "it reads " + quoted(caption));
}

// The playing title has characters the ANSI code page lacks: only the UTF-16
// title (query 213) can bring them to Skype.
void checkOutsideCodePage() {
    const int position = standin::position();
    const std::string ansi = standin::titles().at(static_cast<std::size_t>(position));
    const std::wstring& wide = standin::wideTitles().at(static_cast<std::size_t>(position));
    check(standin::wideFromAnsi(ansi) != wide,
          textf("code page %u has no room for the title: its 8-bit form (query 212) reads ",
                GetACP()) +
              quoted(utf8FromAnsi(ansi)));
}

// The template with both placeholders filled in, as the mood should read.
std::string expectedMood(const std::string& moodTemplate, const std::string& stateWord) {
    std::string mood = moodTemplate;
    for (const auto& [placeholder, value] :
         {std::pair<std::string, std::string>{"[%title%]", currentTitleUtf8()},
          std::pair<std::string, std::string>{"[%state%]", stateWord}}) {
        for (std::size_t at = mood.find(placeholder); at != std::string::npos;
             at = mood.find(placeholder, at + value.size()))
            mood.replace(at, placeholder.size(), value);
    }
    return mood;
}

void checkNotified(const std::string& expected, const std::string& what) {
    const SkypeLine* sent = lineAt(
        findLine([](const SkypeLine& line) { return isSent(line, SentKind::Notification); }));
    check(sent && sent->text() == expected && sent->delivered && sent->result == kTaken, what,
          sent ? "it sent " + quoted(sent->text()) + outcome(*sent) : "it sent nothing");
}

} // namespace demo::session
