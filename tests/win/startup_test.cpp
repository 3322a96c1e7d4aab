// The About box by menu and by its accelerators, and the accelerator table
// and main menu behind them.
#include "app/app_win32.h"
#include "gui_fixture.h"
#include "resources/resource.h"

namespace {

class AboutBox : public GuiTest {
protected:
    // Expects the About box, checks it, and closes it with Escape or OK.
    void ExpectAbout(bool escape)
    {
        OnDialog("About", [escape](HWND dialog) {
            EXPECT_EQ(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU, 0);
            std::vector<std::string> texts;
            bool icon = false;
            for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
                char text[64] = "";
                GetWindowTextA(c, text, sizeof text);
                if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                    icon = SendMessageA(c, STM_GETICON, 0, 0) != 0;
                else
                    texts.push_back(text);
            }
            EXPECT_TRUE(icon);
            EXPECT_EQ(texts, (std::vector<std::string>{"OK", "Velkor Update Utility v3.02", "Firmware updates over USB",
                                                       "Supported Products:", "Ferrit XR", "Vantor 5"}));
            if (escape)
                PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 1);
            else
                Press(dialog, IDOK);
        });
    }
};

TEST_F(AboutBox, OpensFromTheHelpMenuAndWithAltSlashAndAltQuestionMark)
{
    Start();
    ExpectAbout(false);
    PostMessageA(main, WM_COMMAND, IDM_ABOUT, 0);
    EXPECT_TRUE(AnswerAll());

    ExpectAbout(true);
    Key(WM_SYSCHAR, '/', {VK_MENU});
    EXPECT_TRUE(AnswerAll());

    ExpectAbout(true);
    Key(WM_SYSCHAR, '?', {VK_MENU, VK_SHIFT});
    EXPECT_TRUE(AnswerAll());

    // Without Alt the characters are only characters.
    bool opened = false;
    OnDialog("About", [&](HWND dialog) {
        opened = true;
        Press(dialog, IDOK);
    });
    Key(WM_CHAR, '/', {});
    EXPECT_FALSE(opened);
    ForgetDialogs();
    EXPECT_TRUE(IsWindow(main));
}

TEST(Resources, AcceleratorTable)
{
    HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_ACCELERATORS));
    ASSERT_NE(table, nullptr);
    ACCEL entries[4] = {};
    ASSERT_EQ(CopyAcceleratorTableA(table, entries, 4), 3);
    EXPECT_EQ(entries[0].fVirt, FALT | FNOINVERT);
    EXPECT_EQ(entries[0].key, '/');
    EXPECT_EQ(entries[0].cmd, IDM_ABOUT);
    EXPECT_EQ(entries[1].fVirt, FALT | FNOINVERT);
    EXPECT_EQ(entries[1].key, '?');
    EXPECT_EQ(entries[1].cmd, IDM_ABOUT);
    EXPECT_EQ(entries[2].fVirt, FVIRTKEY | FCONTROL | FALT | FNOINVERT);
    EXPECT_EQ(entries[2].key, 'P');
    EXPECT_EQ(entries[2].cmd, IDM_SERVICE_MODE);
}

TEST(Resources, MainMenu)
{
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAIN_MENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    EXPECT_EQ(MenuText(menu, 0), "&File");
    EXPECT_EQ(MenuText(GetSubMenu(menu, 0), 0), "E&xit");
    EXPECT_EQ(GetMenuItemID(GetSubMenu(menu, 0), 0), static_cast<UINT>(IDM_EXIT));
    EXPECT_EQ(MenuText(menu, 1), "&Help");
    EXPECT_EQ(MenuText(GetSubMenu(menu, 1), 0), "&About ...");
    EXPECT_EQ(GetMenuItemID(GetSubMenu(menu, 1), 0), static_cast<UINT>(IDM_ABOUT));
    DestroyMenu(menu);
}

}  // namespace
