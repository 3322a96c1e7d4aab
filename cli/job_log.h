// velkor --log: the job's record (job/job_record.h), appended as one line
// when the run ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/log_file.h"
#include "job/job_record.h"
#include "job/outcome.h"

class JobLog {
public:
    // No path: no log, and every call below does nothing.
    bool Open(const std::string& path, std::string& error);
    bool Enabled() const { return file_.IsOpen(); }

    // The job's name, the time and the program; starts the clock.
    void Begin(const char* job);
    // The board the job is for, and its status line as detection saw it.
    void Board(const std::string& path, const std::string& identity);
    // The firmware file's name, size and SHA-256, read as the update reads it.
    void File(const std::string& path);
    // The same, of the bytes the update programs: what the board is given,
    // whatever the file holds by now.
    void File(const std::string& path, const std::vector<uint8_t>& bytes);
    void Set(const char* key, const nlohmann::ordered_json& value);
    void Outcome(JobEnd end);
    // A text the user saw: an error, a completion, a result.
    void Said(const std::string& text);
    // Appends the record with the exit status and the time taken; a log that
    // takes no more is one line on stderr.
    void End(int status);

private:
    LogFile file_;
    JobRecord record_;
};
