#include "skype/call_book.h"
#include "skype/notification.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <ostream>
#include <string>

namespace {

// A copy on the heap of exactly `size` bytes, so that AddressSanitizer sees
// every read past the end.
std::unique_ptr<char[]> exactCopy(const std::string& bytes) {
    std::unique_ptr<char[]> copy(new char[bytes.size()]);
    bytes.copy(copy.get(), bytes.size());
    return copy;
}

CallStatus read(const std::string& bytes) {
    const auto copy = exactCopy(bytes);
    return readCallNotification(copy.get(), bytes.size()).status;
}

// The call's id, copied out before the bytes go.
std::string idOf(const std::string& bytes) {
    const auto copy = exactCopy(bytes);
    return std::string(readCallNotification(copy.get(), bytes.size()).callId);
}

// --- The twelve statuses ---------------------------------------------------

struct StatusCase {
    const char* word;
    CallStatus status;
    int value;
    CallAction action;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << c.word;
}

class Status : public ::testing::TestWithParam<StatusCase> {};

TEST_P(Status, IsReadFromACallNotification) {
    const StatusCase& c = GetParam();
    EXPECT_EQ(read(std::string("CALL 1234 STATUS ") + c.word), c.status);
    EXPECT_EQ(static_cast<int>(c.status), c.value);
    EXPECT_EQ(callStatusWord(c.status), c.word);
}

TEST_P(Status, MatchesOnlyInUpperCase) {
    std::string lower = GetParam().word;
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(read("CALL 1234 STATUS " + lower), CallStatus::None);
    EXPECT_EQ(read(std::string("call 1234 STATUS ") + GetParam().word), CallStatus::None);
}

TEST_P(Status, TriggersItsAction) {
    EXPECT_EQ(callActionFor(GetParam().status), GetParam().action);
}

INSTANTIATE_TEST_SUITE_P(
    All, Status,
    ::testing::Values(StatusCase{"UNPLACED", CallStatus::Unplaced, 0, CallAction::None},
                      StatusCase{"ROUTING", CallStatus::Routing, 1, CallAction::None},
                      StatusCase{"EARLYMEDIA", CallStatus::EarlyMedia, 2, CallAction::None},
                      StatusCase{"FAILED", CallStatus::Failed, 3, CallAction::Resume},
                      StatusCase{"RINGING", CallStatus::Ringing, 4, CallAction::Pause},
                      StatusCase{"INPROGRESS", CallStatus::InProgress, 5, CallAction::Pause},
                      StatusCase{"ONHOLD", CallStatus::OnHold, 6, CallAction::None},
                      StatusCase{"FINISHED", CallStatus::Finished, 7, CallAction::End},
                      StatusCase{"MISSED", CallStatus::Missed, 8, CallAction::Resume},
                      StatusCase{"REFUSED", CallStatus::Refused, 9, CallAction::Resume},
                      StatusCase{"BUSY", CallStatus::Busy, 10, CallAction::End},
                      StatusCase{"CANCELLED", CallStatus::Cancelled, 11, CallAction::Resume},
                      StatusCase{"TRANSFERRED", CallStatus::Transferred, 12, CallAction::End},
                      StatusCase{"VM_SENT", CallStatus::VoicemailSent, 13, CallAction::End},
                      StatusCase{"VM_CANCELLED", CallStatus::VoicemailCancelled, 14,
                                 CallAction::End},
                      StatusCase{"VM_FAILED", CallStatus::VoicemailFailed, 15, CallAction::End}),
    [](const auto& info) { return std::string(info.param.word); });

// Skype lists the calls still active; those it does not list ended unheard.
TEST(CallsAnswer, KeepsOnlyTheListedCalls) {
    const auto answer = [](std::string_view text) {
        return readCallsAnswer(text.data(), text.size());
    };
    CallBook book{{"12", "34", "5", "56"}};
    const CallsAnswer listed = answer("CALLS 12,\t56, 123");
    ASSERT_EQ(listed.kind, CallsAnswerKind::Listed);
    keepListedCalls(book, listed.list);
    EXPECT_EQ(book.ids, (std::vector<std::string>{"12", "56"}));
    keepListedCalls(book, answer("CALLS ").list);
    EXPECT_TRUE(book.ids.empty());
    EXPECT_EQ(answer("ERROR 2 Unknown command").kind, CallsAnswerKind::Error);
    EXPECT_EQ(answer("CALL 12 STATUS RINGING").kind, CallsAnswerKind::None);
    EXPECT_EQ(answer(std::string_view("CALLS 12", 5)).list, "") << "read within its size";
}

TEST(NoStatus, HasNoWordAndNoAction) {
    EXPECT_EQ(callStatusWord(CallStatus::None), "");
    EXPECT_EQ(callActionFor(CallStatus::None), CallAction::None);
}

// --- Reading the words of a notification ------------------------------------

struct TextCase {
    const char* name;
    std::string text; // may hold zero bytes; read with its full size
    CallStatus expected;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class Text : public ::testing::TestWithParam<TextCase> {};

TEST_P(Text, GivesTheStatus) {
    EXPECT_EQ(read(GetParam().text), GetParam().expected);
}

const TextCase kTextCases[] = {
    // Separators, alone and in runs.
    {"Blanks", "CALL 1234 STATUS RINGING", CallStatus::Ringing},
    {"Commas", "CALL,1234,STATUS,RINGING", CallStatus::Ringing},
    {"Tabs", "CALL\t1234\tSTATUS\tMISSED", CallStatus::Missed},
    {"LineFeeds", "CALL\n1234\nSTATUS\nREFUSED", CallStatus::Refused},
    {"Runs", "CALL \t,\n 1234,, STATUS\t\t\nFAILED", CallStatus::Failed},
    {"LeadingAndTrailing", " ,\t\nCALL 1234 STATUS BUSY \n,\t", CallStatus::Busy},
    {"WithTerminator", std::string("CALL 1234 STATUS ONHOLD\0", 24), CallStatus::OnHold},
    // Only the four separators cut words.
    {"CarriageReturnIsNoSeparator", "CALL 1234 STATUS RINGING\r", CallStatus::None},
    {"SemicolonIsNoSeparator", "CALL 1234 STATUS;RINGING", CallStatus::None},
    {"StatusInsideAWord", "CALL 1234 STATUS XRINGING RINGINGS STATUS_RINGING", CallStatus::None},
    // The last status word wins.
    {"LastWins", "CALL 1234 STATUS RINGING MISSED", CallStatus::Missed},
    {"LastWinsOverUnknownWords", "CALL 1 STATUS RINGING foo INPROGRESS 7", CallStatus::InProgress},
    // Only the STATUS property, right after the id, names a status: others
    // carry free text or another call's state.
    {"DisplayName", "CALL 12 PARTNER_DISPNAME CANCELLED", CallStatus::None},
    {"Participant", "CALL 59 CONF_PARTICIPANT 1 echo123 INCOMING_P2P INPROGRESS", CallStatus::None},
    {"StatusBeforeTheProperty", "CALL 1234 RINGING STATUS MISSED", CallStatus::None},
    {"NoId", "CALL STATUS RINGING", CallStatus::None},
    {"NoProperty", "CALL FINISHED", CallStatus::None},
    {"TwoIds", "CALL 1234 5678 STATUS RINGING", CallStatus::None},
    // The first word must be exactly CALL.
    {"OtherCommand", "CHAT 1234 STATUS RINGING", CallStatus::None},
    {"CallNotFirst", "USER CALL 1234 STATUS RINGING", CallStatus::None},
    {"CallsIsNotCall", "CALLS 1234 STATUS RINGING", CallStatus::None},
    {"MixedCaseCall", "Call 1234 STATUS RINGING", CallStatus::None},
    {"CallPrefixedWord", "XCALL 1234 STATUS RINGING", CallStatus::None},
    {"StatusFirst", "RINGING CALL", CallStatus::None},
    // Notifications about a call that name no status.
    {"Duration", "CALL 1234 DURATION 35", CallStatus::None},
    {"CallAlone", "CALL", CallStatus::None},
    {"Empty", "", CallStatus::None},
    {"OnlySeparators", " ,\t\n,, \t", CallStatus::None},
    // A zero byte ends the text.
    {"ZeroEndsText", std::string("CALL 1 STATUS RINGING\0MISSED", 28), CallStatus::Ringing},
    {"ZeroInsideCall", std::string("CA\0LL 1 STATUS RINGING", 22), CallStatus::None},
    {"ZeroFirst", std::string("\0CALL 1 STATUS RINGING", 22), CallStatus::None},
    {"ZeroBeforeStatus", std::string("CALL 1 STATUS \0RINGING", 22), CallStatus::None},
    // Bytes beyond ASCII are ordinary word characters.
    {"HighBytes", "CALL \xff\x80 STATUS \xe9RINGING MISSED\xa0", CallStatus::None},
    {"HighBytesAroundStatus", "CALL \xff\x80 STATUS CANCELLED \xe9", CallStatus::Cancelled},
};

INSTANTIATE_TEST_SUITE_P(Words, Text, ::testing::ValuesIn(kTextCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Which call a notification is about -------------------------------------

TEST(CallId, IsTheWordAfterCall) {
    EXPECT_EQ(idOf("CALL 1234 STATUS RINGING"), "1234");
    EXPECT_EQ(idOf(" ,CALL\t\n987,STATUS MISSED"), "987") << "after any separators";
    EXPECT_EQ(idOf("CALL 1234 DURATION 35"), "1234") << "with no status too";
    EXPECT_EQ(idOf("CALL \xff\x80 STATUS CANCELLED"), "\xff\x80");
    EXPECT_EQ(idOf("CALL RINGING"), "RINGING") << "whatever the word is";
    EXPECT_EQ(idOf("CALL 1234 5678 STATUS RINGING"), "1234") << "only the first";
    EXPECT_EQ(idOf("CALL"), "");
}

TEST(CallId, IsNothingOutsideACallNotification) {
    EXPECT_EQ(idOf("CHAT 1234 STATUS RINGING"), "");
    EXPECT_EQ(idOf(std::string("CALL\0 1234 STATUS RINGING", 23)), "") << "cut at the zero";
    const std::string text = "CALL 1234 STATUS RINGING";
    const auto copy = exactCopy(text);
    EXPECT_EQ(readCallNotification(copy.get(), 7).callId, "12") << "cut by the size";
}

// --- Bounds of the read ----------------------------------------------------

TEST(Bounds, NoTerminatorWithinSizeReadsExactlySize) {
    EXPECT_EQ(read("CALL 1234 STATUS RINGING"), CallStatus::Ringing);
}

TEST(Bounds, SizeShorterThanTheTextCutsIt) {
    const std::string text = "CALL 1234 STATUS RINGING MISSED";
    const auto copy = exactCopy(text);
    EXPECT_EQ(readCallNotification(copy.get(), text.size()).status, CallStatus::Missed);
    EXPECT_EQ(readCallNotification(copy.get(), text.find(" MISSED")).status, CallStatus::Ringing);
    EXPECT_EQ(readCallNotification(copy.get(), text.find(" MISSED") - 1).status, CallStatus::None);
    EXPECT_EQ(readCallNotification(copy.get(), 3).status, CallStatus::None);
}

TEST(Bounds, SizeZeroReadsNothing) {
    const std::unique_ptr<char[]> empty(new char[0]);
    EXPECT_EQ(readCallNotification(empty.get(), 0).status, CallStatus::None);
    const std::string text = "CALL 1 STATUS RINGING";
    EXPECT_EQ(readCallNotification(text.data(), 0).status, CallStatus::None);
}

TEST(Bounds, NullDataIsNoNotification) {
    EXPECT_EQ(readCallNotification(nullptr, 0).status, CallStatus::None);
    EXPECT_EQ(readCallNotification(nullptr, 4096).status, CallStatus::None);
}

TEST(Bounds, LongNotificationKeepsTheLastStatus) {
    std::string text = "CALL 1 STATUS";
    for (int i = 0; i < 100000; ++i)
        text += i % 2 ? " ,RINGING" : "\tid\n";
    text += " MISSED";
    EXPECT_EQ(read(text), CallStatus::Missed);
}

} // namespace
