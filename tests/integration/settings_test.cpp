// The options kept in the host's ini file: which file, which keys, their
// defaults, how values read back and what is written, and when.
#include "spine_support.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

using namespace spine;

namespace {

// A profile call of the plug-in's, through either character set, as the
// recorder kept it: its file named as it was at the call (the plug-in's path
// strings may not outlive it), wide texts in UTF-8.
struct ProfileCall {
    std::string function; // "int", "text" or "write"
    bool wide = false;
    std::string section;
    std::string key;
    std::string value; // written value
    int fallback = 0;  // integer reads
    DWORD size = 0;    // text reads
    std::string file;
    int result = 0; // integer reads
};

ProfileCall profileCall(const ApiCall& call) {
    ProfileCall profile;
    const bool write = call.function.rfind("Write", 0) == 0;
    const bool text = !write && call.function.find("String") != std::string::npos;
    profile.function = write ? "write" : text ? "text" : "int";
    profile.wide = call.function.back() == 'W';
    profile.section = call.strings[0];
    profile.key = call.strings[1];
    profile.value = write ? call.strings[2] : "";
    profile.fallback = write || text ? 0 : static_cast<int>(call.args[2]);
    profile.size = text ? static_cast<DWORD>(call.args[4]) : 0;
    profile.file = call.strings.back();
    profile.result = static_cast<int>(call.result);
    return profile;
}

// Every profile call so far, or those of one kind.
std::vector<ProfileCall> profileCalls(const char* function = nullptr) {
    std::vector<std::string> names = kIniReads;
    names.insert(names.end(), kIniWrites.begin(), kIniWrites.end());
    std::vector<ProfileCall> picked;
    for (const ApiCall& call : recordedCalls(names))
        if (function == nullptr || profileCall(call).function == function)
            picked.push_back(profileCall(call));
    return picked;
}

const std::vector<std::string> kSavedKeys = {
    "TRALMO_ACTIVE",      "TRALMO_STOP_MUSIC", "TRALMO_SHOW_TRAYICON", "TRALMO_ALLOW_HTML",
    "TRALMO_EXITSETMOOD", "PREV_BUTTON",       "PLAY_BUTTON",          "PAUSE_BUTTON",
    "STOP_BUTTON",        "NEXT_BUTTON"};

std::string tempFileName(const char* stem) {
    char directory[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, directory);
    return std::string(directory) + stem + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(GetTickCount()) + ".ini";
}

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void forgetProfileCache(const std::string& path) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}

} // namespace

// ---- No ini file yet ------------------------------------------------------------------

class MissingIniTest : public PluginTest {
  protected:
    void configure(standin::PlayerOptions& options) override {
        path_ = tempFileName("tralmo_missing_");
        DeleteFileA(path_.c_str());
        options.iniPath = path_;
    }
    void TearDown() override {
        PluginTest::TearDown();
        forgetProfileCache(path_);
        DeleteFileA(path_.c_str());
    }
    std::string path_;
};

TEST_F(MissingIniTest, StartsFromTheDefaultsAndWritesNothingUntilQuit) {
    struct Read {
        const char* section;
        const char* key;
        int fallback;
    };
    const Read expected[] = {
        {"Tralmo", "TRALMO_ACTIVE", 1},
        {"Tralmo", "TRALMO_STOP_MUSIC", 0},
        {"Tralmo", "TRALMO_SHOW_TRAYICON", 1},
        {"Tralmo", "TRALMO_ALLOW_HTML", 1},
        {"Tralmo", "TRALMO_EXITSETMOOD", 1},
        {"Tralmo", "PREV_BUTTON", 0},
        {"Tralmo", "PLAY_BUTTON", 0},
        {"Tralmo", "PAUSE_BUTTON", 0},
        {"Tralmo", "STOP_BUTTON", 0},
        {"Tralmo", "NEXT_BUTTON", 0},
        {"Winamp", "volume", 30},
    };
    const auto reads = profileCalls("int");
    ASSERT_EQ(reads.size(), std::size(expected));
    for (std::size_t i = 0; i < reads.size(); ++i) {
        SCOPED_TRACE(expected[i].key);
        EXPECT_EQ(reads[i].section, expected[i].section);
        EXPECT_EQ(reads[i].key, expected[i].key);
        EXPECT_EQ(reads[i].fallback, expected[i].fallback);
        EXPECT_EQ(reads[i].result, expected[i].fallback);
        EXPECT_EQ(reads[i].file, path_);
    }
    // The exit mood is read between the switches and the buttons.
    const auto all = profileCalls();
    ASSERT_GE(all.size(), 6u);
    EXPECT_EQ(all[5].function, "text");
    EXPECT_EQ(all[5].key, "TRALMO_EXIT_MOOD");

    const auto calls = recordedCalls();
    EXPECT_EQ(countCalls(calls, trayIcon(NIM_ADD, kMainIconId)), 1u);
    EXPECT_EQ(countCalls(calls, named("Shell_NotifyIconA")), 6u) << describeCalls(calls);
    EXPECT_EQ(countCalls(calls, menuCheck(IDM_ACTIVE, MF_CHECKED)), 1u);
    EXPECT_EQ(countCalls(calls, menuCheck(IDM_STOP_ON_CALL, MF_UNCHECKED)), 1u);

    // Playing, toggling and timer ticks change memory only.
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::SongStarted);
    sendToHost(WM_COMMAND, IDM_STOP_ON_CALL, 0);
    sendToHost(WM_COMMAND, kFirstButtonToggle, 0);
    sendToHost(WM_TIMER, kDiscoveryTimer, 0);
    sendToHost(WM_COMMAND, IDM_STOP_ON_CALL, 0);
    sendToHost(WM_COMMAND, kFirstButtonToggle, 0);
    EXPECT_TRUE(profileCalls("write").empty());
    EXPECT_FALSE(fileExists(path_));

    ASSERT_TRUE(standin::quitPlugin());
    std::vector<std::string> saved;
    for (const std::string& key : kSavedKeys)
        saved.push_back(
            key + "=" +
            (key == "TRALMO_STOP_MUSIC" || key.find("_BUTTON") != std::string::npos ? "0" : "1"));
    EXPECT_EQ(standin::readIniSection("Tralmo"), saved);
    EXPECT_TRUE(standin::readIniSection("Winamp").empty());
}

// ---- Stored values ------------------------------------------------------------------------

struct StoredCase {
    const char* name;
    const char* key;
    const char* stored;
    int fallback;
    bool button; // a tray button's shown flag: saved as 0 or 1
};

void PrintTo(const StoredCase& c, std::ostream* out) {
    *out << c.key << "=" << c.stored;
}

class StoredValueTest : public PluginTest, public testing::WithParamInterface<StoredCase> {
  protected:
    void prepare() override {
        const StoredCase& c = GetParam();
        ASSERT_TRUE(
            standin::writeIniContent(std::string("[Tralmo]\n") + c.key + "=" + c.stored + "\n"));
        // What the platform itself makes of the stored text.
        loaded_ = static_cast<int>(
            GetPrivateProfileIntA("Tralmo", c.key, c.fallback, standin::iniPath().c_str()));
    }
    int loaded_ = 0;
};

TEST_P(StoredValueTest, LoadsAsThePlatformReadsItAndSavesBack) {
    const StoredCase& c = GetParam();
    const auto calls = recordedCalls();
    if (c.button) {
        const int button = static_cast<int>(std::find(kSavedKeys.begin(), kSavedKeys.end(), c.key) -
                                            kSavedKeys.begin() - 5);
        EXPECT_EQ(countCalls(calls, trayIcon(NIM_ADD, kFirstButtonIconId + button)),
                  loaded_ != 0 ? 1u : 0u);
    } else if (std::string(c.key) == "TRALMO_ACTIVE") {
        EXPECT_EQ(
            countCalls(calls, menuCheck(IDM_ACTIVE, loaded_ != 0 ? MF_CHECKED : MF_UNCHECKED)), 1u);
    }
    ASSERT_TRUE(standin::quitPlugin());
    const int expected = c.button ? (loaded_ != 0 ? 1 : 0) : loaded_;
    EXPECT_EQ(standin::readIniString("Tralmo", c.key), std::to_string(expected))
        << "platform read " << loaded_;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, StoredValueTest,
    testing::Values(StoredCase{"ActiveFive", "TRALMO_ACTIVE", "5", 1, false},
                    StoredCase{"ActiveWord", "TRALMO_ACTIVE", "abc", 1, false},
                    StoredCase{"ActiveNumberThenWord", "TRALMO_ACTIVE", "12abc", 1, false},
                    StoredCase{"ActiveNegative", "TRALMO_ACTIVE", "-3", 1, false},
                    StoredCase{"ActiveEmpty", "TRALMO_ACTIVE", "", 1, false},
                    StoredCase{"StopMusicHex", "TRALMO_STOP_MUSIC", "0x10", 0, false},
                    StoredCase{"HtmlHuge", "TRALMO_ALLOW_HTML", "99999999999", 1, false},
                    StoredCase{"PrevSeven", "PREV_BUTTON", "7", 0, true},
                    StoredCase{"PauseWord", "PAUSE_BUTTON", "yes", 0, true},
                    StoredCase{"NextNegative", "NEXT_BUTTON", "-1", 0, true}),
    [](const testing::TestParamInfo<StoredCase>& info) { return std::string(info.param.name); });

// ---- Which file ------------------------------------------------------------------------------

class WinampIniTest : public PluginTest {
  protected:
    void configure(standin::PlayerOptions& options) override {
        options.answerIniPath = false;
        options.answerWideIniPath = false;
    }
    void prepare() override {
        char directory[MAX_PATH] = {};
        GetWindowsDirectoryA(directory, MAX_PATH);
        systemIni_ = std::string(directory) + "\\winamp.ini";
        std::ifstream existing(systemIni_, std::ios::binary);
        hadSystemIni_ = existing.good();
        if (hadSystemIni_)
            saved_.assign(std::istreambuf_iterator<char>(existing), {});
    }
    void TearDown() override {
        PluginTest::TearDown();
        forgetProfileCache("winamp.ini");
        DeleteFileA(".\\winamp.ini");
        if (hadSystemIni_)
            std::ofstream(systemIni_, std::ios::binary | std::ios::trunc) << saved_;
        else
            DeleteFileA(systemIni_.c_str());
    }
    std::string systemIni_;
    bool hadSystemIni_ = false;
    std::string saved_;
};

TEST_F(WinampIniTest, HostWithoutAPathMakesEveryReadAndWriteUseWinampIni) {
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::SongStarted);
    ASSERT_TRUE(standin::quitPlugin());
    ASSERT_FALSE(profileCalls("int").empty());
    ASSERT_FALSE(profileCalls("text").empty());
    ASSERT_EQ(profileCalls("write").size(), kSavedKeys.size());
    for (const ProfileCall& call : profileCalls())
        EXPECT_EQ(call.file, "winamp.ini") << call.function << " " << call.key;
    // The bare name is the platform's: the Windows directory, not the host's file.
    EXPECT_EQ(GetPrivateProfileIntA("Tralmo", "TRALMO_ACTIVE", -1, "winamp.ini"), 1u);
    EXPECT_TRUE(standin::readIniSection("Tralmo").empty());
}

// The profile functions read the Windows folder's winamp.ini, never one in the
// current folder (here an old one, which never changes): an edit of the file
// they read reaches Skype at the next song.
TEST_F(WinampIniTest, AnEditOfWinampIniReachesTheNextSong) {
    const auto save = [](const std::string& path, const char* moodTemplate) {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << "[Tralmo]\r\nTRALMO_USER_STRING=" << moodTemplate << "\r\n";
        return file.good();
    };
    const std::string here = ".\\winamp.ini";
    ASSERT_TRUE(save(systemIni_, "Old: [%title%]") && stampFile(systemIni_, -1));
    ASSERT_TRUE(save(here, "Old: [%title%]") && stampFile(here, -1));
    std::unique_ptr<standin_skype::Running> skype;
    ASSERT_TRUE(startSkypeAndAttach(skype));
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::SongStarted);
    ASSERT_TRUE(waitForLastSkypeCommand("SET PROFILE RICH_MOOD_TEXT Old: First Song"));

    ASSERT_TRUE(save(systemIni_, "New: [%title%]"));
    playSong(1);
    EXPECT_TRUE(waitForLastSkypeCommand("SET PROFILE RICH_MOOD_TEXT New: Second Song"))
        << lastSkypeCommand();
}

// ---- A profile folder outside the code page ----------------------------------------

struct ProfilePathCase {
    const char* name;
    bool folderOutsideCodePage; // a user profile named in Chinese on a Western system
    bool hostGivesWidePath;     // Winamp 5.58 and later (query 1334)
};

void PrintTo(const ProfilePathCase& c, std::ostream* out) {
    *out << c.name;
}

std::string fileBytes(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

// Settings, the template the mood is built from and the options dialog's
// texts all come from the file the host names and go back into it, with the
// bytes of the code page (0xC9 "É", 0xDC "Ü" in 1252) as the file held them.
class ProfilePathTest : public PluginTest, public testing::WithParamInterface<ProfilePathCase> {
  protected:
    void configure(standin::PlayerOptions& options) override {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring name = GetParam().folderOutsideCodePage
                                      ? L"tralmo_\x7528\x6237_" // 用户, "user"
                                      : L"tralmo_profile_";
        folder_ = temp + name + std::to_wstring(GetCurrentProcessId()) + L"_" +
                  std::to_wstring(GetTickCount());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        path_ = folder_ + L"\\winamp.ini";
        options.wideIniPath = path_;
        options.answerWideIniPath = GetParam().hostGivesWidePath;
    }
    void prepare() override {
        ASSERT_TRUE(standin::writeIniContent("[Tralmo]\r\n"
                                             "TRALMO_STOP_MUSIC=1\r\n"
                                             "TRALMO_ALLOW_HTML=0\r\n"
                                             "TRALMO_EXIT_MOOD=\xC9t\xE9 fini\r\n"
                                             "TRALMO_USER_STRING=Now: [%title%]\r\n"
                                             "STOP_BUTTON=1\r\n"));
        ASSERT_TRUE(startSkypeForPlugin(skype_));
    }
    void TearDown() override {
        PluginTest::TearDown();
        skype_.reset();
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, path_.c_str());
        DeleteFileW(path_.c_str());
        RemoveDirectoryW(folder_.c_str());
    }

    static std::string lastMood() { return standin_skype::snapshot().mood.text; }

    std::wstring folder_;
    std::wstring path_;
    std::unique_ptr<standin_skype::Running> skype_;
};

TEST_P(ProfilePathTest, SettingsComeFromAndGoBackToTheFileTheHostNames) {
    if (GetParam().folderOutsideCodePage) {
        ASSERT_NE(standin::iniPath().find('?'), std::string::npos)
            << "the code page holds the folder's name: nothing to show";
    }
    // Loaded: Stop on call is checked and the Stop button is in the tray.
    const auto calls = recordedCalls();
    EXPECT_EQ(countCalls(calls, menuCheck(IDM_STOP_ON_CALL, MF_CHECKED)), 1u);
    EXPECT_EQ(countCalls(calls, trayIcon(NIM_ADD, kFirstButtonIconId + 3)), 1u);

    // The mood is built from the stored template, as plain text.
    ASSERT_TRUE(standin_skype::pumpUntil([] {
        const auto sent = standin_skype::snapshot().attaches;
        return !sent.empty() && sent.back().delivered;
    }));
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::SongStarted);
    ASSERT_TRUE(standin_skype::pumpUntil([this] { return !lastMood().empty(); }));
    EXPECT_EQ(lastMood(), "Now: First Song");

    // The dialog shows the stored texts and OK writes the new ones back.
    DialogScript script;
    script.then([](HWND dialog) {
        EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_USER_STRING)), "Now: [%title%]");
        EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_EXIT_MOOD)), "\xC9t\xE9 fini");
        SetDlgItemTextA(dialog, IDC_USER_STRING,
                        "\xDC"
                        "ben: [%title%]");
        clickButton(dialog, IDOK);
    });
    ASSERT_TRUE(standin::configPlugin());
    ASSERT_EQ(script.actionsRun(), 1);
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::SongStarted);
    EXPECT_TRUE(standin_skype::pumpUntil([this] {
        return lastMood() == "\xC3\x9C"
                             "ben: First Song";
    })) << lastMood();

    // Quit sends the exit mood and saves into the same file.
    ASSERT_TRUE(standin::quitPlugin());
    EXPECT_EQ(lastMood(), "\xC3\x89t\xC3\xA9 fini");
    const std::string bytes = fileBytes(path_);
    for (const char* line :
         {"TRALMO_STOP_MUSIC=1\r\n", "TRALMO_ALLOW_HTML=0\r\n", "STOP_BUTTON=1\r\n",
          "TRALMO_ACTIVE=1\r\n", "TRALMO_EXIT_MOOD=\xC9t\xE9 fini\r\n",
          "TRALMO_USER_STRING=\xDC"
          "ben: [%title%]\r\n"})
        EXPECT_NE(bytes.find(line), std::string::npos) << line << " in\n" << bytes;

    // Every read and write went to that file, through the functions that can name it.
    const auto all = profileCalls();
    ASSERT_FALSE(all.empty());
    for (const ProfileCall& call : all) {
        SCOPED_TRACE(call.function + " " + call.key);
        EXPECT_EQ(call.wide, GetParam().hostGivesWidePath);
        EXPECT_EQ(call.file, call.wide ? standin::utf8FromWide(path_) : standin::iniPath());
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, ProfilePathTest,
                         testing::Values(ProfilePathCase{"OutsideTheCodePage", true, true},
                                         ProfilePathCase{"InTheCodePage", false, true},
                                         ProfilePathCase{"OlderHostWithoutTheWidePath", false,
                                                         false}),
                         [](const testing::TestParamInfo<ProfilePathCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- The host's own key and the defaults of later reads --------------------------------------

class HostVolumeTest : public PluginTest {
  protected:
    void prepare() override { ASSERT_TRUE(standin::writeIniContent("[Winamp]\nvolume=120\n")); }
};

TEST_F(HostVolumeTest, VolumeIsReadButNeverWritten) {
    const auto reads = profileCalls("int");
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.back().section, "Winamp");
    EXPECT_EQ(reads.back().key, "volume");
    EXPECT_EQ(reads.back().fallback, 30);
    EXPECT_EQ(reads.back().result, 120);
    ASSERT_TRUE(standin::quitPlugin());
    for (const ProfileCall& call : profileCalls("write"))
        EXPECT_EQ(call.section, "Tralmo") << call.key;
    EXPECT_EQ(standin::readIniSection("Winamp"), std::vector<std::string>{"volume=120"});
}

TEST_F(HostVolumeTest, ASecondInitReadsMissingKeysAsTheFirstDid) {
    // Change memory, quit (which also clears Active and Stop on call), then
    // start again on the same loaded library with the keys gone: the
    // defaults come back, not what the first life left in memory.
    sendToHost(WM_COMMAND, IDM_SET_MOOD_ON_EXIT, 0);
    sendToHost(WM_COMMAND, IDM_STOP_ON_CALL, 0);
    sendToHost(WM_COMMAND, kFirstButtonToggle + 2, 0);
    ASSERT_TRUE(standin::quitPlugin());
    ASSERT_TRUE(standin::writeIniContent(""));
    clearRecordedCalls();
    ASSERT_TRUE(standin::initPlugin());

    const std::pair<const char*, int> expected[] = {
        {"TRALMO_ACTIVE", 1},
        {"TRALMO_STOP_MUSIC", 0},
        {"TRALMO_SHOW_TRAYICON", 1},
        {"TRALMO_ALLOW_HTML", 1},
        {"TRALMO_EXITSETMOOD", 1},
        {"PREV_BUTTON", 0},
        {"PLAY_BUTTON", 0},
        {"PAUSE_BUTTON", 0},
        {"STOP_BUTTON", 0},
        {"NEXT_BUTTON", 0},
        {"volume", 30},
    };
    const auto reads = profileCalls("int");
    ASSERT_EQ(reads.size(), std::size(expected));
    for (std::size_t i = 0; i < reads.size(); ++i) {
        EXPECT_EQ(reads[i].key, expected[i].first);
        EXPECT_EQ(reads[i].fallback, expected[i].second) << expected[i].first;
    }
}

// ---- Text keys
// -----------------------------------------------------------------------------------

class TextKeyTest : public PluginTest {
  protected:
    void prepare() override {
        ASSERT_TRUE(standin::writeIniContent("[Tralmo]\nTRALMO_EXIT_MOOD=" + longText('x') +
                                             "\nTRALMO_USER_STRING=" + longText('t') + "\n"));
        ASSERT_TRUE(startSkypeForPlugin(skype_)); // attaches the link once the test pumps
    }
    static std::string longText(char c) { return std::string(600, c); }
    std::unique_ptr<standin_skype::Running> skype_;
};

TEST_F(TextKeyTest, TextsAreReadIntoA512ByteBuffer) {
    ASSERT_TRUE(waitForSkypeAttach());
    standin::setPlayState(standin::PlayState::Playing, standin::Notify::SongStarted);
    std::string mood;
    ASSERT_TRUE(standin_skype::pumpUntil([&] {
        const auto records = standin_skype::snapshot().records;
        return !records.empty() && standin_skype::moodTextOf(records.back().text(), &mood);
    }));
    EXPECT_EQ(mood, std::string(511, 't'));

    ASSERT_TRUE(standin::quitPlugin());
    const auto records = standin_skype::snapshot().records;
    ASSERT_FALSE(records.empty());
    ASSERT_TRUE(standin_skype::moodTextOf(records.back().text(), &mood));
    EXPECT_EQ(mood, std::string(511, 'x'));

    const auto texts = profileCalls("text");
    ASSERT_GE(texts.size(), 2u);
    for (const ProfileCall& call : texts) {
        EXPECT_EQ(call.size, 512u) << call.key;
        EXPECT_EQ(call.section, "Tralmo");
    }
    // Save writes neither text key.
    for (const ProfileCall& call : profileCalls("write"))
        EXPECT_TRUE(call.key != "TRALMO_EXIT_MOOD" && call.key != "TRALMO_USER_STRING") << call.key;
}
