// The JSON dump of the board's state, as written on close.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "sim/sim_board.h"

namespace {

std::string Hex(const uint8_t* data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

}  // namespace

std::string SimBoard::DumpJson() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return DumpJsonLocked();
}

std::string SimBoard::DumpError() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return dumpError_;
}

std::string SimBoard::DumpJsonLocked() const
{
    nlohmann::json data = nlohmann::json::object();
    for (const auto& block : model_->FlashBlocks()) {
        char name[16];
        std::snprintf(name, sizeof name, "0x%06x", static_cast<unsigned>(block.first));
        data[name] = Hex(block.second.data(), block.second.size());
    }
    nlohmann::json code = nlohmann::json::array();
    for (const auto& entry : model_->CodeLog())
        code.push_back(Hex(entry.data(), entry.size()));

    nlohmann::json dump;
    dump["mode"] = model_->InLoader() ? "loader" : "application";
    dump["shot_counter"] = model_->ShotCounter();
    dump["data"] = std::move(data);
    dump["code"] = std::move(code);
    dump["open_handles"] = handles_.size();
    // Whether a host left the board alone, as a background tab must.
    dump["reports"] = std::count_if(trace_.begin(), trace_.end(), [](const SimTraceEntry& e) { return e.fromHost; });
    return dump.dump(2);
}

std::string SimBoard::WriteDump(const std::string& path, const std::string& dump)
{
    // Written aside and renamed into place, so a reader never sees half a dump.
    std::string error;
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << dump << '\n';
        out.close();
        if (!out)
            error = "cannot write \"" + temp + "\"";
    }
    if (error.empty()) {
        std::error_code ec;
        std::filesystem::rename(temp, path, ec);
        if (ec) {
            // Some platforms refuse to rename over an existing file.
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
            std::filesystem::rename(temp, path, ec);
        }
        if (ec)
            error = "cannot rename \"" + temp + "\" to \"" + path + "\": " + ec.message();
    }
    if (!error.empty())
        std::fprintf(stderr, "sim: dump not written: %s\n", error.c_str());
    return error;
}
