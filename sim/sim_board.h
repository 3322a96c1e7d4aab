// A simulated board: the command set, its two modes, data flash, code log,
// shot counter and pressure sensor as the host sees them, with named faults
// and a byte-exact trace. The board itself is BoardModel; this is its link.
// The sim HID backend (sim/hid_sim.cpp) puts the active board behind the five
// HID operations.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/board_model.h"

// Status bytes the simulated board answers with. Kept clear of 1 and 2, which
// a long exchange also returns for a failed write or read.
enum SimStatus : uint8_t {
    kSimOk = 0x00,
    kSimWrongMode = 0x11,     // command not available in the current mode
    kSimBadArgument = 0x12,   // wrong magic bytes, unaligned address, bad length
    kSimCrcError = 0x13,      // data upload whose CRC does not hold
    kSimNoFirmware = 0x14,    // boot with no application firmware present
    kSimNotInitialised = 0x15,  // code block before InitProgramming
    kSimUnknownCommand = 0x1F,
};

// Fault keys: the command code of a short request, 0x10 for a data upload
// (long report in application mode) and 0x07 for a code block (long report in
// the loader).
constexpr int kSimKeyUploadData = 0x10;
constexpr int kSimKeyCodeBlock = 0x07;

enum class SimFaultKind {
    kStatus,     // answer with the given status; the command is not carried out
    kWriteFail,  // the host's write fails; the board sees nothing
    kReadFail,   // the command is carried out, the host's next read fails
    kSilent,     // the command is carried out, no reply: the read times out
    kNoise,      // `value` replies with other codes before the real one
    kLate,       // carried out; the reply misses the read, which times out,
                 // and reaches the host just before the next reply
};

struct SimFault {
    SimFaultKind kind = SimFaultKind::kStatus;
    int command = 0;     // fault key, see above; -1 matches every command
    // 1-based occurrence of the fault key, counted over every handle from the
    // board's creation (requests refused before reaching the board do not
    // count); 0 = every one.
    int occurrence = 0;
    int value = 0;       // status byte for kStatus, reply count for kNoise
};

struct SimConfig {
    bool present = true;
    bool identifies = true;
    // Once booted from its loader, identify requests fail as with identifies.
    bool silentAfterBoot = false;
    int type = 3;
    bool firmware = true;
    bool loader = false;  // starts in the loader
    int versionMajor = 3;
    int versionMinor = 2;
    char versionLetter = 'b';
    uint32_t shotCounter = 1000;
    std::array<std::array<uint8_t, 6>, 2> pressure{{{0x01, 0x02, 0x03, 0x0A, 0x0B, 0x0C},
                                                    {0x10, 0x20, 0x30, 0xA0, 0xB0, 0xC0}}};
    std::vector<SimFault> faults;
    int noise = 0;          // replies with other codes before every real one
    int unplugAfter = -1;   // reports (both directions) before the board goes; -1 never
    int replugAfterMs = -1;  // back this long after it went (or after start if absent); -1 never
    std::string dumpPath;   // written as JSON on every close when set
    uint32_t uploadValue = 0;  // 24-bit value StartDataUpload answers with
    // What the command set allows and a default board never does: the reply
    // bytes a command leaves unused (and bits 4-5 of the identify reply's
    // byte 2) carry this instead of 0; a data upload is answered with 0x07.
    uint8_t spareReplyBytes = 0;
    bool uploadAnsweredAsCode = false;
    bool usbFullSpeedTiming = false;  // 1 ms frames of 64 bytes per report
    int readTimeoutMs = 5000;         // how long a read waits on a silent board
    int chatterMs = 0;  // while no reply is owed, a 0xEE report every this often; 0 never
    // The device path the board is listed under, and the name of its
    // system-wide lock. Empty: one of its own, which no other process shares.
    std::string devicePath;
    // The ids the device gives of itself once opened: another device than
    // the board's when its node was reused between the listing and the open.
    uint16_t openedVendorId = 0x04D8;
    uint16_t openedProductId = 0xFC31;
    // Boards plugged in one after another: this one comes gapMs after the
    // start (or after the one before it left) and stays attachedMs (-1: for
    // ever); then the first of next takes its turn, a board of its own.
    int gapMs = 0;
    int attachedMs = -1;
    std::vector<SimConfig> next;
};

struct SimTraceEntry {
    bool fromHost = true;       // written by the host; false: read by the host
    bool ok = true;             // false: the library call failed
    std::vector<uint8_t> bytes;  // the report as written or as delivered
};

class SimBoard {
public:
    explicit SimBoard(SimConfig config = SimConfig());

    // The HID operations. The board is listed under Path() while present.
    std::string Path() const;
    bool Listed();  // plugged in now (a replug that is due happens here)
    int32_t Open(const char* path);
    int32_t Open(uint16_t vendorId, uint16_t productId, int32_t reserved);
    int32_t WriteShort(int32_t handle, const uint8_t* report, int32_t length);
    // Waits at most timeoutMs, and never longer than the board's own read
    // time-out.
    int32_t Read(int32_t handle, uint8_t* buf, int32_t length, int32_t timeoutMs = INT32_MAX);
    int32_t WriteLong(int32_t handle, const uint8_t* report, int32_t length);
    int32_t Close(int32_t handle);
    bool Ids(int32_t handle, uint16_t& vendorId, uint16_t& productId) const;

    void AddFault(const SimFault& fault);
    void ClearFaults();
    void SetUnplugAfter(int reports);  // counted from now; 0 at once, negative never
    // Pull out or plug in the cable. The board keeps its state; handles opened
    // before an unplug stay dead, only new opens work after the replug.
    void SetPresent(bool present);
    void SetReadTimeoutMs(int ms);

    // What the host can observe of the board, for tests.
    bool InLoader() const;
    bool Present() const;
    bool HasFirmware() const;
    bool ProgrammingOpen() const;
    uint32_t ShotCounter() const;
    int OpenHandles() const;
    std::vector<SimTraceEntry> Trace() const;
    void ClearTrace();
    // Data flash: byte at a 24-bit address (0xFF where never written).
    uint8_t FlashByte(uint32_t address) const;
    // Every 4096-byte block ever erased or written, by block address.
    std::map<uint32_t, std::vector<uint8_t>> FlashBlocks() const;
    // Code blocks received, each the 72 bytes after the report id, in order.
    std::vector<std::vector<uint8_t>> CodeLog() const;
    // Time the link itself needs for the exchanges so far under the USB
    // full-speed model (0 when the model is off).
    std::chrono::microseconds LinkTime() const;

    // The JSON dump written on close: mode, shot_counter, data, code,
    // open_handles.
    std::string DumpJson() const;
    // Why the last dump could not be written; empty once one succeeds.
    std::string DumpError() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Reply {
        SimReport bytes{};
        bool fails = false;  // the read that meets it fails at once
    };
    struct Handle {
        std::deque<Reply> replies;
        std::optional<Reply> late;  // held back by a kLate fault
        bool stale = false;  // opened before an unplug; dead for good
    };
    struct FaultSet {
        const SimFault* status = nullptr;
        bool writeFail = false;
        bool readFail = false;
        bool silent = false;
        bool late = false;
        int noise = 0;
    };

    // Everything below expects mutex_ to be held.
    int32_t Write(int32_t handle, const uint8_t* report, int32_t length, int32_t size);
    Handle* Usable(int32_t handle);
    FaultSet MatchFaults(int key, int occurrence) const;
    Reply Answer(const uint8_t* report, int32_t length, const FaultSet& faults);
    void Deliver(Handle& h, const Reply& reply, const FaultSet& faults, bool ignored);
    void Queue(Handle& h, const Reply& reply);
    void Record(bool fromHost, bool ok, const uint8_t* bytes, int32_t length);
    std::optional<Clock::time_point> Charge(int32_t length);
    // Sleeps until the link is done with a report; takes the lock itself.
    void WaitForLink(Clock::time_point wake);
    void CountReport();
    void Unplug();
    std::string DumpJsonLocked() const;
    // Takes no lock. Writes a dump where a reader never sees half of it;
    // returns why it could not, or empty.
    static std::string WriteDump(const std::string& path, const std::string& dump);

    bool PresentNow();  // present_, after a replug that is due
    // Plugs in or pulls out the lineup's boards as their times come.
    void FollowLineup();
    void SetUpBoard();  // the state a board's config sets


    SimConfig config_;
    std::string path_;
    std::optional<BoardModel> model_;  // reads config_
    Clock::time_point turnStart_{};  // when this board's gap began
    bool gapPending_ = false;
    bool present_ = true;
    std::vector<SimFault> faults_;
    std::map<int, int> occurrences_;
    std::map<int32_t, Handle> handles_;
    int32_t nextHandle_ = 0;
    int unplugLeft_ = -1;
    Clock::time_point unpluggedAt_{};
    int readTimeoutMs_ = 5000;
    std::vector<SimTraceEntry> trace_;
    Clock::time_point linkClock_{};
    std::chrono::microseconds linkTime_{0};
    Clock::duration overslept_{0};
    std::string dumpError_;

    mutable std::mutex mutex_;
    std::condition_variable replyQueued_;
    // Serialises dumps so a later close never loses to an earlier one.
    std::mutex dumpMutex_;
};

// The board behind the sim HID backend. Tests and demo builds install one;
// with none installed the backend opens nothing.
void InstallSimBoard(SimBoard* board);
SimBoard* InstalledSimBoard();
