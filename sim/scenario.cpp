#include "sim/scenario.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>

#include <nlohmann/json.hpp>

#include "link/hex_digit.h"

namespace {

using nlohmann::json;

// Larger than any scenario has reason to be; keeps a wrong path (a disk
// image, say) from being read whole.
constexpr size_t kMaxScenarioBytes = 1 << 20;
constexpr int kMaxNoise = 1000;
constexpr int64_t kMaxReadTimeoutMs = 3600 * 1000;

struct ScenarioError {
    std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& expected)
{
    throw ScenarioError{"scenario: " + where + ": " + expected};
}

std::string Key(const std::string& key) { return "key \"" + key + "\""; }

std::string Entry(const std::string& key, const std::string& entry)
{
    return Key(key) + " entry \"" + entry + "\"";
}

std::optional<int64_t> Integer(const json& value)
{
    if (value.is_number_unsigned()) {
        const uint64_t u = value.get<uint64_t>();
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return std::numeric_limits<int64_t>::max();
        return static_cast<int64_t>(u);
    }
    if (value.is_number_integer())
        return value.get<int64_t>();
    return std::nullopt;
}

int64_t ReadInt(const json& value, const std::string& where, int64_t low, int64_t high,
                const std::string& expected)
{
    const std::optional<int64_t> number = Integer(value);
    if (!number || *number < low || *number > high)
        Fail(where, expected);
    return *number;
}

// A time in milliseconds, from low to an hour.
int ReadMs(const json& value, const std::string& key, int64_t low)
{
    return static_cast<int>(ReadInt(value, Key(key), low, kMaxReadTimeoutMs,
                                    "expected an integer from " + std::to_string(low) + " to " +
                                        std::to_string(kMaxReadTimeoutMs)));
}

std::string ReadText(const json& value, const std::string& key, const std::string& expected)
{
    if (!value.is_string() || value.get<std::string>().empty())
        Fail(Key(key), expected);
    return value.get<std::string>();
}

bool ReadBool(const json& value, const std::string& key)
{
    if (!value.is_boolean())
        Fail(Key(key), "expected true or false");
    return value.get<bool>();
}

// "0x" or "0X" and one or two hex digits.
int ReadCommandCode(const std::string& text, const std::string& where)
{
    const bool shaped = (text.size() == 3 || text.size() == 4) && text[0] == '0' &&
                        (text[1] == 'x' || text[1] == 'X');
    int code = 0;
    for (size_t i = 2; shaped && i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0)
            Fail(where, "expected a command code like \"0xC2\"");
        code = code * 16 + digit;
    }
    if (!shaped)
        Fail(where, "expected a command code like \"0xC2\"");
    return code;
}

int ReadOccurrence(const json& entry, const std::string& where)
{
    const auto found = entry.find("occurrence");
    if (found == entry.end())
        return 0;
    return static_cast<int>(ReadInt(*found, where, 0, std::numeric_limits<int>::max(),
                                    "\"occurrence\" must be an integer of 0 or more (0: every one)"));
}

// Objects in a fault list take exactly the named fields.
void OnlyFields(const json& entry, const std::string& where, const char* first, const char* second)
{
    for (const auto& field : entry.items()) {
        if (field.key() != first && field.key() != second)
            Fail(where, "unknown field \"" + field.key() + "\"");
    }
    if (entry.find(first) == entry.end())
        Fail(where, std::string("missing field \"") + first + "\"");
}

void ReadStatus(const json& value, std::vector<SimFault>& faults)
{
    if (!value.is_object())
        Fail(Key("status"), "expected an object of command code -> status");
    const std::string expected = "expected a status from 1 to 255 or {\"status\": N, \"occurrence\": K}";
    for (const auto& item : value.items()) {
        const std::string where = Entry("status", item.key());
        SimFault fault;
        fault.kind = SimFaultKind::kStatus;
        fault.command = ReadCommandCode(item.key(), where);
        const json* status = &item.value();
        if (item.value().is_object()) {
            OnlyFields(item.value(), where, "status", "occurrence");
            status = &item.value()["status"];
            fault.occurrence = ReadOccurrence(item.value(), where);
        }
        fault.value = static_cast<int>(ReadInt(*status, where, 1, 255, expected));
        faults.push_back(fault);
    }
}

SimFaultKind ReadFailKind(const json& value, const std::string& where)
{
    const std::string expected = "expected \"write\", \"read\" or {\"fail\": \"read\", \"occurrence\": K}";
    if (value.is_string() && value.get<std::string>() == "write")
        return SimFaultKind::kWriteFail;
    if (value.is_string() && value.get<std::string>() == "read")
        return SimFaultKind::kReadFail;
    Fail(where, expected);
}

void ReadLinkFail(const json& value, std::vector<SimFault>& faults)
{
    if (!value.is_object())
        Fail(Key("link_fail"), "expected an object of command code -> \"write\" or \"read\"");
    for (const auto& item : value.items()) {
        const std::string where = Entry("link_fail", item.key());
        SimFault fault;
        fault.command = ReadCommandCode(item.key(), where);
        if (item.value().is_object()) {
            OnlyFields(item.value(), where, "fail", "occurrence");
            fault.kind = ReadFailKind(item.value()["fail"], where);
            fault.occurrence = ReadOccurrence(item.value(), where);
        } else {
            fault.kind = ReadFailKind(item.value(), where);
        }
        faults.push_back(fault);
    }
}

// "silent" and "late": commands whose reply never comes, or comes too late.
void ReadCommandList(const json& value, const std::string& key, SimFaultKind kind, std::vector<SimFault>& faults)
{
    const std::string expected = "expected an array of command codes like \"0xC2\" or {\"command\": \"0xC2\", \"occurrence\": K}";
    if (!value.is_array())
        Fail(Key(key), expected);
    for (size_t i = 0; i < value.size(); ++i) {
        const json& item = value[i];
        const std::string where = Key(key) + " item " + std::to_string(i + 1);
        SimFault fault;
        fault.kind = kind;
        const json* command = &item;
        if (item.is_object()) {
            OnlyFields(item, where, "command", "occurrence");
            command = &item["command"];
            fault.occurrence = ReadOccurrence(item, where);
        }
        if (!command->is_string())
            Fail(where, expected);
        fault.command = ReadCommandCode(command->get<std::string>(), where);
        faults.push_back(fault);
    }
}

// major "." two-digit minor, then at most one letter: "3.02b", "3.02".
void ReadVersion(const json& value, SimConfig& config)
{
    const std::string expected = "expected a version like \"3.02b\" or \"3.02\" (major 0-255, two minor digits, optional letter)";
    if (!value.is_string())
        Fail(Key("version"), expected);
    const std::string text = value.get<std::string>();
    const size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot > 3)
        Fail(Key("version"), expected);
    int major = 0;
    for (size_t i = 0; i < dot; ++i) {
        if (text[i] < '0' || text[i] > '9')
            Fail(Key("version"), expected);
        major = major * 10 + (text[i] - '0');
    }
    const std::string rest = text.substr(dot + 1);
    const bool digits = rest.size() >= 2 && rest[0] >= '0' && rest[0] <= '9' && rest[1] >= '0' && rest[1] <= '9';
    const bool letter = rest.size() == 3 && ((rest[2] >= 'a' && rest[2] <= 'z') || (rest[2] >= 'A' && rest[2] <= 'Z'));
    if (major > 255 || !digits || (rest.size() != 2 && !letter))
        Fail(Key("version"), expected);
    config.versionMajor = major;
    config.versionMinor = (rest[0] - '0') * 10 + (rest[1] - '0');
    config.versionLetter = letter ? rest[2] : '\0';
}

void ReadPressure(const json& value, SimConfig& config)
{
    const std::string expected = "expected two strings of 12 hex digits (selector 0, then 1)";
    if (!value.is_array() || value.size() != 2)
        Fail(Key("pressure"), expected);
    for (size_t s = 0; s < 2; ++s) {
        if (!value[s].is_string())
            Fail(Key("pressure"), expected);
        const std::string text = value[s].get<std::string>();
        if (text.size() != 12)
            Fail(Key("pressure"), expected);
        for (size_t i = 0; i < 6; ++i) {
            const int high = HexDigit(text[2 * i]);
            const int low = HexDigit(text[2 * i + 1]);
            if (high < 0 || low < 0)
                Fail(Key("pressure"), expected);
            config.pressure[s][i] = static_cast<uint8_t>(high * 16 + low);
        }
    }
}

// "vvvv:pppp", four hex digits each, as lsusb writes them.
void ReadOpenedIds(const json& value, SimConfig& config)
{
    const std::string expected = "expected \"vvvv:pppp\", vendor and product id in hex";
    const std::string text = value.is_string() ? value.get<std::string>() : std::string();
    const char* hex = "0123456789abcdefABCDEF";
    if (text.size() != 9 || text[4] != ':' || text.find_first_not_of(hex) != 4 ||
        text.find_first_not_of(hex, 5) != std::string::npos)
        Fail(Key("opened_ids"), expected);
    config.openedVendorId = static_cast<uint16_t>(std::stoul(text.substr(0, 4), nullptr, 16));
    config.openedProductId = static_cast<uint16_t>(std::stoul(text.substr(5), nullptr, 16));
}

// The reply code a data upload is answered with: true for 0x07.
bool ReadUploadReply(const json& value, const std::string& key)
{
    const int code = value.is_string() ? ReadCommandCode(value.get<std::string>(), Key(key)) : -1;
    if (code != 0xC3 && code != 0x07)
        Fail(Key(key), "expected \"0xC3\" or \"0x07\"");
    return code == 0x07;
}

// The keys that are a plain true or false.
bool ReadFlagKey(const std::string& key, const json& value, SimConfig& config)
{
    static const std::pair<const char*, bool SimConfig::*> kFlags[] = {
        {"present", &SimConfig::present},   {"identifies", &SimConfig::identifies},
        {"firmware", &SimConfig::firmware}, {"silent_after_boot", &SimConfig::silentAfterBoot},
        {"loader", &SimConfig::loader},
    };
    for (const auto& [name, flag] : kFlags) {
        if (key == name) {
            config.*flag = ReadBool(value, key);
            return true;
        }
    }
    return false;
}

void ReadBoards(const json& value, SimConfig& config);

void ReadKey(const std::string& key, const json& value, SimConfig& config)
{
    if (key == "boards") {
        ReadBoards(value, config);
    } else if (ReadFlagKey(key, value, config)) {
        return;
    } else if (key == "type") {
        config.type = static_cast<int>(ReadInt(value, Key(key), 0, 15, "expected an integer from 0 to 15"));
    } else if (key == "version") {
        ReadVersion(value, config);
    } else if (key == "shot_counter") {
        config.shotCounter = static_cast<uint32_t>(
            ReadInt(value, Key(key), 0, 0xFFFFFFFFLL, "expected an integer from 0 to 4294967295"));
    } else if (key == "pressure") {
        ReadPressure(value, config);
    } else if (key == "status") {
        ReadStatus(value, config.faults);
    } else if (key == "link_fail") {
        ReadLinkFail(value, config.faults);
    } else if (key == "silent") {
        ReadCommandList(value, key, SimFaultKind::kSilent, config.faults);
    } else if (key == "late") {
        ReadCommandList(value, key, SimFaultKind::kLate, config.faults);
    } else if (key == "noise") {
        config.noise = static_cast<int>(
            ReadInt(value, Key(key), 0, kMaxNoise, "expected an integer from 0 to " + std::to_string(kMaxNoise)));
    } else if (key == "unplug_after") {
        config.unplugAfter = static_cast<int>(ReadInt(value, Key(key), 0, std::numeric_limits<int>::max(),
                                                      "expected a number of reports, 0 or more"));
    } else if (key == "replug_after_ms") {
        config.replugAfterMs = ReadMs(value, key, 0);
    } else if (key == "dump") {
        config.dumpPath = ReadText(value, key, "expected a file path");
    } else if (key == "latency") {
        if (value == "none")
            config.usbFullSpeedTiming = false;
        else if (value == "usb-fs")
            config.usbFullSpeedTiming = true;
        else
            Fail(Key(key), "expected \"none\" or \"usb-fs\"");
    } else if (key == "read_timeout_ms") {
        config.readTimeoutMs = ReadMs(value, key, 1);
    } else if (key == "chatter_ms") {
        config.chatterMs = ReadMs(value, key, 1);
    } else if (key == "spare_reply_bytes") {
        config.spareReplyBytes = static_cast<uint8_t>(ReadInt(value, Key(key), 0, 255, "expected an integer from 0 to 255"));
    } else if (key == "upload_reply") {
        config.uploadAnsweredAsCode = ReadUploadReply(value, key);
    } else if (key == "device_path") {
        config.devicePath = ReadText(value, key, "expected a path");
    } else if (key == "opened_ids") {
        ReadOpenedIds(value, config);
    } else {
        Fail(Key(key), "unknown key");
    }
}

// One board of a lineup: a scenario of its own, and when it is plugged in.
void ReadLineupKey(const std::string& key, const json& value, SimConfig& board)
{
    if (key == "gap_ms")
        board.gapMs = ReadMs(value, key, 0);
    else if (key == "attached_ms")
        board.attachedMs = ReadMs(value, key, 1);
    else if (key == "boards" || key == "present" || key == "replug_after_ms")
        Fail(Key(key), "not in a \"boards\" entry: the list says when each board is plugged in");
    else
        ReadKey(key, value, board);
}

void ReadBoards(const json& value, SimConfig& config)
{
    if (!value.is_array() || value.empty())
        Fail(Key("boards"), "expected an array of board scenarios (objects)");
    std::vector<SimConfig> boards(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        const std::string where = Key("boards") + " item " + std::to_string(i + 1);
        if (!value[i].is_object())
            Fail(where, "expected a board scenario (an object)");
        try {
            for (const auto& item : value[i].items())
                ReadLineupKey(item.key(), item.value(), boards[i]);
        } catch (const ScenarioError& e) {
            // "scenario: key ..." becomes "scenario: key "boards" item N: key ...".
            throw ScenarioError{"scenario: " + where + ": " + e.message.substr(std::string("scenario: ").size())};
        }
        // Only the last may stay for ever: no board would come after it.
        if (boards[i].attachedMs < 0 && i + 1 < value.size())
            Fail(where, "missing \"attached_ms\": every board but the last must leave");
    }
    config = std::move(boards.front());
    config.next.assign(std::make_move_iterator(boards.begin() + 1), std::make_move_iterator(boards.end()));
}

// The library's message, without its "[json.exception...]" tag, on one line.
std::string JsonMessage(const std::exception& e)
{
    std::string text = e.what();
    const size_t tag = text.find("] ");
    if (text.rfind("[json.exception.", 0) == 0 && tag != std::string::npos)
        text.erase(0, tag + 2);
    for (char& c : text) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

}  // namespace

bool ParseScenario(const std::string& text, SimConfig& config, std::string& error)
{
    SimConfig parsed;
    try {
        const json document = json::parse(text);
        if (!document.is_object())
            throw ScenarioError{"scenario: expected a JSON object at the top level"};
        for (const auto& item : document.items()) {
            // Each board of a lineup says all of its own.
            if (document.contains("boards") && item.key() != "boards")
                Fail(Key(item.key()), "not beside \"boards\": set it in each board");
            ReadKey(item.key(), item.value(), parsed);
        }
    } catch (const ScenarioError& e) {
        error = e.message;
        return false;
    } catch (const json::parse_error& e) {
        error = "scenario: invalid JSON: " + JsonMessage(e);
        return false;
    } catch (const json::exception& e) {
        error = "scenario: " + JsonMessage(e);
        return false;
    }
    config = std::move(parsed);
    error.clear();
    return true;
}

bool LoadScenario(const std::string& pathOrDemo, SimConfig& config, std::string& error)
{
    if (pathOrDemo == "demo") {
        config = SimConfig();
        error.clear();
        return true;
    }

    const std::string name = "\"" + pathOrDemo + "\"";
    // The name is UTF-8; a path object opens it on Windows too, whatever the
    // system's code page.
    errno = 0;
    std::ifstream file(std::filesystem::u8path(pathOrDemo), std::ios::binary);
    if (!file) {
        error = "scenario: cannot open " + name + ": " + std::strerror(errno != 0 ? errno : ENOENT);
        return false;
    }
    std::string text;
    char chunk[4096];
    errno = 0;
    while (text.size() <= kMaxScenarioBytes && file.read(chunk, sizeof chunk).gcount() > 0)
        text.append(chunk, static_cast<size_t>(file.gcount()));
    const bool failed = file.bad();
    const int readErrno = errno;
    if (failed) {
        error = "scenario: cannot read " + name + ": " +
                (readErrno != 0 ? std::strerror(readErrno) : "read error");
        return false;
    }
    if (text.size() > kMaxScenarioBytes) {
        error = "scenario: " + name + " is too large for a scenario file";
        return false;
    }

    if (!ParseScenario(text, config, error)) {
        // "scenario: ..." becomes "scenario "path": ...".
        error.insert(std::string("scenario").size(), " " + name);
        return false;
    }
    return true;
}
