// The board itself, apart from its link: what a request does to its mode,
// flash, code log and counter, and what it answers. The link (sim_board.cpp)
// decides whether a request reaches it at all.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

struct SimConfig;

// A reply report: report id 0, the code, the status, then the command's bytes.
using SimReport = std::array<uint8_t, 9>;

// The board's own view of the command set. Kept apart from link/ so that a
// mistake on the host side is not mirrored here and hidden.
namespace simwire {
constexpr uint16_t kVendorId = 0x04D8;
constexpr uint16_t kProductId = 0xFC31;
constexpr int32_t kShortSize = 9;
constexpr int32_t kLongSize = 73;
constexpr uint8_t kIdentify = 0x00;
constexpr uint8_t kNoiseCode = 0xEE;  // awaited by no exchange
}  // namespace simwire

class BoardModel {
public:
    explicit BoardModel(const SimConfig& config);

    // One request as the board receives it: a short report (kShortSize bytes)
    // or a long one (kLongSize). Carries it out and returns the reply.
    SimReport Handle(const uint8_t* request, int32_t length);
    // The reply code that answers a request; a refused one answers with it too.
    uint8_t ReplyCode(const uint8_t* request, int32_t length) const;
    // A malformed identify cannot carry a status: the board ignores it.
    static bool Ignores(const uint8_t* request, int32_t length);
    // Sets the reply bytes from `first` on, which the command leaves unused.
    void FillSpare(SimReport& reply, int first) const;

    bool InLoader() const { return loader_; }
    bool HasFirmware() const { return firmware_; }
    bool ProgrammingOpen() const { return programming_; }
    bool Booted() const { return booted_; }
    uint32_t ShotCounter() const { return shotCounter_; }
    uint8_t FlashByte(uint32_t address) const;
    const std::map<uint32_t, std::vector<uint8_t>>& FlashBlocks() const { return flash_; }
    const std::vector<std::vector<uint8_t>>& CodeLog() const { return codeLog_; }

private:
    SimReport ShortCommand(const uint8_t* request);
    SimReport LongCommand(const uint8_t* request);
    bool IsUpload(const uint8_t* request) const;
    void Identify(SimReport& reply) const;
    void BootFirmware(SimReport& reply);
    void CompleteProgramming();
    void AccessShotCounter(const uint8_t* request, SimReport& reply);
    void Program(uint32_t address, uint8_t value);
    std::vector<uint8_t>& Block(uint32_t blockAddress);

    const SimConfig& config_;
    bool loader_ = false;
    bool firmware_ = true;
    bool programming_ = false;
    bool codeSinceInit_ = false;
    bool booted_ = false;  // left the loader by BootFirmware
    uint32_t shotCounter_ = 0;
    std::map<uint32_t, std::vector<uint8_t>> flash_;
    std::vector<std::vector<uint8_t>> codeLog_;
};
