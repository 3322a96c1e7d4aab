// A window seam that records nothing and allocates nothing, for measuring the
// job rather than the seam: it only notes whether the update completed.
#pragma once

#include <cstdio>
#include <cstring>

#include "job/job_window.h"

class QuietWindow : public JobWindow {
public:
    explicit QuietWindow(const char* name) : name_(name) {}
    void SetStatus(const char*) override {}
    void SetProgressRange(uint32_t) override {}
    void SetProgressPos(uint32_t) override {}
    int ShowMessage(const char* text, const char*, MessageIcon) override
    {
        complete = std::strcmp(text, "Update complete!") == 0;
        return kButtonOk;
    }
    void SendResult(uint32_t, uint32_t, int32_t) override {}
    void ReadFileName(char* buf, size_t size) override { std::snprintf(buf, size, "%s", name_); }
    bool TakeAbort() override { return false; }

    bool complete = false;  // the last box said so

private:
    const char* name_;
};
