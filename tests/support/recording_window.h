// A window seam that records every call in order, as one line each:
// "status: Connecting...", "range: 1000", "pos: 42",
// "box: Error/16: Could not connect to device", "result: 1027 1 0".
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "job/job_window.h"

class RecordingWindow : public JobWindow {
public:
    std::vector<std::string> calls;
    std::string fileName;
    std::string board;  // what Board() names
    int pendingAborts = 0;
    // Called after a call has been recorded, e.g. to queue an abort or look
    // at the board while a box is open.
    std::function<void(const std::string&)> onCall;

    void SetStatus(const char* text) override { Record(std::string("status: ") + text); }
    void SetProgressRange(uint32_t upper) override { Record("range: " + std::to_string(upper)); }
    void SetProgressPos(uint32_t pos) override { Record("pos: " + std::to_string(pos)); }
    int ShowMessage(const char* text, const char* caption, MessageIcon icon) override
    {
        Record(std::string("box: ") + caption + "/" + std::to_string(icon) + ": " + text);
        return kButtonOk;
    }
    void SendResult(uint32_t message, uint32_t wparam, int32_t lparam) override
    {
        Record("result: " + std::to_string(message) + " " + std::to_string(wparam) + " " + std::to_string(lparam));
    }
    void ReadFileName(char* buf, size_t size) override { std::snprintf(buf, size, "%s", fileName.c_str()); }
    bool TakeAbort() override { return pendingAborts > 0 && pendingAborts-- > 0; }
    std::string Board() const override { return board; }

    // The boxes shown, "caption/icon: text".
    std::vector<std::string> Boxes() const
    {
        std::vector<std::string> out;
        for (const auto& line : calls)
            if (line.rfind("box: ", 0) == 0)
                out.push_back(line.substr(5));
        return out;
    }

private:
    void Record(std::string line)
    {
        calls.push_back(line);
        if (onCall)
            onCall(line);
    }
};
