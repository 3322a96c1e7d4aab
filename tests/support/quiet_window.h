// A window seam that records nothing and allocates nothing, for measuring the
// job rather than the seam: it only notes how the job ended.
#pragma once

#include <cstdio>
#include <cstring>

#include "worker/job_window.h"

class QuietWindow : public JobWindow {
public:
    explicit QuietWindow(const char* name) : name_(name) {}
    void SetStatus(const char* text) override { waitShown = std::strcmp(text, "Wait...") == 0; }
    void SetProgressRange(uint32_t) override {}
    void SetProgressPos(uint32_t) override {}
    int ShowMessage(const char* text, const char*, MessageIcon) override
    {
        complete = std::strcmp(text, "Update complete!") == 0;
        ++boxes;
        return kButtonOk;
    }
    void SendResult(uint32_t message, uint32_t wparam, int32_t lparam) override
    {
        results += 1;
        result = {message, wparam, lparam};
    }
    void ReadFileName(char* buf, size_t size) override { std::snprintf(buf, size, "%s", name_); }
    bool TakeAbort() override { return false; }

    bool complete = false, waitShown = false;  // the last box said so; the last status was "Wait..."
    int boxes = 0, results = 0;
    struct { uint32_t message, wparam; int32_t lparam; } result{};

private:
    const char* name_;
};
