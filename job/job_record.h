// One job's record, one JSON object, filled in as the job goes: velkor
// appends it to its --log, the page keeps the session's for "Save log". Both
// build it here, so a support reader finds the same keys in either.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "job/outcome.h"

class JobRecord {
public:
    // The time (UTC), the program and its version, the job; starts the clock.
    void Begin(const char* program, const char* job);
    // The board the job is for, and its status line as detection saw it.
    void Board(const std::string& path, const std::string& identity);
    // The firmware file as `name`, with the size and SHA-256 of the bytes at
    // `path`, read whole as the update reads them; only the name when they
    // cannot be read.
    void File(const std::string& name, const std::string& path);
    // The firmware file as `name`, with the size and SHA-256 of its bytes as
    // the update holds them.
    void FileBytes(const std::string& name, const std::string& bytes);
    void Set(const char* key, const nlohmann::ordered_json& value);
    void Outcome(JobEnd end);
    // A text the user saw: an error, a completion, a result.
    void Said(const std::string& text);
    // The record as one line, newline included, with the texts, the exit
    // status where the program has one, and the time taken. Without an
    // outcome the exit status decides it.
    std::string Line(std::optional<int> exitStatus);

private:
    nlohmann::ordered_json record_;
    std::string said_;
    std::chrono::steady_clock::time_point start_;
};
