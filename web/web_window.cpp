#include "web/web_window.h"

#include <emscripten.h>

#include "job/access_texts.h"

namespace {

// About one frame: the page redraws and handles input no less often.
constexpr double kFrameMs = 16;

EM_JS(void, PageStatus, (const char* text), { Module.page.setStatus(UTF8ToString(text)); });
EM_JS(void, PageProgressRange, (uint32_t upper), { Module.page.setProgressRange(upper >>> 0); });
EM_JS(void, PageProgressPos, (uint32_t pos), { Module.page.setProgressPos(pos >>> 0); });
EM_ASYNC_JS(void, PageFrame, (), { await Module.page.frame(); });
EM_ASYNC_JS(int, PageMessage, (const char* text, const char* caption, int icon), {
    return await Module.page.showMessage(UTF8ToString(text), UTF8ToString(caption), icon);
});
EM_JS(void, PageResult, (uint32_t message, uint32_t wparam, int32_t lparam), {
    Module.page.result(message >>> 0, wparam >>> 0, lparam);
});
EM_JS(void, PageFileName, (char* buf, size_t size), { stringToUTF8(Module.page.fileName(), buf, size); });
EM_JS(int, PageTakeAbort, (), { return Module.page.takeAbort() ? 1 : 0; });
EM_JS(int, PageOpenRefused, (), { return Module.webhidRefused ? 1 : 0; });
EM_ASYNC_JS(void, PageAccessHelp, (const char* hint, const char* commands, int inBox), {
    await Module.page.accessHelp(UTF8ToString(hint), UTF8ToString(commands), inBox !== 0);
});

// The progress bar hands the page one frame now and then, so it draws and
// takes clicks while the job runs.
class Page : public JobWindow {
public:
    void SetStatus(const char* text) override { PageStatus(text); }
    void SetProgressRange(uint32_t upper) override { PageProgressRange(upper); }

    void SetProgressPos(uint32_t pos) override
    {
        PageProgressPos(pos);
        if (emscripten_get_now() - lastFrameMs_ >= kFrameMs) {
            PageFrame();
            lastFrameMs_ = emscripten_get_now();
        }
    }

    int ShowMessage(const char* text, const char* caption, MessageIcon icon) override
    {
        return PageMessage(text, caption, static_cast<int>(icon));
    }

    // A board the browser lists but may not open is no missing board: the
    // page says what to do about it.
    void ShowOpenFailure(JobEnd why, const char* text, OpenFailurePlace place) override
    {
        if (why == JobEnd::kNoBoard && PageOpenRefused() != 0)
            PageAccessHelp(kBoardAccessHint, kUdevReloadCommands, place == OpenFailurePlace::kErrorBox);
        else
            JobWindow::ShowOpenFailure(why, text, place);
    }

    void SendResult(uint32_t message, uint32_t wparam, int32_t lparam) override
    {
        PageResult(message, wparam, lparam);
    }

    // The page's name is a path in the module's file system, well within the
    // job's limit; stringToUTF8 never writes past size.
    void ReadFileName(char* buf, size_t size) override
    {
        if (size > 0)
            PageFileName(buf, size);
    }

    bool TakeAbort() override { return PageTakeAbort() != 0; }

private:
    double lastFrameMs_ = 0;
};

}  // namespace

JobWindow& PageWindow()
{
    static Page page;
    return page;
}
