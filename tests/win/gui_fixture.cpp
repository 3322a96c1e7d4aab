#include "gui_fixture.h"

#include <algorithm>

#include "app/app_win32.h"
#include "link/board_link.h"
#include "link/hid.h"
#include "resources/resource.h"
#include "update/sequencer.h"

GuiTest* GuiTest::current_ = nullptr;

namespace {

// The board's settle pauses, shortened; their order with the rest stays.
void ShortSleep(uint32_t ms)
{
    Sleep(ms / 50);
}

bool OwnWindow(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid == GetCurrentProcessId();
}

}  // namespace

HWND FindDialog(const std::string& title, HWND except)
{
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", title.c_str())) != nullptr;)
        if (w != except && OwnWindow(w) && IsWindowVisible(w))
            return w;
    return nullptr;
}

std::string ItemText(HWND dialog, int id)
{
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::string BoxText(HWND box)
{
    return ItemText(box, 0xFFFF);
}

void Press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string MenuText(HMENU menu, UINT position)
{
    char text[128] = "";
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text;
}

void GuiTest::SetUp()
{
    current_ = this;
    UpdateRunning = false;
    ServiceModeOn = false;
    BoardStatus = 0;
    SetBoardSleep(ShortSleep);
    timer_ = SetTimer(nullptr, 0, 20, DialogTimer);
}

void GuiTest::TearDown()
{
    StopWorker();
    if (main && IsWindow(main))
        DestroyWindow(main);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    KillTimer(nullptr, timer_);
    BYTE keys[256] = {};
    SetKeyboardState(keys);
    SetHidBackend(nullptr);
    InstallSimBoard(nullptr);
    SetBoardSleep(nullptr);
    OpenFileDialog = GetOpenFileNameA;
    ProgrammingState = -1;
    ProgrammingInitialised = 0;
    current_ = nullptr;
    EXPECT_TRUE(expected_.empty()) << "not shown: " << expected_.front().title;
}

// Each test gets a worker of its own; the program's never ends, so the test
// ends it with the quit message its loop honours.
void GuiTest::StopWorker()
{
    if (!CommsThreadId)
        return;
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, CommsThreadId);
    PostThreadMessageA(CommsThreadId, WM_QUIT, 0, 0);
    if (thread) {
        const DWORD start = GetTickCount();
        while (MsgWaitForMultipleObjects(1, &thread, FALSE, 50, QS_ALLINPUT) != WAIT_OBJECT_0 &&
               GetTickCount() - start < 10000)
            Pump(0);
        CloseHandle(thread);
    }
    CommsThreadId = 0;
}

void GuiTest::Start(SimConfig config)
{
    config.readTimeoutMs = 200;
    board = std::make_unique<SimBoard>(config);
    InstallSimBoard(board.get());
    SetHidBackend(&kSimHidBackend);

    main = CreateMainWindow(GetModuleHandleA(nullptr));
    ASSERT_NE(main, nullptr);
    accelerators = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_ACCELERATORS));
    ASSERT_NE(accelerators, nullptr);

    // Watch what the worker writes to the status line.
    statusProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(GetDlgItem(main, IDC_STATUS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusSpy)));
}

LRESULT CALLBACK GuiTest::StatusSpy(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    const LRESULT r = CallWindowProcA(current_->statusProc_, window, message, wparam, lparam);
    if (message == WM_SETTEXT) {
        const std::string text = reinterpret_cast<const char*>(lparam);
        current_->statuses.push_back(text);
        if (current_->onStatus)
            current_->onStatus(text);
    }
    return r;
}

void CALLBACK GuiTest::DialogTimer(HWND, UINT, UINT_PTR, DWORD)
{
    if (!current_)
        return;
    GuiTest& t = *current_;
    auto& answered = t.answered_;
    answered.erase(std::remove_if(answered.begin(), answered.end(), [](HWND w) { return !IsWindow(w); }),
                   answered.end());
    const std::string wanted = t.expected_.empty() ? std::string() : t.expected_.front().title;

    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr;) {
        if (w == t.main || !OwnWindow(w) || !IsWindowVisible(w) ||
            std::find(answered.begin(), answered.end(), w) != answered.end())
            continue;
        char title[128] = "";
        GetWindowTextA(w, title, sizeof title);
        if (!wanted.empty() && wanted == title) {
            // Taken off first: the handler may open the next modal loop itself.
            const auto handler = std::move(t.expected_.front().handler);
            t.expected_.pop_front();
            answered.push_back(w);
            handler(w);
            return;
        }
        // A dialog nobody expects would hold the test in its modal loop for
        // ever: after a while it fails the test and is dismissed.
        const DWORD now = GetTickCount();
        const auto seen = t.unexpected_.emplace(w, now).first->second;
        if (now - seen > 5000) {
            ADD_FAILURE() << "unexpected dialog \"" << title << "\": " << BoxText(w);
            answered.push_back(w);
            for (int id : {IDCANCEL, IDNO, IDOK})
                if (GetDlgItem(w, id)) {
                    Press(w, id);
                    break;
                }
        }
    }
}

void GuiTest::OnDialog(const std::string& title, std::function<void(HWND)> handler)
{
    expected_.push_back({title, std::move(handler)});
}

bool GuiTest::AnswerAll(DWORD timeoutMs)
{
    return PumpUntil(
        [this] {
            if (!expected_.empty())
                return false;
            for (HWND dialog : answered_)
                if (IsWindow(dialog))
                    return false;
            return true;
        },
        timeoutMs);
}

bool GuiTest::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
                continue;
            }
            ProcessUiMessage(main, accelerators, msg);
        }
        if (done())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void GuiTest::Pump(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

std::string GuiTest::Text(int id) const
{
    return ItemText(main, id);
}

bool GuiTest::Enabled(int id) const
{
    return IsWindowEnabled(GetDlgItem(main, id)) != 0;
}

void GuiTest::SetFileName(const std::string& path)
{
    SetDlgItemTextA(main, IDC_FIRMWARE_FILE, path.c_str());
    Pump(0);
}

std::string GuiTest::WaitHint(const std::string& hint, DWORD timeoutMs)
{
    PumpUntil([&] { return Text(IDC_HINT) == hint; }, timeoutMs);
    return Text(IDC_HINT);
}

void GuiTest::Key(UINT message, WPARAM key, std::initializer_list<int> modifiers)
{
    BYTE keys[256] = {};
    for (int vk : modifiers)
        keys[vk] = 0x80;
    SetKeyboardState(keys);
    const bool alt = keys[VK_MENU] != 0;
    PostMessageA(GetFocus() ? GetFocus() : main, message, key, 1 | (alt ? 1 << 29 : 0));
    Pump(50);
    BYTE none[256] = {};
    SetKeyboardState(none);
}
