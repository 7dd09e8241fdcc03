// What every integration test needs: a stand-in player with the real
// gen_tralmo.dll loaded afresh, its system calls recorded.
#pragma once
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "api_recorder.h"
#include "plugin/host_api.h"
#include "standin_player.h"
#include "standin_skype.h"

// gen_tralmo.dll beside the test program.
std::string pluginPath();

// The number RegisterWindowMessageA gives for a name (the same in every
// process of one session).
UINT registeredMessage(const char* name);

// Sends a message to the player's main window, as the host or the shell would.
LRESULT sendToHost(UINT message, WPARAM wParam, LPARAM lParam);

// Each test gets a new player, a fresh ini file and a freshly loaded plug-in.
// Override prepare() to set options, ini content, stand-ins and fakes before
// the plug-in's init runs.
class PluginTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Before createPlayer: adjust the options.
    virtual void configure(standin::PlayerOptions& options) { (void)options; }
    // After the player exists and the plug-in is loaded and recorded, before init.
    virtual void prepare() {}
    // Whether SetUp calls init (tests of init itself can do it by hand).
    virtual bool initAtSetUp() { return true; }

    // Unloads and loads the plug-in again with the same player, as a restart.
    void reloadPlugin();

    HWND host() const { return standin::mainWindow(); }
    HWND playlist() const { return standin::playlistWindow(); }
    PluginDescriptor* descriptor() const { return standin::pluginDescriptor(); }
};
