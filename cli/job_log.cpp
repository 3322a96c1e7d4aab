#include "cli/job_log.h"

#include <cstdio>

bool JobLog::Open(const std::string& path, std::string& error)
{
    return path.empty() || file_.Open(path, error);
}

void JobLog::Begin(const char* job)
{
    record_.Begin("velkor", job);
}

void JobLog::Board(const std::string& path, const std::string& identity)
{
    record_.Board(path, identity);
}

void JobLog::File(const std::string& path)
{
    if (Enabled())
        record_.File(path, path);
}

void JobLog::File(const std::string& path, const std::vector<uint8_t>& bytes)
{
    if (Enabled())
        record_.FileBytes(path, std::string(bytes.begin(), bytes.end()));
}

void JobLog::Set(const char* key, const nlohmann::ordered_json& value)
{
    record_.Set(key, value);
}

void JobLog::Outcome(JobEnd end)
{
    record_.Outcome(end);
}

void JobLog::Said(const std::string& text)
{
    record_.Said(text);
}

void JobLog::End(int status)
{
    if (!Enabled())
        return;
    std::string error;
    if (!file_.Append(record_.Line(status), error))
        std::fprintf(stderr, "velkor: could not write the log: %s\n", error.c_str());
}
