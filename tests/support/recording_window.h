// A window seam that records every call in order, for direct assertions on
// what a job showed and sent.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "worker/job_window.h"

class RecordingWindow : public JobWindow {
public:
    // Each call as one line: "status: Connecting...", "range: 1000",
    // "pos: 42", "box: Error/16: Could not connect to device",
    // "result: 1027 1 0".
    std::vector<std::string> calls;

    std::string fileName;
    int pendingAborts = 0;
    int takeAbortCalls = 0;
    // Called after a call has been recorded, e.g. to queue an abort or look
    // at the board while a box is open.
    std::function<void(const std::string&)> onCall;

    void SetStatus(const char* text) override;
    void SetProgressRange(uint32_t upper) override;
    void SetProgressPos(uint32_t pos) override;
    int ShowMessage(const char* text, const char* caption, MessageIcon icon) override;
    void SendResult(uint32_t message, uint32_t wparam, int32_t lparam) override;
    void ReadFileName(char* buf, size_t size) override;
    bool TakeAbort() override;

    // The recorded lines that start with prefix, prefix removed.
    std::vector<std::string> Only(const std::string& prefix) const;
    std::vector<std::string> Boxes() const { return Only("box: "); }
    std::vector<std::string> Statuses() const { return Only("status: "); }

private:
    void Record(std::string line);
};
