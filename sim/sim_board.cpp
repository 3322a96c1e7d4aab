#include "sim/sim_board.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>

#include "sim/sim_wait.h"

using namespace simwire;

namespace {

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

}  // namespace

SimBoard::SimBoard(SimConfig config)
    : config_(std::move(config))
{
    turnStart_ = unpluggedAt_ = Clock::now();
    SetUpBoard();
}

void SimBoard::SetUpBoard()
{
    model_.emplace(config_);
    gapPending_ = config_.gapMs > 0;
    present_ = config_.present && config_.unplugAfter != 0 && !gapPending_;
    faults_ = config_.faults;
    occurrences_.clear();
    // A board of its own: what the host wrote to the one before is not its.
    handles_.clear();
    trace_.clear();
    unplugLeft_ = config_.unplugAfter > 0 ? config_.unplugAfter : -1;
    readTimeoutMs_ = std::max(0, config_.readTimeoutMs);
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

void SimBoard::FollowLineup()
{
    const Clock::time_point now = Clock::now();
    const Clock::time_point plugged = turnStart_ + std::chrono::milliseconds(config_.gapMs);
    if (gapPending_ && now >= plugged) {
        gapPending_ = false;
        present_ = config_.unplugAfter != 0;
    }
    if (gapPending_ || config_.attachedMs < 0 || now < plugged + std::chrono::milliseconds(config_.attachedMs))
        return;
    Unplug();
    if (config_.next.empty()) {
        config_.attachedMs = -1;  // gone for good
        return;
    }
    turnStart_ = plugged + std::chrono::milliseconds(config_.attachedMs);
    SimConfig following = std::move(config_.next.front());
    following.next.assign(std::make_move_iterator(config_.next.begin() + 1),
                          std::make_move_iterator(config_.next.end()));
    config_ = std::move(following);
    SetUpBoard();
    // Its own gap may be over too.
    FollowLineup();
}

bool SimBoard::PresentNow()
{
    FollowLineup();
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

        const int key = size == kShortSize ? report[1] : (model_->InLoader() ? kSimKeyCodeBlock : kSimKeyUploadData);
        const FaultSet faults = MatchFaults(key, ++occurrences_[key]);
        if (faults.writeFail) {
            Record(true, false, report, length);
            return -1;
        }
        Record(true, true, report, length);
        wake = Charge(length);
        Deliver(*h, Answer(report, length, faults), faults, BoardModel::Ignores(report, length));
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
    SimWaitFor(lock, replyQueued_, chatters ? config_.chatterMs : waitMs, ready);
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

bool SimBoard::Ids(int32_t handle, uint16_t& vendorId, uint16_t& productId) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (handles_.count(handle) == 0)
        return false;
    vendorId = config_.openedVendorId;
    productId = config_.openedProductId;
    return true;
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

    const std::string error = WriteDump(path, dump);
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
    return model_->InLoader();
}

bool SimBoard::Present() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return present_;
}

bool SimBoard::HasFirmware() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->HasFirmware();
}

bool SimBoard::ProgrammingOpen() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->ProgrammingOpen();
}

uint32_t SimBoard::ShotCounter() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->ShotCounter();
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
    return model_->FlashByte(address);
}

std::map<uint32_t, std::vector<uint8_t>> SimBoard::FlashBlocks() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->FlashBlocks();
}

std::vector<std::vector<uint8_t>> SimBoard::CodeLog() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->CodeLog();
}

std::chrono::microseconds SimBoard::LinkTime() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return linkTime_;
}

SimBoard::Handle* SimBoard::Usable(int32_t handle)
{
    FollowLineup();
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
        // The first status wins; the other kinds add up.
        if (fault.kind == SimFaultKind::kStatus && set.status == nullptr)
            set.status = &fault;
        set.writeFail = set.writeFail || fault.kind == SimFaultKind::kWriteFail;
        set.readFail = set.readFail || fault.kind == SimFaultKind::kReadFail;
        set.silent = set.silent || fault.kind == SimFaultKind::kSilent;
        set.late = set.late || fault.kind == SimFaultKind::kLate;
        if (fault.kind == SimFaultKind::kNoise)
            set.noise = std::min(kNoiseMax, set.noise + std::max(0, fault.value));
    }
    return set;
}

SimBoard::Reply SimBoard::Answer(const uint8_t* report, int32_t length, const FaultSet& faults)
{
    Reply reply;
    if (faults.status != nullptr) {
        model_->FillSpare(reply.bytes, 3);
        reply.bytes[1] = model_->ReplyCode(report, length);
        reply.bytes[2] = static_cast<uint8_t>(faults.status->value);
    } else {
        reply.bytes = model_->Handle(report, length);
    }
    const bool mute = !config_.identifies || (config_.silentAfterBoot && model_->Booted());
    reply.fails = faults.readFail || (length == kShortSize && report[1] == kIdentify && mute);
    return reply;
}

void SimBoard::Deliver(Handle& h, const Reply& reply, const FaultSet& faults, bool ignored)
{
    if (h.late) {
        Queue(h, *h.late);
        h.late.reset();
    }
    const int noise = std::min(kNoiseMax, std::max(0, config_.noise) + faults.noise);
    for (int i = 0; i < noise; ++i) {
        Reply other;
        other.bytes[1] = kNoiseCode;
        other.bytes[3] = static_cast<uint8_t>(i);
        Queue(h, other);
    }
    if (faults.late && !ignored)
        h.late = reply;
    else if (!faults.silent && !ignored)
        Queue(h, reply);
}

void SimBoard::Queue(Handle& h, const Reply& reply)
{
    if (h.replies.size() < kInputQueueMax)
        h.replies.push_back(reply);
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
    SimSleepUntil(wake);
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

void InstallSimBoard(SimBoard* board)
{
    installedBoard.store(board);
}

SimBoard* InstalledSimBoard()
{
    return installedBoard.load();
}
