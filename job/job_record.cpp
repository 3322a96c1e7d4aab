#include "job/job_record.h"

#include <ctime>
#include <fstream>
#include <iterator>

#include "job/sha256.h"
#include "velkor_version.h"

namespace {

const char* EndName(JobEnd end)
{
    switch (end) {
    case JobEnd::kDone: return "done";
    case JobEnd::kFailed: return "failed";
    case JobEnd::kAborted: return "aborted";
    case JobEnd::kNoBoard: return "no board";
    case JobEnd::kBoardBusy: return "board busy";
    case JobEnd::kSeveralBoards: return "several boards";
    }
    return "failed";
}

std::string UtcNow()
{
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    return text;
}

}  // namespace

void JobRecord::Begin(const char* program, const char* job)
{
    start_ = std::chrono::steady_clock::now();
    record_ = {{"time", UtcNow()}, {"program", program}, {"version", VELKOR_VERSION_TEXT}, {"job", job}};
    said_.clear();
}

void JobRecord::Board(const std::string& path, const std::string& identity)
{
    record_["board"] = {{"path", path}, {"identity", identity}};
}

void JobRecord::File(const std::string& name, const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    if (in.good() || in.eof())
        FileBytes(name, bytes);
    else
        record_["file"] = {{"name", name}};
}

void JobRecord::FileBytes(const std::string& name, const std::string& bytes)
{
    record_["file"] = {{"name", name}, {"size", bytes.size()}, {"sha256", Sha256Hex(bytes)}};
}

void JobRecord::Set(const char* key, const nlohmann::ordered_json& value)
{
    record_[key] = value;
}

void JobRecord::Outcome(JobEnd end)
{
    record_["outcome"] = EndName(end);
}

void JobRecord::Said(const std::string& text)
{
    said_ += (said_.empty() ? "" : "\n") + text;
}

std::string JobRecord::Line(std::optional<int> exitStatus)
{
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start_;
    record_["text"] = said_;
    if (exitStatus)
        record_["exit"] = *exitStatus;
    record_["duration_s"] = static_cast<double>(static_cast<long long>(took.count() * 1000)) / 1000;
    if (!record_.contains("outcome"))
        record_["outcome"] = exitStatus == 0 ? "done" : "failed";
    // Bytes that are not UTF-8 (a file name) are replaced, not a reason to lose the record.
    return record_.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}
