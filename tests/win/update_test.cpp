// Updates started from the window and run by the real worker: the controls
// during and after, the progress bar, abort between records, and a failure.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "app/app_win32.h"
#include "gui_fixture.h"
#include "resources/resource.h"
#include "support/firmware_builder.h"
#include "worker/messages.h"

namespace {

class Update : public GuiTest {
protected:
    // Starts with a board and the file, and waits for "Ready".
    void Ready(const Bytes& contents, SimConfig config = SimConfig())
    {
        file = std::make_unique<TempFile>(contents);
        Start(config);
        SetFileName(file->path());
        ASSERT_EQ(WaitHint("Ready"), "Ready");
    }

    void ExpectRestored()
    {
        EXPECT_EQ(Text(IDC_STATUS), "Wait...");
        EXPECT_EQ(SendDlgItemMessageA(main, IDC_PROGRESS, PBM_GETPOS, 0, 0), 0);
        EXPECT_EQ(Text(IDC_PROGRAM), "Program");
        EXPECT_TRUE(Enabled(IDC_FIRMWARE_FILE));
        EXPECT_TRUE(Enabled(IDC_BROWSE));
        EXPECT_FALSE(UpdateRunning);
        EXPECT_EQ(WaitHint("Ready"), "Ready");
        EXPECT_TRUE(Enabled(IDC_PROGRAM));
        EXPECT_EQ(board->OpenHandles(), 0);
    }

    bool Ended()
    {
        return PumpUntil([] { return !UpdateRunning; }, 10000);
    }

    std::unique_ptr<TempFile> file;
};

TEST_F(Update, FromProgramToUpdateComplete)
{
    const Bytes d1 = Pattern(64, 0x10), d2 = Pattern(40, 0x80), code = Pattern(72, 1);
    FirmwareBuilder fw;
    fw.Data(0x1000, d1).Code(code).Data(0x1040, d2);
    const auto size = fw.bytes().size();
    Ready(fw.bytes());

    std::string doneText, statusAtBox;
    LRESULT posAtBox = -1;
    PBRANGE rangeAtBox = {};
    OnDialog("Done", [&](HWND box) {
        doneText = BoxText(box);
        statusAtBox = Text(IDC_STATUS);
        posAtBox = SendDlgItemMessageA(main, IDC_PROGRESS, PBM_GETPOS, 0, 0);
        SendDlgItemMessageA(main, IDC_PROGRESS, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&rangeAtBox));
        EXPECT_FALSE(IsWindowEnabled(main)) << "the box is modal to the window";
        Press(box, IDOK);
    });

    SendDlgItemMessageA(main, IDC_PROGRAM, BM_CLICK, 0, 0);
    EXPECT_EQ(Text(IDC_HINT), "Updating, do not disconnect!");
    EXPECT_EQ(Text(IDC_PROGRAM), "Updating...");
    EXPECT_FALSE(Enabled(IDC_PROGRAM));
    EXPECT_FALSE(Enabled(IDC_FIRMWARE_FILE));
    EXPECT_FALSE(Enabled(IDC_BROWSE));

    ASSERT_TRUE(Ended());
    EXPECT_TRUE(AllDialogsAnswered());
    EXPECT_EQ(doneText, "Update complete!");
    EXPECT_EQ(statusAtBox, "Done.");
    EXPECT_EQ(posAtBox, static_cast<LRESULT>(size));
    EXPECT_EQ(rangeAtBox.iLow, 0);
    EXPECT_EQ(rangeAtBox.iHigh, static_cast<int>(size));
    ExpectRestored();

    const std::vector<std::string> seen(statuses.begin(), statuses.end());
    for (const char* s : {"Connecting...", "Erasing flash block", "Uploading data", "Starting update process...",
                          "Programming Code", "Booting firmware...", "Done.", "Wait..."})
        EXPECT_NE(std::find(seen.begin(), seen.end(), s), seen.end()) << s;

    for (size_t i = 0; i < d1.size(); ++i)
        ASSERT_EQ(board->FlashByte(0x1000 + i), d1[i]);
    for (size_t i = 0; i < d2.size(); ++i)
        ASSERT_EQ(board->FlashByte(0x1040 + i), d2[i]);
    ASSERT_EQ(board->CodeLog().size(), 1u);
    EXPECT_EQ(board->CodeLog()[0], code);
    EXPECT_FALSE(board->InLoader());
}

// "Program" is disabled while a job runs; a board report can enable it again,
// and then it aborts. The abort is taken after the record being written.
TEST_F(Update, AbortStopsBetweenRecords)
{
    FirmwareBuilder fw;
    for (uint32_t i = 0; i < 6; ++i)
        fw.Data(0x3000 + 0x40 * i, Pattern(64, static_cast<uint8_t>(i)));
    Ready(fw.bytes());

    std::string hintAfterPress;
    bool programWasEnabled = false;
    onStatus = [&](const std::string& status) {
        if (status != "Uploading data" || !hintAfterPress.empty())
            return;
        // Inside the worker's send, while the first record is being written:
        // a board report that raced the press.
        SendMessageA(main, UM_CHECK_BOARD, kBoardIdentified, 0);
        programWasEnabled = Enabled(IDC_PROGRAM);
        EXPECT_EQ(Text(IDC_PROGRAM), "Updating...");
        SendDlgItemMessageA(main, IDC_PROGRAM, BM_CLICK, 0, 0);
        hintAfterPress = Text(IDC_HINT);
        EXPECT_FALSE(Enabled(IDC_PROGRAM));
    };
    SendDlgItemMessageA(main, IDC_PROGRAM, BM_CLICK, 0, 0);
    ASSERT_TRUE(Ended());

    EXPECT_TRUE(programWasEnabled);
    EXPECT_EQ(hintAfterPress, "Aborting, please wait...");
    EXPECT_EQ(FindDialog("Done", main), nullptr) << "an abort shows nothing";
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Uploading data"), 1);
    EXPECT_EQ(board->FlashByte(0x3000), 0);
    EXPECT_EQ(board->FlashByte(0x3040), 0xFF) << "the second record was never written";
    onStatus = nullptr;
    ExpectRestored();
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
            SendMessageA(main, WM_COMMAND, IDM_SHOT_COUNTER, 0);
    };
    bool updateEnded = false;
    OnDialog("Done", [](HWND box) { Press(box, IDOK); });
    OnDialog("Shot Counter", [&](HWND dialog) {
        updateEnded = !UpdateRunning;
        Press(dialog, IDCANCEL);
    });
    SendDlgItemMessageA(main, IDC_PROGRAM, BM_CLICK, 0, 0);
    EXPECT_TRUE(AnswerAll());
    EXPECT_TRUE(updateEnded);
    onStatus = nullptr;
}

TEST_F(Update, FailureIsShownByTheWorkerAndTheWindowRecovers)
{
    SimConfig failing;
    failing.faults.push_back({SimFaultKind::kStatus, 0xC2, 0, 5});
    FirmwareBuilder fw;
    fw.Data(0x1000, Pattern(8));
    Ready(fw.bytes(), failing);

    std::string text;
    OnDialog("Error", [&](HWND box) {
        text = BoxText(box);
        Press(box, IDOK);
    });
    SendDlgItemMessageA(main, IDC_PROGRAM, BM_CLICK, 0, 0);
    ASSERT_TRUE(Ended());
    EXPECT_EQ(text, "Error 5 erasing 0x001000");
    EXPECT_EQ(FindDialog("Done", main), nullptr);
    ExpectRestored();
}

}  // namespace
