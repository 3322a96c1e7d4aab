#include "support/recording_window.h"

#include <cstring>

void RecordingWindow::Record(std::string line)
{
    calls.push_back(line);
    if (onCall)
        onCall(line);
}

void RecordingWindow::SetStatus(const char* text)
{
    Record(std::string("status: ") + text);
}

void RecordingWindow::SetProgressRange(uint32_t upper)
{
    Record("range: " + std::to_string(upper));
}

void RecordingWindow::SetProgressPos(uint32_t pos)
{
    Record("pos: " + std::to_string(pos));
}

int RecordingWindow::ShowMessage(const char* text, const char* caption, MessageIcon icon)
{
    Record(std::string("box: ") + caption + "/" + std::to_string(icon) + ": " + text);
    return kButtonOk;
}

void RecordingWindow::SendResult(uint32_t message, uint32_t wparam, int32_t lparam)
{
    Record("result: " + std::to_string(message) + " " + std::to_string(wparam) + " " +
           std::to_string(lparam));
}

void RecordingWindow::ReadFileName(char* buf, size_t size)
{
    if (size == 0)
        return;
    const size_t n = std::min(fileName.size(), size - 1);
    std::memcpy(buf, fileName.data(), n);
    buf[n] = '\0';
}

bool RecordingWindow::TakeAbort()
{
    ++takeAbortCalls;
    if (pendingAborts == 0)
        return false;
    --pendingAborts;
    return true;
}

std::vector<std::string> RecordingWindow::Only(const std::string& prefix) const
{
    std::vector<std::string> out;
    for (const auto& line : calls)
        if (line.compare(0, prefix.size(), prefix) == 0)
            out.push_back(line.substr(prefix.size()));
    return out;
}
