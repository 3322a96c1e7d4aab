#include "sim/sim_board.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>
#include <thread>

#include <nlohmann/json.hpp>

namespace {

// The board's own view of the command set. Kept apart from link/ so that a
// mistake on the host side is not mirrored here and hidden.
constexpr uint16_t kVendorId = 0x04D8;
constexpr uint16_t kProductId = 0xFC31;
constexpr int32_t kShortSize = 9;
constexpr int32_t kLongSize = 73;

constexpr uint8_t kIdentify = 0x00;
constexpr uint8_t kBootFirmware = 0x01;
constexpr uint8_t kEnterLoader = 0x02;
constexpr uint8_t kInitProgramming = 0x06;
constexpr uint8_t kCodeBlockReply = 0x07;
constexpr uint8_t kCompleteProgramming = 0x08;
constexpr uint8_t kUploadData = 0x10;
constexpr uint8_t kUploadDataTag = 0x12;
constexpr uint8_t kAccessShotCounter = 0x40;
constexpr uint8_t kReadPressure = 0x90;
constexpr uint8_t kStartDataUpload = 0xC0;
constexpr uint8_t kEraseBlock = 0xC2;
constexpr uint8_t kUploadDataReply = 0xC3;
constexpr uint8_t kNoiseCode = 0xEE;  // awaited by no exchange

constexpr uint32_t kBlockSize = 4096;
constexpr uint32_t kAddressMask = 0xFFFFFF;
constexpr int kUploadMax = 64;
// Noise replies queued per request at most: a runaway setting must not eat
// the memory of the process it is testing.
constexpr int kNoiseMax = 1000;
// Failed writes are traced with what was offered, within reason.
constexpr int32_t kTraceMax = 4096;
// Unread input reports a real host keeps per open handle: Linux's hidraw keeps
// 64 and drops what comes after, Windows keeps 32 by default. The board never
// promises more than the smaller, and like hidraw it loses the newest.
constexpr size_t kInputQueueMax = 32;

std::atomic<SimBoard*> installedBoard{nullptr};

// CRC-16/ARC, reflected 0xA001, register from 0, no final inversion.
uint16_t Crc16Arc(const uint8_t* data, size_t length)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

uint32_t Le24(const uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16); }

// A real board sees every request as a whole output report; bytes a command
// does not use must be 0 (the host pads with 0).
bool ZeroFrom(const uint8_t* request, int first, int end)
{
    return std::all_of(request + first, request + end, [](uint8_t b) { return b == 0; });
}

uint32_t Le32(const uint8_t* p) { return Le24(p) | (static_cast<uint32_t>(p[3]) << 24); }

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

// The reply code that answers a request; a status fault answers with it too.
uint8_t ReplyCodeFor(const uint8_t* request, int32_t length, bool loader)
{
    if (length == kShortSize)
        return request[1];
    if (!loader && request[1] == kUploadData && request[2] == kUploadDataTag)
        return kUploadDataReply;
    return kCodeBlockReply;
}

// Every byte of a short request that the command set fixes: magic bytes,
// flags that are 0 or 1, and 0 wherever a command has nothing to say.
bool ArgumentsValid(const uint8_t* r)
{
    switch (r[1]) {
    case kIdentify:
    case kBootFirmware:
    case kEnterLoader:
    case kCompleteProgramming:
        return ZeroFrom(r, 2, kShortSize);
    case kInitProgramming:
        return r[2] == 0x55 && r[3] == 0xAA && ZeroFrom(r, 4, kShortSize);
    case kStartDataUpload:
        // The host starts the upload session at 0 with the flag clear.
        return ZeroFrom(r, 2, kShortSize);
    case kEraseBlock:
        return r[2] == 0x01 && Le24(r + 3) % kBlockSize == 0 && r[6] == 0xAA && r[7] == 0x55 && r[8] == 0;
    case kAccessShotCounter:
        // A query carries no value.
        return (r[2] == 0 || (r[2] == 1 && Le32(r + 3) == 0)) && r[7] == 0xAA && r[8] == 0x55;
    case kReadPressure:
        return r[2] <= 1 && ZeroFrom(r, 3, kShortSize);
    default:
        return true;
    }
}

}  // namespace

SimBoard::SimBoard(SimConfig config)
    : config_(std::move(config))
{
    present_ = config_.present && config_.unplugAfter != 0;
    loader_ = config_.loader;
    firmware_ = config_.firmware;
    shotCounter_ = config_.shotCounter;
    faults_ = config_.faults;
    unplugLeft_ = config_.unplugAfter > 0 ? config_.unplugAfter : -1;
    readTimeoutMs_ = std::max(0, config_.readTimeoutMs);
    unpluggedAt_ = Clock::now();
    path_ = config_.devicePath;
    if (path_.empty()) {
        // A simulated board lives in one process: its lock must not meet
        // another process's simulated board.
        std::random_device random;
        char name[40];
        std::snprintf(name, sizeof name, "sim-%08x%08x", random(), random());
        path_ = name;
    }
}

std::string SimBoard::Path() const
{
    return path_;
}

bool SimBoard::Listed()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return PresentNow();
}

bool SimBoard::PresentNow()
{
    if (!present_ && config_.replugAfterMs >= 0 &&
        Clock::now() - unpluggedAt_ >= std::chrono::milliseconds(config_.replugAfterMs))
        present_ = true;
    return present_;
}

int32_t SimBoard::Open(const char* path)
{
    if (path == nullptr || path_ != path)
        return -1;
    return Open(kVendorId, kProductId, 0);
}

int32_t SimBoard::Open(uint16_t vendorId, uint16_t productId, int32_t /*reserved*/)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!PresentNow() || vendorId != kVendorId || productId != kProductId || nextHandle_ < 0)
        return -1;
    const int32_t handle = nextHandle_;
    nextHandle_ = handle == INT32_MAX ? -1 : handle + 1;
    handles_[handle];
    return handle;
}

int32_t SimBoard::WriteShort(int32_t handle, const uint8_t* report, int32_t length)
{
    return Write(handle, report, length, kShortSize);
}

int32_t SimBoard::WriteLong(int32_t handle, const uint8_t* report, int32_t length)
{
    return Write(handle, report, length, kLongSize);
}

int32_t SimBoard::Write(int32_t handle, const uint8_t* report, int32_t length, int32_t size)
{
    std::optional<Clock::time_point> wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool wellFormed = report != nullptr && length == size && report[0] == 0;
        Handle* h = Usable(handle);
        if (h == nullptr || !wellFormed) {
            Record(true, false, report, length);
            return -1;
        }

        const int key = size == kShortSize ? report[1] : (loader_ ? kSimKeyCodeBlock : kSimKeyUploadData);
        const FaultSet faults = MatchFaults(key, ++occurrences_[key]);
        if (faults.writeFail) {
            Record(true, false, report, length);
            return -1;
        }
        Record(true, true, report, length);
        wake = Charge(length);

        Reply reply;
        if (faults.status != nullptr) {
            reply.bytes[1] = ReplyCodeFor(report, length, loader_);
            reply.bytes[2] = static_cast<uint8_t>(faults.status->value);
        } else {
            reply.bytes = size == kShortSize ? ShortCommand(report) : LongCommand(report);
        }
        reply.fails = faults.readFail || (size == kShortSize && report[1] == kIdentify && !config_.identifies);

        // A malformed identify cannot carry a status: the board ignores it.
        const bool ignored = size == kShortSize && report[1] == kIdentify && !ZeroFrom(report, 2, kShortSize);

        if (h->late) {
            Queue(*h, *h->late);
            h->late.reset();
        }
        const int noise = std::min(kNoiseMax, std::max(0, config_.noise) + faults.noise);
        for (int i = 0; i < noise; ++i) {
            Reply other;
            other.bytes[1] = kNoiseCode;
            other.bytes[3] = static_cast<uint8_t>(i);
            Queue(*h, other);
        }
        if (faults.late && !ignored)
            h->late = reply;
        else if (!faults.silent && !ignored)
            Queue(*h, reply);
        replyQueued_.notify_all();
        CountReport();
    }
    if (wake)
        WaitForLink(*wake);
    return length;
}

int32_t SimBoard::Read(int32_t handle, uint8_t* buf, int32_t length, int32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (buf == nullptr || length < kShortSize || Usable(handle) == nullptr) {
        Record(false, false, nullptr, 0);
        return -1;
    }
    // Wait for a reply the way the host backend does. The handle is looked up
    // afresh after the wait: it may have been closed or unplugged meanwhile.
    const auto ready = [&] {
        const Handle* h = Usable(handle);
        return h == nullptr || !h->replies.empty();
    };
    const int waitMs = std::max(0, std::min(timeoutMs, readTimeoutMs_));
    // A chattering board owes no reply when its queue is empty: another of
    // its reports arrives every chatterMs, sooner than the read gives up.
    const bool chatters = config_.chatterMs > 0 && config_.chatterMs <= waitMs;
    replyQueued_.wait_for(lock, std::chrono::milliseconds(chatters ? config_.chatterMs : waitMs), ready);
    Handle* h = Usable(handle);
    if (h != nullptr && h->replies.empty() && chatters) {
        Reply chatter;
        chatter.bytes[1] = kNoiseCode;
        h->replies.push_back(chatter);
    }
    if (h == nullptr || h->replies.empty()) {
        Record(false, false, nullptr, 0);
        return -1;
    }
    const Reply reply = h->replies.front();
    h->replies.pop_front();
    if (reply.fails) {
        Record(false, false, nullptr, 0);
        return -1;
    }
    std::copy(reply.bytes.begin(), reply.bytes.end(), buf);
    Record(false, true, reply.bytes.data(), kShortSize);
    const std::optional<Clock::time_point> wake = Charge(kShortSize);
    CountReport();
    lock.unlock();
    if (wake)
        WaitForLink(*wake);
    return kShortSize;
}

int32_t SimBoard::Close(int32_t handle)
{
    std::lock_guard<std::mutex> dumpLock(dumpMutex_);
    std::string path;
    std::string dump;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (handles_.erase(handle) == 0)
            return -1;
        replyQueued_.notify_all();
        if (config_.dumpPath.empty())
            return 0;
        path = config_.dumpPath;
        dump = DumpJsonLocked();
    }

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

    std::lock_guard<std::mutex> lock(mutex_);
    dumpError_ = error;
    return 0;
}

void SimBoard::AddFault(const SimFault& fault)
{
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back(fault);
}

void SimBoard::ClearFaults()
{
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

void SimBoard::SetUnplugAfter(int reports)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (reports == 0)
        Unplug();
    else
        unplugLeft_ = reports < 0 ? -1 : reports;
}

void SimBoard::SetPresent(bool present)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!present)
        Unplug();
    else
        present_ = true;
}

void SimBoard::SetReadTimeoutMs(int ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    readTimeoutMs_ = std::max(0, ms);
}

bool SimBoard::InLoader() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return loader_;
}

bool SimBoard::Present() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return present_;
}

bool SimBoard::HasFirmware() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return firmware_;
}

bool SimBoard::ProgrammingOpen() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return programming_;
}

uint32_t SimBoard::ShotCounter() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return shotCounter_;
}

int SimBoard::OpenHandles() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(handles_.size());
}

std::vector<SimTraceEntry> SimBoard::Trace() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return trace_;
}

void SimBoard::ClearTrace()
{
    std::lock_guard<std::mutex> lock(mutex_);
    trace_.clear();
}

uint8_t SimBoard::FlashByte(uint32_t address) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    address &= kAddressMask;
    const auto block = flash_.find(address & ~(kBlockSize - 1));
    return block == flash_.end() ? 0xFF : block->second[address % kBlockSize];
}

std::map<uint32_t, std::vector<uint8_t>> SimBoard::FlashBlocks() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_;
}

std::vector<std::vector<uint8_t>> SimBoard::CodeLog() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return codeLog_;
}

std::chrono::microseconds SimBoard::LinkTime() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return linkTime_;
}

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

SimBoard::Handle* SimBoard::Usable(int32_t handle)
{
    const auto found = handles_.find(handle);
    if (found == handles_.end() || found->second.stale || !present_)
        return nullptr;
    return &found->second;
}

SimBoard::FaultSet SimBoard::MatchFaults(int key, int occurrence) const
{
    FaultSet set;
    for (const SimFault& fault : faults_) {
        if ((fault.command != -1 && fault.command != key) ||
            (fault.occurrence != 0 && fault.occurrence != occurrence))
            continue;
        switch (fault.kind) {
        case SimFaultKind::kStatus:
            if (set.status == nullptr)
                set.status = &fault;
            break;
        case SimFaultKind::kWriteFail:
            set.writeFail = true;
            break;
        case SimFaultKind::kReadFail:
            set.readFail = true;
            break;
        case SimFaultKind::kSilent:
            set.silent = true;
            break;
        case SimFaultKind::kLate:
            set.late = true;
            break;
        case SimFaultKind::kNoise:
            set.noise = std::min(kNoiseMax, set.noise + std::max(0, fault.value));
            break;
        }
    }
    return set;
}

SimBoard::Report SimBoard::ShortCommand(const uint8_t* request)
{
    const uint8_t code = request[1];
    Report reply{};
    reply[1] = code;
    uint8_t& status = reply[2];

    // Commands that belong to the other mode are refused before their
    // arguments are looked at, the way the two firmwares each know only
    // their own commands.
    switch (code) {
    case kBootFirmware:
    case kInitProgramming:
    case kCompleteProgramming:
        if (!loader_) {
            status = kSimWrongMode;
            return reply;
        }
        break;
    case kEnterLoader:
    case kStartDataUpload:
    case kEraseBlock:
    case kAccessShotCounter:
    case kReadPressure:
        if (loader_) {
            status = kSimWrongMode;
            return reply;
        }
        break;
    default:
        break;
    }

    if (!ArgumentsValid(request)) {
        status = kSimBadArgument;
        return reply;
    }

    switch (code) {
    case kIdentify:
        status = static_cast<uint8_t>((config_.type & 0x0F) | (firmware_ ? 0x40 : 0) | (loader_ ? 0x80 : 0));
        reply[5] = static_cast<uint8_t>(config_.versionMajor);
        reply[6] = static_cast<uint8_t>(config_.versionMinor);
        reply[7] = static_cast<uint8_t>(config_.versionLetter);
        break;
    case kBootFirmware:
        if (!firmware_) {
            status = kSimNoFirmware;
            break;
        }
        loader_ = false;
        programming_ = false;
        break;
    case kEnterLoader:
        loader_ = true;
        programming_ = false;
        break;
    case kInitProgramming:
        programming_ = true;
        codeSinceInit_ = false;
        break;
    case kCompleteProgramming:
        if (programming_ && codeSinceInit_)
            firmware_ = true;
        programming_ = false;
        codeSinceInit_ = false;
        break;
    case kStartDataUpload:
        // The value means something only to the board; the host expects 0.
        reply[3] = static_cast<uint8_t>(config_.uploadValue);
        reply[4] = static_cast<uint8_t>(config_.uploadValue >> 8);
        reply[5] = static_cast<uint8_t>(config_.uploadValue >> 16);
        break;
    case kEraseBlock: {
        std::vector<uint8_t>& block = Block(Le24(request + 3));
        std::fill(block.begin(), block.end(), 0xFF);
        break;
    }
    case kAccessShotCounter:
        if (request[2] == 0)
            shotCounter_ = Le32(request + 3);
        for (int i = 0; i < 4; ++i)
            reply[3 + i] = static_cast<uint8_t>(shotCounter_ >> (8 * i));
        break;
    case kReadPressure: {
        const auto& sample = config_.pressure[request[2]];
        std::copy(sample.begin(), sample.end(), reply.begin() + 3);
        break;
    }
    default:
        status = kSimUnknownCommand;
        break;
    }
    return reply;
}

SimBoard::Report SimBoard::LongCommand(const uint8_t* request)
{
    Report reply{};
    reply[1] = ReplyCodeFor(request, kLongSize, loader_);
    uint8_t& status = reply[2];

    if (loader_) {
        // The loader takes every long report as a code block; what is in it
        // is the firmware image's business.
        if (!programming_) {
            status = kSimNotInitialised;
            return reply;
        }
        codeLog_.emplace_back(request + 1, request + kLongSize);
        codeSinceInit_ = true;
        return reply;
    }
    if (reply[1] != kUploadDataReply) {
        status = kSimWrongMode;
        return reply;
    }

    const int count = request[3];
    if (count > kUploadMax) {
        status = kSimBadArgument;
        return reply;
    }
    const uint16_t crc = Crc16Arc(request + 1, 6 + static_cast<size_t>(count));
    if ((crc & 0xFF) != request[7 + count] || (crc >> 8) != request[8 + count]) {
        status = kSimCrcError;
        return reply;
    }
    if (!ZeroFrom(request, 9 + count, kLongSize)) {
        status = kSimBadArgument;
        return reply;
    }
    const uint32_t address = Le24(request + 4);
    for (int i = 0; i < count; ++i)
        Program((address + static_cast<uint32_t>(i)) & kAddressMask, request[7 + i]);
    return reply;
}

void SimBoard::Queue(Handle& h, const Reply& reply)
{
    if (h.replies.size() < kInputQueueMax)
        h.replies.push_back(reply);
}

void SimBoard::Program(uint32_t address, uint8_t value)
{
    // Flash can only clear bits; setting them takes an erase.
    Block(address & ~(kBlockSize - 1))[address % kBlockSize] &= value;
}

std::vector<uint8_t>& SimBoard::Block(uint32_t blockAddress)
{
    std::vector<uint8_t>& block = flash_[blockAddress];
    if (block.empty())
        block.assign(kBlockSize, 0xFF);
    return block;
}

void SimBoard::Record(bool fromHost, bool ok, const uint8_t* bytes, int32_t length)
{
    SimTraceEntry entry;
    entry.fromHost = fromHost;
    entry.ok = ok;
    if (bytes != nullptr && length > 0)
        entry.bytes.assign(bytes, bytes + std::min(length, kTraceMax));
    trace_.push_back(std::move(entry));
}

std::optional<SimBoard::Clock::time_point> SimBoard::Charge(int32_t length)
{
    if (!config_.usbFullSpeedTiming)
        return std::nullopt;
    // One 1 ms frame per 64 bytes. The clock runs on from where the last
    // report ended, so oversleeping once is not added to every later report.
    const std::chrono::milliseconds cost((length + 63) / 64);
    linkTime_ += cost;
    // What the last sleep overran is the sim's, not the host's: take it off
    // here, so the next sleep is that much shorter.
    linkClock_ = std::max(Clock::now() - overslept_, linkClock_) + cost;
    return linkClock_;
}

void SimBoard::WaitForLink(Clock::time_point wake)
{
    std::this_thread::sleep_until(wake);
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    overslept_ = now > wake ? now - wake : Clock::duration::zero();
}

void SimBoard::CountReport()
{
    if (unplugLeft_ > 0 && --unplugLeft_ == 0)
        Unplug();
}

void SimBoard::Unplug()
{
    // The board keeps its own state (mode, flash, counter): it runs on the
    // marker's power, only the cable is gone. Handles die with the cable.
    present_ = false;
    unplugLeft_ = -1;
    unpluggedAt_ = Clock::now();
    for (auto& entry : handles_) {
        entry.second.stale = true;
        entry.second.replies.clear();
    }
    replyQueued_.notify_all();
}

std::string SimBoard::DumpJsonLocked() const
{
    nlohmann::json data = nlohmann::json::object();
    for (const auto& block : flash_) {
        char name[16];
        std::snprintf(name, sizeof name, "0x%06x", static_cast<unsigned>(block.first));
        data[name] = Hex(block.second.data(), block.second.size());
    }
    nlohmann::json code = nlohmann::json::array();
    for (const auto& entry : codeLog_)
        code.push_back(Hex(entry.data(), entry.size()));

    nlohmann::json dump;
    dump["mode"] = loader_ ? "loader" : "application";
    dump["shot_counter"] = shotCounter_;
    dump["data"] = std::move(data);
    dump["code"] = std::move(code);
    dump["open_handles"] = handles_.size();
    return dump.dump(2);
}

void InstallSimBoard(SimBoard* board)
{
    installedBoard.store(board);
}

SimBoard* InstalledSimBoard()
{
    return installedBoard.load();
}
