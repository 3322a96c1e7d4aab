// The main window against the real worker: its states and hints as the board
// and the file name change, its template, and the file picker.
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <filesystem>

#include "app/app_win32.h"
#include "gui_fixture.h"
#include "resources/resource.h"
#include "support/firmware_builder.h"

namespace {

class MainWindow : public GuiTest {};

TEST_F(MainWindow, StartsWaitingThenAsksForTheBoard)
{
    SimConfig absent;
    absent.present = false;
    Start(absent);
    // Nothing from the worker gets in before the window pumps.
    EXPECT_EQ(Text(IDC_STATUS), "Wait...");
    EXPECT_EQ(Text(IDC_HINT), "");
    EXPECT_FALSE(Enabled(IDC_PROGRAM));

    EXPECT_EQ(WaitHint("Attach board to USB and power on"), "Attach board to USB and power on");
    EXPECT_EQ(Text(IDC_STATUS), "No board detected");

    // A good file changes nothing without a board; the poll goes on quietly.
    TempFile file(Bytes{});
    SetFileName(file.path());
    EXPECT_TRUE(PumpUntil([&] { return statuses.size() >= 2; }, 3000)) << "the worker polls once a second";
    EXPECT_EQ(Text(IDC_HINT), "Attach board to USB and power on");
    EXPECT_FALSE(Enabled(IDC_PROGRAM));
    EXPECT_EQ(FindDialog("Error", main), nullptr);
}

TEST_F(MainWindow, HintFollowsTheBoardAndTheFileName)
{
    Start();
    EXPECT_EQ(WaitHint("Select a firmware file to upload"), "Select a firmware file to upload");
    EXPECT_EQ(Text(IDC_STATUS), "Connected: Ferrit XR, version 3.02b");
    EXPECT_FALSE(Enabled(IDC_PROGRAM));

    TempFile file(Bytes{'D'});
    SetFileName(file.path());
    EXPECT_EQ(WaitHint("Ready"), "Ready");
    EXPECT_TRUE(Enabled(IDC_PROGRAM));

    const std::string directory = std::filesystem::temp_directory_path().string();
    for (const std::string& bad : {directory, file.path() + ".missing"}) {
        SetFileName("");
        WaitHint("Select a firmware file to upload");
        SetFileName(bad);
        EXPECT_EQ(WaitHint("Selected filename does not exist"), "Selected filename does not exist") << bad;
        EXPECT_FALSE(Enabled(IDC_PROGRAM));
    }

    SetFileName(file.path());
    WaitHint("Ready");
    // Enter in the edit is IDOK, which the window ignores.
    SetFocus(GetDlgItem(main, IDC_FIRMWARE_FILE));
    Key(WM_KEYDOWN, VK_RETURN, {});
    EXPECT_FALSE(UpdateRunning);
    EXPECT_EQ(Text(IDC_PROGRAM), "Program");

    board->SetPresent(false);
    EXPECT_EQ(WaitHint("Attach board to USB and power on", 3000), "Attach board to USB and power on");
    EXPECT_FALSE(Enabled(IDC_PROGRAM));
    board->SetPresent(true);
    EXPECT_EQ(WaitHint("Ready", 3000), "Ready");
    EXPECT_TRUE(Enabled(IDC_PROGRAM));
}

TEST_F(MainWindow, BoardThatDoesNotIdentifyAsksToReconnect)
{
    SimConfig mute;
    mute.identifies = false;
    Start(mute);
    TempFile file(Bytes{'D'});
    SetFileName(file.path());
    EXPECT_EQ(WaitHint("Check board and reconnect"), "Check board and reconnect");
    EXPECT_EQ(Text(IDC_STATUS), "Connected: unidentified device");
    EXPECT_FALSE(Enabled(IDC_PROGRAM));
}

TEST_F(MainWindow, EscapeDestroysItAndQuitsWithZero)
{
    Start();
    WaitHint("Select a firmware file to upload");
    Key(WM_KEYDOWN, VK_ESCAPE, {});
    EXPECT_TRUE(PumpUntil([&] { return quit; }));
    EXPECT_FALSE(IsWindow(main));
    EXPECT_EQ(quitCode, 0u);
}

TEST_F(MainWindow, TemplateLayoutStylesAndTabOrder)
{
    Start();
    EXPECT_EQ(GetWindowLongA(main, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), WS_MINIMIZEBOX);
    struct Control {
        int id;
        const char* className;
        const char* text;
        RECT units;  // left, top, width, height
        LONG style;  // bits that must be set
    };
    const Control controls[] = {
        {IDC_STATIC, "Button", "Update", {7, 7, 255, 51}, BS_GROUPBOX},
        {IDC_STATIC, "Static", "Firmware File:", {16, 20, 46, 8}, SS_LEFT},
        {IDC_FIRMWARE_FILE, "Edit", "", {65, 18, 179, 14}, WS_TABSTOP | ES_AUTOHSCROLL},
        {IDC_BROWSE, "Button", "...", {245, 18, 11, 14}, WS_TABSTOP | WS_GROUP},
        {IDC_PROGRAM, "Button", "Program", {13, 37, 50, 14}, WS_TABSTOP | WS_DISABLED},
        // Its border is the theme's business once created.
        {IDC_PROGRESS, "msctls_progress32", "", {66, 37, 191, 15}, PBS_SMOOTH},
        {IDC_STATIC, "Button", "Status", {7, 60, 255, 40}, BS_GROUPBOX},
        {IDC_STATUS, "Static", "Wait...", {16, 72, 235, 8}, SS_LEFT},
        {IDC_HINT, "Static", "", {16, 84, 235, 8}, SS_LEFT},
    };
    HWND child = GetWindow(main, GW_CHILD);
    for (const Control& c : controls) {
        SCOPED_TRACE(c.text);
        ASSERT_NE(child, nullptr);
        char className[64] = "";
        GetClassNameA(child, className, sizeof className);
        EXPECT_STRCASEEQ(className, c.className);
        EXPECT_EQ(GetDlgCtrlID(child), c.id);
        char text[64] = "";
        GetWindowTextA(child, text, sizeof text);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(GetWindowLongA(child, GWL_STYLE) & c.style, c.style);
        // The dialog manager maps position and size separately.
        RECT expected = c.units;
        MapDialogRect(main, &expected);
        expected.right += expected.left;
        expected.bottom += expected.top;
        RECT actual;
        GetWindowRect(child, &actual);
        MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        EXPECT_EQ(actual.right, expected.right);
        EXPECT_EQ(actual.bottom, expected.bottom);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "more controls than the table";

    // Tab skips the disabled "Program" until a file is ready.
    HWND edit = GetDlgItem(main, IDC_FIRMWARE_FILE);
    HWND browse = GetDlgItem(main, IDC_BROWSE);
    EXPECT_EQ(GetNextDlgTabItem(main, edit, FALSE), browse);
    EXPECT_EQ(GetNextDlgTabItem(main, browse, FALSE), edit);
    TempFile file(Bytes{'D'});
    SetFileName(file.path());
    WaitHint("Ready");
    EXPECT_EQ(GetNextDlgTabItem(main, browse, FALSE), GetDlgItem(main, IDC_PROGRAM));
}

// The picker stand-in: records the request and answers with g_pick.
OPENFILENAMEA g_request;
std::string g_filter;
std::string g_bufferAtCall;
std::string g_pick;

BOOL WINAPI FakePicker(LPOPENFILENAMEA ofn)
{
    g_request = *ofn;
    const char* f = ofn->lpstrFilter;
    while (*f)
        f += std::strlen(f) + 1;
    g_filter.assign(ofn->lpstrFilter, f + 1);
    g_bufferAtCall = ofn->lpstrFile;
    if (g_pick.empty())
        return FALSE;
    std::strcpy(ofn->lpstrFile, g_pick.c_str());
    return TRUE;
}

TEST_F(MainWindow, BrowseAsksForAnEncFileAndTheEditTakesIt)
{
    OpenFileDialog = FakePicker;
    Start();
    WaitHint("Select a firmware file to upload");
    TempFile file(Bytes{'D'});

    g_pick.clear();
    Press(main, IDC_BROWSE);
    Pump(100);
    EXPECT_EQ(g_request.lStructSize, OPENFILENAME_SIZE_VERSION_400A);
    EXPECT_EQ(g_request.hwndOwner, main);
    EXPECT_EQ(g_filter, std::string("Firmware Files (*.enc)\0*.enc\0All Files (*.*)\0*.*\0", 50));
    EXPECT_EQ(g_request.lpstrCustomFilter, nullptr);
    EXPECT_EQ(g_request.nFilterIndex, 0u);
    EXPECT_EQ(g_request.nMaxFile, 260u);
    EXPECT_EQ(g_bufferAtCall, "");
    EXPECT_EQ(g_request.Flags, 0x81004u);
    EXPECT_EQ(g_request.lpstrInitialDir, nullptr);
    EXPECT_EQ(g_request.lpstrTitle, nullptr);
    EXPECT_EQ(g_request.lpstrDefExt, nullptr);
    EXPECT_EQ(Text(IDC_FIRMWARE_FILE), "") << "cancelled: nothing changes";

    g_pick = file.path();
    Press(main, IDC_BROWSE);
    EXPECT_EQ(WaitHint("Ready"), "Ready");
    EXPECT_EQ(Text(IDC_FIRMWARE_FILE), file.path());
    EXPECT_TRUE(Enabled(IDC_PROGRAM));
}

TEST_F(MainWindow, RealOpenFileDialogFillsTheEdit)
{
    Start();
    WaitHint("Select a firmware file to upload");
    TempFile file(Bytes{'D'});
    OnDialog("Open", [&](HWND dialog) {
        SetDlgItemTextA(dialog, 0x47c, file.path().c_str());  // the file name field
        Press(dialog, IDOK);
    });
    Press(main, IDC_BROWSE);
    EXPECT_TRUE(AnswerAll());
    EXPECT_EQ(WaitHint("Ready"), "Ready");
    EXPECT_STRCASEEQ(Text(IDC_FIRMWARE_FILE).c_str(), file.path().c_str());
}

}  // namespace
