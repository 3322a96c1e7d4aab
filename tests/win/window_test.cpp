// The main window, its updates, service mode and the About box, against the
// real worker and a simulated board.
#include "gui_fixture.h"

#include <commctrl.h>

#include <filesystem>
#include <fstream>

#include "support/firmware_builder.h"

namespace {

using Strings = std::vector<std::string>;

Strings MenuNames(HMENU menu)
{
    Strings names(GetMenuItemCount(menu));
    for (size_t i = 0; i < names.size(); ++i) {
        char text[128] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        names[i] = text;
    }
    return names;
}

class MainWindow : public GuiTest {};

// Each row changes the board or the file name; the next board report, or at
// once the edit's own change notification, must bring the hint and "Program"
// in line. Consecutive rows differ in their hint, so the wait sees each one.
TEST_F(MainWindow, HintAndProgramFollowTheBoardAndTheFileName)
{
    SimConfig absent;
    absent.present = false;
    Start(absent);
    TempFile file(Bytes{'D'});
    enum Board { kPresent, kAbsent, kMute };
    const struct {
        Board board;
        std::string name;
        const char* hint;
        const char* status;
        bool program;
    } rows[] = {
        {kAbsent, "", "Attach board to USB and power on", "No board detected", false},
        {kPresent, "", "Select a firmware file to upload", "Connected: Ferrit XR, version 3.02b", false},
        {kPresent, std::filesystem::temp_directory_path().string(), "Selected filename does not exist", "", false},
        {kPresent, file.path(), "Ready", "", true},
        {kAbsent, file.path(), "Attach board to USB and power on", "No board detected", false},
        {kMute, file.path(), "Check board and reconnect", "Connected: unidentified device", false},
        {kPresent, file.path() + ".missing", "Selected filename does not exist", "", false},
        {kPresent, file.path(), "Ready", "Connected: Ferrit XR, version 3.02b", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.hint);
        board->SetPresent(row.board != kAbsent);
        board->ClearFaults();
        if (row.board == kMute)
            board->AddFault({SimFaultKind::kReadFail, 0x00, 0, 0});  // identify
        SetFileName(row.name);
        const bool nameOnly = &row != rows && row.board == (&row - 1)->board;
        EXPECT_EQ(WaitHint(row.hint, nameOnly ? 0 : 8000), row.hint);
        EXPECT_TRUE(!*row.status || Text(IDC_STATUS) == row.status) << Text(IDC_STATUS);
        EXPECT_EQ(Enabled(IDC_PROGRAM), row.program);
    }
    // Enter in the edit is IDOK, which the window ignores.
    SetFocus(GetDlgItem(main, IDC_FIRMWARE_FILE));
    Key(WM_KEYDOWN, VK_RETURN, {});
    EXPECT_FALSE(UpdateRunning);
    EXPECT_TRUE(IsWindow(main));
    // A character typed in any script reaches the edit as it is.
    SetFileName("");
    PostMessageW(GetDlgItem(main, IDC_FIRMWARE_FILE), WM_CHAR, L'固', 1);
    Pump(50);
    wchar_t typed[4] = L"";
    GetDlgItemTextW(main, IDC_FIRMWARE_FILE, typed, 4);
    EXPECT_STREQ(typed, L"固");
}

// The open-file dialog, owned by the window, offers firmware files first; the
// pick goes into the edit, and the current folder stays where it was. A file
// under a folder named outside the system's code page is found and programmed.
TEST_F(MainWindow, BrowseOffersEncFilesAndTheEditTakesThePick)
{
    Start();
    WaitHint("Select a firmware file to upload");
    std::string name;  // a path over 260 bytes in UTF-8, but not characters
    for (int i = 0; i < 8; ++i)
        name += "Прошивка 固件 ✓-";
    const auto folder = std::filesystem::temp_directory_path() / std::filesystem::u8path(name);
    const auto file = folder / "fw.enc";
    std::filesystem::create_directories(folder);
    const Bytes fw = FirmwareBuilder().Data(0x1000, Pattern(8)).bytes();
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(fw.data()), fw.size());
    const auto here = std::filesystem::current_path();
    OnDialog("Open", [&](HWND dialog) {
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), main);
        EXPECT_EQ(ItemText(dialog, 0x470), "Firmware Files (*.enc)");  // the file type list
        SetDlgItemTextW(dialog, 0x47c, file.c_str());                   // the file name field
        Press(dialog, IDOK);
    });
    Click(IDC_BROWSE);
    EXPECT_TRUE(AnswerAll());
    EXPECT_EQ(WaitHint("Ready", 1000), "Ready");
    wchar_t picked[MAX_PATH] = L"";
    GetDlgItemTextW(main, IDC_FIRMWARE_FILE, picked, MAX_PATH);
    std::error_code error;
    EXPECT_TRUE(std::filesystem::equivalent(picked, file, error));
    EXPECT_EQ(std::filesystem::current_path(), here);
    OnDialog("Done", [](HWND box) {
        EXPECT_EQ(BoxText(box), "Update complete!");
        Press(box, IDOK);
    });
    Click(IDC_PROGRAM);
    EXPECT_TRUE(AnswerAll(20000));
    // The job closes the file after the "Done" box; "Ready" again says it has.
    EXPECT_EQ(WaitHint("Ready"), "Ready");
    std::error_code removed;
    std::filesystem::remove_all(folder, removed);
}

class Update : public GuiTest {
protected:
    void Ready(const Bytes& contents)
    {
        Start();
        file = std::make_unique<TempFile>(contents);
        SetFileName(file->path());
        ASSERT_EQ(WaitHint("Ready"), "Ready");
    }

    std::unique_ptr<TempFile> file;
};

// However an update ends, the worker has said so in its own box (nothing
// for an abort) and the window is restored. The file is over 65,535 bytes,
// so the progress bar's range and position must be the 32-bit ones. The
// failure is the last record's erase, with the bar at the end of the record
// before. The abort follows a board report that raced the press and enabled
// "Program" during the job; the job stops after the record in hand. A
// session's end asked for during the update is refused and changes nothing.
TEST_F(Update, EndsWithTheWorkersWordAndTheWindowRestored)
{
    FirmwareBuilder fw;
    fw.Data(0x1000, Pattern(64, 0x10));
    for (int i = 0; i < 900; ++i)
        fw.Code(Pattern(72, static_cast<uint8_t>(i)));
    const auto beforeLast = static_cast<LRESULT>(fw.bytes().size());
    fw.Data(0x2000, Pattern(40, 0x80));
    const auto size = static_cast<LRESULT>(fw.bytes().size());
    Ready(fw.bytes());
    enum End { kFails, kAborted, kCompletes };
    const struct {
        End end;
        const char* title;
        const char* text;
        LRESULT position;
        size_t codeBlocks;  // received so far
        uint8_t lastRecordByte;
    } rows[] = {
        {kFails, "Error", "Error 5 erasing 0x002000", beforeLast, 900, 0xFF},
        {kAborted, nullptr, "", -1, 900, 0xFF},
        {kCompletes, "Done", "Update complete!", size, 1800, 0x80},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.end);
        board->ClearFaults();
        if (row.end == kFails)
            board->AddFault({SimFaultKind::kStatus, 0xC2, 2, 5});  // the second erase
        std::string text, afterPress;
        LRESULT position = -1, endSession = -1;
        if (row.title)
            OnDialog(row.title, [&](HWND box) {
                text = BoxText(box);
                position = SendDlgItemMessageA(main, IDC_PROGRESS, PBM_GETPOS, 0, 0);
                EXPECT_FALSE(IsWindowEnabled(main)) << "the box is modal to the window";
                Press(box, IDOK);
            });
        onStatus = [&](const std::string& status) {
            if (status == "Uploading data" && endSession == -1)
                endSession = SendMessageA(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
            if (row.end != kAborted || status != "Uploading data" || !afterPress.empty())
                return;
            SendMessageA(main, UM_CHECK_BOARD, kBoardIdentified, 0);
            EXPECT_EQ(Shown(), "Ready | Updating... | program");
            Click(IDC_PROGRAM);
            afterPress = Shown();
        };
        Click(IDC_PROGRAM);
        EXPECT_EQ(Shown(), "Updating, do not disconnect! | Updating... |");
        ASSERT_TRUE(PumpUntil([] { return !UpdateRunning; }, 20000));
        onStatus = nullptr;
        EXPECT_EQ(text, row.text);
        EXPECT_EQ(afterPress, row.end == kAborted ? "Aborting, please wait... | Updating... |" : "");
        EXPECT_EQ(position, row.position);
        EXPECT_EQ(SendDlgItemMessageA(main, IDC_PROGRESS, PBM_GETRANGE, FALSE, 0), size);
        EXPECT_EQ(board->CodeLog().size(), row.codeBlocks);
        EXPECT_EQ(board->FlashByte(0x2000), row.lastRecordByte);
        EXPECT_EQ(Text(IDC_STATUS), "Wait...");
        EXPECT_EQ(SendDlgItemMessageA(main, IDC_PROGRESS, PBM_GETPOS, 0, 0), 0);
        WaitHint("Ready");
        EXPECT_EQ(Shown(), "Ready | Program | edit ... program");
        EXPECT_EQ(board->OpenHandles(), 0);
        // A shutdown or logoff waits for the update, and only for it.
        EXPECT_EQ(endSession, FALSE);
        EXPECT_NE(SendMessageA(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
    }
}

// The job's own boxes run modal loops on the worker's thread; a request
// queued meanwhile must still run once the job is over.
TEST_F(Update, RequestMadeDuringAnUpdateRunsAfterIt)
{
    FirmwareBuilder fw;
    fw.Data(0x1000, Pattern(8));
    Ready(fw.bytes());
    SetServiceMenu(main, TRUE);
    onStatus = [&](const std::string& status) {
        if (status == "Connecting...")
            Choose(1, 0);
    };
    bool updateEnded = false;
    OnDialog("Done", [](HWND box) { Press(box, IDOK); });
    OnDialog("Shot Counter", [&](HWND dialog) {
        updateEnded = !UpdateRunning;
        Press(dialog, IDCANCEL);
    });
    Click(IDC_PROGRAM);
    EXPECT_TRUE(AnswerAll());
    EXPECT_TRUE(updateEnded);
    onStatus = nullptr;
}

class ServiceMode : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        SimConfig config;
        config.shotCounter = 123456;
        Start(config);
        WaitHint("Select a firmware file to upload");
    }
    Strings MenuBar() const { return MenuNames(GetMenu(main)); }
    void CtrlAltP() { Key(WM_KEYDOWN, 'P', {VK_CONTROL, VK_MENU}); }
};

// One attempt per opening, each after a pause; only the exact word opens
// the "&Service" popup between "&File" and "&Help". With Shift the keys do
// nothing.
TEST_F(ServiceMode, PasswordOpensTheMenuAndConfirmationClosesIt)
{
    Key(WM_KEYDOWN, 'P', {VK_CONTROL, VK_MENU, VK_SHIFT});
    for (const std::string entry : {"Zephyr", "zephyr ", "", "zephyr"}) {
        SCOPED_TRACE(entry);
        const bool right = entry == "zephyr";
        DWORD pressed = 0;
        OnDialog("Enable Service Mode", [&](HWND dialog) {
            SetDlgItemTextA(dialog, IDC_PASSWORD, entry.c_str());
            Press(dialog, IDOK);
            pressed = GetTickCount();
        });
        if (!right)
            OnDialog("Access Denied", [](HWND box) {
                EXPECT_EQ(BoxText(box), "Password incorrect");
                Press(box, IDOK);
            });
        CtrlAltP();
        EXPECT_TRUE(AnswerAll());
        EXPECT_GE(GetTickCount() - pressed, 1900u);
        EXPECT_EQ(MenuBar(), (right ? Strings{"&File", "&Service", "&Help"} : Strings{"&File", "&Help"}));
    }

    for (int answer : {IDNO, IDYES}) {
        OnDialog("Disable Service Mode", [answer](HWND box) {
            EXPECT_EQ(BoxText(box), "Are you sure you want to disable Service Mode?");
            Press(box, answer);
        });
        CtrlAltP();
        ASSERT_TRUE(AnswerAll());
        EXPECT_EQ(MenuBar(), (answer == IDNO ? Strings{"&File", "&Service", "&Help"} : Strings{"&File", "&Help"}));
    }
}

// The count is a 32-bit number all the way: read, shown, edited, written.
TEST_F(ServiceMode, ShotCounterIsReadEditedAndSet)
{
    SetServiceMenu(main, TRUE);
    for (const char* entered : {"2000000000", ""}) {
        std::string current, proposed, confirmation;
        DWORD selection = 0;
        OnDialog("Shot Counter", [&](HWND dialog) {
            current = ItemText(dialog, IDC_CURRENT_SHOT_COUNT);
            proposed = ItemText(dialog, IDC_NEW_SHOT_COUNT);
            selection = static_cast<DWORD>(SendDlgItemMessageA(dialog, IDC_NEW_SHOT_COUNT, EM_GETSEL, 0, 0));
            SetDlgItemTextA(dialog, IDC_NEW_SHOT_COUNT, entered);
            Press(dialog, IDOK);
        });
        OnDialog("Shot Counter", [&](HWND box) {
            confirmation = BoxText(box);
            Press(box, IDOK);
        });
        const std::string before = std::to_string(board->ShotCounter());
        Choose(1, 0);
        ASSERT_TRUE(AnswerAll());
        EXPECT_EQ(current, before);
        EXPECT_EQ(proposed, before);
        EXPECT_EQ(selection, MAKELONG(0, before.size())) << "the whole count is selected";
        EXPECT_EQ(confirmation, "New shot counter set");
        EXPECT_EQ(board->ShotCounter(), std::strtoul(entered, nullptr, 10)) << "an empty field sets 0";
    }
}

// The worker's box is all a failed read shows: no "Shot Counter" dialog
// follows it with a meaningless count.
TEST_F(ServiceMode, FailedReadOpensNoShotCounterDialog)
{
    SetServiceMenu(main, TRUE);
    board->AddFault({SimFaultKind::kStatus, 0x40, 0, 5});
    OnDialog("Error", [](HWND box) {
        EXPECT_EQ(BoxText(box), "Error -5 getting shot count");
        Press(box, IDOK);
    });
    Choose(1, 0);
    ASSERT_TRUE(AnswerAll());
    Pump(300);
}

class AboutBox : public GuiTest {};

// By the menu and by Alt+/ and Alt+?; closed by OK or Escape. Without Alt the
// characters are only characters.
TEST_F(AboutBox, OpensFromTheHelpMenuAndItsAccelerators)
{
    Start();
    const std::function<void()> ways[] = {
        [&] { Choose(1, 0); },
        [&] { Key(WM_SYSCHAR, '/', {VK_MENU}); },
        [&] { Key(WM_SYSCHAR, '?', {VK_MENU, VK_SHIFT}); },
    };
    bool escape = false;
    for (const auto& way : ways) {
        bool named = false;
        OnDialog("About", [&](HWND dialog) {
            named = FindWindowExA(dialog, nullptr, "Static", "Velkor Update Utility v3.02") != nullptr;
            if (escape)
                PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 1);
            else
                Press(dialog, IDOK);
        });
        way();
        EXPECT_TRUE(AnswerAll());
        EXPECT_TRUE(named);
        escape = !escape;
    }
    Key(WM_CHAR, '/', {});
    Pump(200);
    EXPECT_TRUE(IsWindow(main));
}

}  // namespace
