// Service mode from the keyboard to the board: the password, the menu bar,
// the shot counter dialog and the pressure readout.
#include "app/app_win32.h"
#include "gui_fixture.h"
#include "resources/resource.h"

namespace {

class ServiceMode : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        Start();
        WaitHint("Select a firmware file to upload");
    }

    std::vector<std::string> MenuBar() const
    {
        std::vector<std::string> names;
        HMENU bar = GetMenu(main);
        for (int i = 0; i < GetMenuItemCount(bar); ++i)
            names.push_back(MenuText(bar, i));
        return names;
    }

    void CtrlAltP() { Key(WM_KEYDOWN, 'P', {VK_CONTROL, VK_MENU}); }

    // Ctrl+Alt+P, the password typed and OK; a wrong one is answered too.
    // Returns how long the check kept the UI thread.
    DWORD TryPassword(const std::string& password, bool right)
    {
        DWORD pressed = 0;
        OnDialog("Enable Service Mode", [&](HWND dialog) {
            EXPECT_TRUE(GetWindowLongA(GetDlgItem(dialog, IDC_PASSWORD), GWL_STYLE) & ES_PASSWORD);
            SetDlgItemTextA(dialog, IDC_PASSWORD, password.c_str());
            Press(dialog, IDOK);
            pressed = GetTickCount();
        });
        if (!right) {
            OnDialog("Access Denied", [&](HWND box) {
                EXPECT_EQ(BoxText(box), "Password incorrect");
                EXPECT_EQ(ItemText(GetWindow(box, GW_OWNER), IDC_PASSWORD_LABEL), "Checking...");
                Press(box, IDOK);
            });
        }
        CtrlAltP();
        EXPECT_TRUE(AnswerAll());
        const DWORD took = GetTickCount() - pressed;
        EXPECT_EQ(FindDialog("Enable Service Mode"), nullptr) << "one attempt per opening";
        return took;
    }

    // A service menu command; the worker's result comes back while pumping.
    void Choose(UINT command) { PostMessageA(main, WM_COMMAND, command, 0); }
};

TEST_F(ServiceMode, RightPasswordAfterItsPauseAddsTheMenu)
{
    EXPECT_EQ(MenuBar(), (std::vector<std::string>{"&File", "&Help"}));
    EXPECT_GE(TryPassword("zephyr", true), 1950u);
    EXPECT_TRUE(ServiceModeOn);
    EXPECT_EQ(MenuBar(), (std::vector<std::string>{"&File", "&Service", "&Help"}));
    HMENU bar = GetMenu(main);
    MENUITEMINFOA item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_ID;
    GetMenuItemInfoA(bar, 1, TRUE, &item);
    EXPECT_EQ(item.wID, static_cast<UINT>(IDM_SERVICE_MENU));
    HMENU popup = GetSubMenu(bar, 1);
    EXPECT_EQ(MenuText(popup, 0), "&Shot Counter...");
    EXPECT_EQ(GetMenuItemID(popup, 0), static_cast<UINT>(IDM_SHOT_COUNTER));
    EXPECT_EQ(MenuText(popup, 1), "Raw &Pressure Values...");
    EXPECT_EQ(GetMenuItemID(popup, 1), static_cast<UINT>(IDM_PRESSURE_VALUES));

    // Off again only after saying so.
    OnDialog("Disable Service Mode", [](HWND box) {
        EXPECT_EQ(BoxText(box), "Are you sure you want to disable Service Mode?");
        Press(box, IDNO);
    });
    CtrlAltP();
    ASSERT_TRUE(AnswerAll());
    EXPECT_EQ(MenuBar(), (std::vector<std::string>{"&File", "&Service", "&Help"}));
    OnDialog("Disable Service Mode", [](HWND box) { Press(box, IDYES); });
    CtrlAltP();
    ASSERT_TRUE(AnswerAll());
    EXPECT_FALSE(ServiceModeOn);
    EXPECT_EQ(MenuBar(), (std::vector<std::string>{"&File", "&Help"}));
}

TEST_F(ServiceMode, NearMissesAreRejected)
{
    for (const char* wrong : {"Zephyr", "zephyr ", ""}) {
        SCOPED_TRACE(wrong);
        EXPECT_GE(TryPassword(wrong, false), 1950u);
        EXPECT_FALSE(ServiceModeOn);
        EXPECT_EQ(MenuBar(), (std::vector<std::string>{"&File", "&Help"}));
    }
}

TEST_F(ServiceMode, ShiftOrNoServiceModeMeansNothingHappens)
{
    bool opened = false;
    OnDialog("Enable Service Mode", [&](HWND dialog) {
        opened = true;
        Press(dialog, IDCANCEL);
    });
    Key(WM_KEYDOWN, 'P', {VK_CONTROL, VK_MENU, VK_SHIFT});
    EXPECT_FALSE(opened);
    ForgetDialogs();

    // Service commands while the mode is off never reach the board.
    board->ClearTrace();
    Choose(IDM_SHOT_COUNTER);
    Choose(IDM_PRESSURE_VALUES);
    Pump(300);
    for (const auto& entry : board->Trace())
        EXPECT_EQ(entry.bytes.size() > 1 ? entry.bytes[1] : 0, 0) << "only detection may talk to the board";
}

TEST_F(ServiceMode, ShotCounterIsReadEditedAndSet)
{
    SetServiceMenu(main, TRUE);
    std::string current, proposed, confirmation;
    DWORD selection = 0;
    OnDialog("Shot Counter", [&](HWND dialog) {
        current = ItemText(dialog, IDC_CURRENT_SHOT_COUNT);
        proposed = ItemText(dialog, IDC_NEW_SHOT_COUNT);
        selection = static_cast<DWORD>(SendDlgItemMessageA(dialog, IDC_NEW_SHOT_COUNT, EM_GETSEL, 0, 0));
        EXPECT_TRUE(GetWindowLongA(GetDlgItem(dialog, IDC_NEW_SHOT_COUNT), GWL_STYLE) & ES_NUMBER);
        SetDlgItemTextA(dialog, IDC_NEW_SHOT_COUNT, "4242");
        Press(dialog, IDOK);
    });
    OnDialog("Shot Counter", [&](HWND box) {
        confirmation = BoxText(box);
        Press(box, IDOK);
    });
    Choose(IDM_SHOT_COUNTER);
    ASSERT_TRUE(AnswerAll());
    EXPECT_EQ(current, "1000");
    EXPECT_EQ(proposed, "1000");
    EXPECT_EQ(selection, MAKELONG(0, 4)) << "the whole count is selected";
    EXPECT_EQ(confirmation, "New shot counter set");
    EXPECT_EQ(board->ShotCounter(), 4242u);

    // An empty field sets 0.
    OnDialog("Shot Counter", [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_NEW_SHOT_COUNT, "");
        Press(dialog, IDOK);
    });
    OnDialog("Shot Counter", [](HWND box) { Press(box, IDOK); });
    Choose(IDM_SHOT_COUNTER);
    ASSERT_TRUE(AnswerAll());
    EXPECT_EQ(board->ShotCounter(), 0u);
}

TEST_F(ServiceMode, FailedReadOpensNoDialog)
{
    board->AddFault({SimFaultKind::kStatus, 0x40, 0, 5});
    SetServiceMenu(main, TRUE);
    std::string error;
    OnDialog("Error", [&](HWND box) {
        error = BoxText(box);
        Press(box, IDOK);
    });
    Choose(IDM_SHOT_COUNTER);
    ASSERT_TRUE(AnswerAll());
    Pump(200);
    EXPECT_EQ(error, "Error -5 getting shot count");
    EXPECT_EQ(FindDialog("Shot Counter"), nullptr);
}

TEST_F(ServiceMode, PressureValuesAreShownByTheWorker)
{
    SetServiceMenu(main, TRUE);
    std::string text;
    OnDialog("Raw Pressure Values", [&](HWND box) {
        text = BoxText(box);
        Press(box, IDOK);
    });
    Choose(IDM_PRESSURE_VALUES);
    ASSERT_TRUE(AnswerAll());
    EXPECT_EQ(text.substr(0, 49), "1D = 010203  1B = 0A0B0C\n2D = 102030  2B = A0B0C0");
}

}  // namespace
