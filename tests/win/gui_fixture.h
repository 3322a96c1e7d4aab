// Runs the real main window and the real comms worker against a simulated
// board, on the test's own thread. Waiting always pumps messages: the worker
// sends everything it does to the window and blocks until it is handled.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_board.h"

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Installs a board made from config and creates the main window.
    void Start(SimConfig config = SimConfig());

    // Pumps the UI thread's messages through the program's own loop step
    // until done() holds; false after timeoutMs.
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
    void Pump(DWORD ms);

    // Answers the next dialog or message box of this process titled title,
    // in the order given; the handler reads it and presses something. It runs
    // on the UI thread from a timer, also inside modal loops.
    void OnDialog(const std::string& title, std::function<void(HWND)> handler);
    bool AllDialogsAnswered() const { return expected_.empty(); }
    void ForgetDialogs() { expected_.clear(); }
    // Waits until every expected dialog has been answered and pumped away.
    bool AnswerAll(DWORD timeoutMs = 8000);

    std::string Text(int id) const;
    bool Enabled(int id) const;
    // Sets the file name as typing would, and waits for the refresh.
    void SetFileName(const std::string& path);
    std::string WaitHint(const std::string& hint, DWORD timeoutMs = 5000);

    // A key as the message loop would receive it, with the modifiers down
    // (VK_CONTROL, VK_MENU, VK_SHIFT) for the accelerator check.
    void Key(UINT message, WPARAM key, std::initializer_list<int> modifiers);

    HWND main = nullptr;
    HACCEL accelerators = nullptr;
    std::unique_ptr<SimBoard> board;
    bool quit = false;  // the UI thread received WM_QUIT
    WPARAM quitCode = 0;

    // Every text the worker wrote to IDC_STATUS.
    std::vector<std::string> statuses;
    std::function<void(const std::string&)> onStatus;

private:
    struct Expected {
        std::string title;
        std::function<void(HWND)> handler;
    };
    static void CALLBACK DialogTimer(HWND, UINT, UINT_PTR, DWORD);
    static LRESULT CALLBACK StatusSpy(HWND, UINT, WPARAM, LPARAM);
    void StopWorker();

    std::deque<Expected> expected_;
    std::vector<HWND> answered_;
    std::map<HWND, DWORD> unexpected_;  // first seen
    UINT_PTR timer_ = 0;
    WNDPROC statusProc_ = nullptr;
    static GuiTest* current_;
};

// Dialogs and boxes of this process with this title, other than the window.
HWND FindDialog(const std::string& title, HWND except = nullptr);
std::string ItemText(HWND dialog, int id);
// A message box's text.
std::string BoxText(HWND box);
// Presses a button the portable way.
void Press(HWND dialog, int id);
std::string MenuText(HMENU menu, UINT position);
