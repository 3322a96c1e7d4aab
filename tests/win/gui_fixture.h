// The real main window and the real comms worker against a simulated board,
// on the test's own thread, for the window's tests and its benchmark. Waiting
// always pumps messages: the worker sends everything it does to the window and
// blocks until it is handled.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_win32.h"
#include "job/messages.h"
#include "resources/resource.h"
#include "sim/sim_setup.h"
#include "update/sequencer.h"

inline std::string ItemText(HWND dialog, int id)
{
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

inline std::string BoxText(HWND box)
{
    return ItemText(box, 0xFFFF);
}

// The portable way to press a button.
inline void Press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        current_ = this;
        UpdateRunning = false;
        ServiceModeOn = false;
        timer_ = SetTimer(nullptr, 0, 20, DialogTimer);
    }

    void TearDown() override
    {
        // The program's worker never ends; each test ends its own with the
        // quit message its loop honours, pumping for its last sends.
        if (HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, CommsThreadId)) {
            PostThreadMessageA(CommsThreadId, WM_QUIT, 0, 0);
            PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 10000);
            CloseHandle(thread);
        }
        CommsThreadId = 0;
        DestroyWindow(main);
        Pump(0);
        KillTimer(nullptr, timer_);
        setup_.reset();
        ProgrammingState = -1;
        ProgrammingInitialised = 0;
        EXPECT_TRUE(expected_.empty()) << "not shown: " << expected_.front().title;
    }

    void Start(SimConfig config = SimConfig())
    {
        config.readTimeoutMs = 200;
        board = std::make_unique<SimBoard>(config);
        setup_.emplace(board.get(), [](uint32_t ms) { Sleep(ms / 50); });  // the board's pauses, in order
        main = CreateMainWindow(GetModuleHandleA(nullptr));
        ASSERT_NE(main, nullptr);
        accelerators = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_ACCELERATORS));
        // Every status line the worker writes passes through here.
        statusProc_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(GetDlgItem(main, IDC_STATUS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusSpy)));
    }

    // Through the program's own loop step, as the real loop would.
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000)
    {
        const DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                ProcessUiMessage(main, accelerators, msg);
            if (done())
                return true;
            if (GetTickCount() - start >= timeoutMs)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
    void Pump(DWORD ms) { PumpUntil([] { return false; }, ms); }

    // The next dialog or box titled title, in the order given, goes to
    // handler, also inside modal loops. Any other dialog fails the test.
    void OnDialog(const std::string& title, std::function<void(HWND)> handler)
    {
        expected_.push_back({title, std::move(handler)});
    }
    bool AnswerAll(DWORD timeoutMs = 8000)
    {
        return PumpUntil(
            [this] {
                return expected_.empty() &&
                       std::none_of(answered_.begin(), answered_.end(), [](HWND w) { return IsWindow(w); });
            },
            timeoutMs);
    }

    std::string Text(int id) const { return ItemText(main, id); }
    bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(main, id)) != 0; }
    // The window as its user sees it: the hint, the button's text and the
    // controls that can be used.
    std::string Shown() const
    {
        return Text(IDC_HINT) + " | " + Text(IDC_PROGRAM) + " |" + (Enabled(IDC_FIRMWARE_FILE) ? " edit" : "") +
               (Enabled(IDC_BROWSE) ? " ..." : "") + (Enabled(IDC_PROGRAM) ? " program" : "");
    }
    std::string WaitHint(const std::string& hint, DWORD timeoutMs = 5000)
    {
        PumpUntil([&] { return Text(IDC_HINT) == hint; }, timeoutMs);
        return Text(IDC_HINT);
    }
    // As typing would: the edit reports the change.
    void SetFileName(const std::string& path)
    {
        SetDlgItemTextA(main, IDC_FIRMWARE_FILE, path.c_str());
        Pump(0);
    }
    void Click(int id) { SendDlgItemMessageA(main, id, BM_CLICK, 0, 0); }

    // A key as the message loop receives it, with these modifiers down for
    // the accelerator check.
    void Key(UINT message, WPARAM key, std::initializer_list<int> modifiers)
    {
        BYTE keys[256] = {};
        for (int vk : modifiers)
            keys[vk] = 0x80;
        SetKeyboardState(keys);
        const LPARAM alt = keys[VK_MENU] ? 1 << 29 : 0;
        PostMessageA(GetFocus() ? GetFocus() : main, message, key, 1 | alt);
        Pump(50);
        BYTE none[256] = {};
        SetKeyboardState(none);
    }

    // A command of the menu bar's popup at this position, as choosing it.
    void Choose(int popup, int item)
    {
        PostMessageA(main, WM_COMMAND, GetMenuItemID(GetSubMenu(GetMenu(main), popup), item), 0);
    }

    HWND main = nullptr;
    HACCEL accelerators = nullptr;
    std::unique_ptr<SimBoard> board;
    std::optional<SimLinkSetup> setup_;
    std::function<void(const std::string&)> onStatus;

private:
    static LRESULT CALLBACK StatusSpy(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
    {
        const LRESULT r = CallWindowProcA(current_->statusProc_, window, message, wparam, lparam);
        if (message == WM_SETTEXT && current_->onStatus)
            current_->onStatus(reinterpret_cast<const char*>(lparam));
        return r;
    }

    static void CALLBACK DialogTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        GuiTest& t = *current_;
        auto& done = t.answered_;
        done.erase(std::remove_if(done.begin(), done.end(), [](HWND w) { return !IsWindow(w); }), done.end());
        for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr;) {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (w == t.main || pid != GetCurrentProcessId() || !IsWindowVisible(w) ||
                std::find(done.begin(), done.end(), w) != done.end())
                continue;
            char title[128] = "";
            GetWindowTextA(w, title, sizeof title);
            done.push_back(w);
            if (!t.expected_.empty() && t.expected_.front().title == title) {
                // Taken off first: the handler may open the next modal loop.
                const auto handler = std::move(t.expected_.front().handler);
                t.expected_.pop_front();
                handler(w);
                return;
            }
            // Left open it would hold the test in its modal loop.
            ADD_FAILURE() << "unexpected dialog \"" << title << "\": " << BoxText(w);
            for (int id : {IDCANCEL, IDNO, IDOK})
                if (GetDlgItem(w, id))
                    return Press(w, id);
        }
    }

    struct Expected {
        std::string title;
        std::function<void(HWND)> handler;
    };
    std::deque<Expected> expected_;
    std::vector<HWND> answered_;
    UINT_PTR timer_ = 0;
    WNDPROC statusProc_ = nullptr;
    inline static GuiTest* current_ = nullptr;
};
