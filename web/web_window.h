// The window seam as the page implements it: every call goes to the page's
// handlers (velkor.js, Module.page). A message box and the progress bar's
// frame are awaited, so the synchronous jobs wait on the page as they would
// on a window.
#pragma once

#include "job/job_window.h"

class PageWindow : public JobWindow {
public:
    void SetStatus(const char* text) override;
    void SetProgressRange(uint32_t upper) override;
    // Hands the page one frame now and then, so it draws and takes clicks.
    void SetProgressPos(uint32_t pos) override;
    int ShowMessage(const char* text, const char* caption, MessageIcon icon) override;
    void SendResult(uint32_t message, uint32_t wparam, int32_t lparam) override;
    void ReadFileName(char* buf, size_t size) override;
    bool TakeAbort() override;

private:
    double lastFrameMs_ = 0;
};
