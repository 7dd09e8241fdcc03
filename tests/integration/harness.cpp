#include "harness.h"

std::string pluginPath() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self);
    path.erase(path.find_last_of("\\/") + 1);
    return path + "gen_tralmo.dll";
}

UINT registeredMessage(const char* name) {
    return RegisterWindowMessageA(name);
}

LRESULT sendToHost(UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(standin::mainWindow(), message, wParam, lParam);
}

void PluginTest::SetUp() {
    standin::PlayerOptions options;
    options.titles = {"First Song", "Second Song", "Third Song"};
    configure(options);
    ASSERT_TRUE(standin::createPlayer(options)) << "no player window: is there a display?";
    ASSERT_TRUE(standin::loadPlugin(pluginPath())) << standin::pluginError();
    startRecordingApi(standin::pluginModule());
    ASSERT_NE(standin::describePlugin(), nullptr) << standin::pluginError();
    prepare();
    if (initAtSetUp()) {
        ASSERT_TRUE(standin::initPlugin()) << standin::pluginError();
    }
    standin::clearLog();
}

void PluginTest::TearDown() {
    standin::destroyPlayer();
}

void PluginTest::reloadPlugin() {
    standin::quitPlugin();
    standin::unloadPlugin();
    ASSERT_TRUE(standin::loadPlugin(pluginPath())) << standin::pluginError();
    startRecordingApi(standin::pluginModule());
    ASSERT_NE(standin::describePlugin(), nullptr) << standin::pluginError();
    ASSERT_TRUE(standin::initPlugin()) << standin::pluginError();
}
