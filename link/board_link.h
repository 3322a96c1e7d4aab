// Report exchanges with the board: one request written, replies read until the
// awaited reply code arrives or a read fails. Replies with other codes are
// dropped on the way. Only the comms worker calls this, one exchange at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kBoardVendorId = 0x04D8;
constexpr uint16_t kBoardProductId = 0xFC31;

constexpr int kShortReportSize = 9;
constexpr int kLongReportSize = 73;
constexpr int kLongPayloadMax = 72;

// Long exchange results that are not a reply status.
constexpr int32_t kLongTooLong = -1;
constexpr int32_t kLongWriteFailed = 1;
constexpr int32_t kLongReadFailed = 2;

// What OpenBoard returns when it opened nothing; such a handle is never
// closed.
constexpr int32_t kOpenNoBoard = -1;        // none attached, it could not be opened, or
                                            // what its node opened is another device
constexpr int32_t kOpenBoardBusy = -2;      // another program has it open
constexpr int32_t kOpenSeveralBoards = -3;  // more than one attached and none chosen
constexpr int32_t kOpenLockUnsafe = -4;     // its lock could be another user's trap

// The paths of the attached boards, in the system's order.
std::vector<std::string> ListBoards();

// Opens the board at path, or with an empty path the only one attached, and
// takes its lock (board_lock.h) for as long as the handle is open. A path
// that is not listed, as given or resolved (board_path.h), opens nothing; a
// board another program holds is not touched.
int32_t OpenBoard(const std::string& path);
void CloseBoard(int32_t handle);

// How long an exchange waits for its reply, from the write of its request,
// however many other reports arrive meanwhile; then it ends as a failed read.
// Tests and simulated boards shorten it; 0 restores kHidReadTimeoutMs.
void SetExchangeDeadlineMs(int milliseconds);
int ExchangeDeadlineMs();

// report holds the request (byte 0 = 0, byte 1 = command code) and receives
// the matching reply. Returns 0 when it arrived, or the negative library result
// of a failed write or read.
int32_t ShortExchange(int32_t handle, uint8_t report[kShortReportSize], uint8_t awaitedCode);

// The identify variant: the request goes from its own buffer; once written,
// reply is cleared and receives the replies, so bytes the board does not send
// read as 0.
int32_t ShortExchangeInto(int32_t handle, const uint8_t request[kShortReportSize],
                          uint8_t reply[kShortReportSize], uint8_t awaitedCode);

// Sends payload (at most 72 bytes) from byte 1 of a zero-filled long report and
// reads until byte 1 of a reply is one of the accepted codes. Returns -1 (too
// long, nothing sent), 1 (write failed), 2 (read failed) or the reply status.
int32_t LongExchange(int32_t handle, const uint8_t* payload, int length,
                     const uint8_t* acceptedCodes, int acceptedCount);

// A request with only the code set, awaiting the same code. Returns the reply
// status (0 to 255) or the negative library result.
int32_t SendSimpleCommand(int32_t handle, uint8_t code);

// A long exchange with one accepted reply code.
int32_t SendLongReport(int32_t handle, const uint8_t* payload, int length, uint8_t replyCode);

// The pauses after BootFirmware and EnterLoader go through this, so tests can
// run them without waiting. nullptr restores the real sleep.
using BoardSleepFn = void (*)(uint32_t milliseconds);
void SetBoardSleep(BoardSleepFn fn);
BoardSleepFn CurrentBoardSleep();
void BoardSleep(uint32_t milliseconds);

// Sees every report written and read, for a verbose front end. nullptr turns
// it off. written is false for reports read from the board; ok is false when
// the library call failed (bytes then hold what was attempted or nothing).
// Set through LinkSetup, for as long as the run that wants it.
using ReportObserverFn = void (*)(bool written, const uint8_t* bytes, int length, bool ok);
void SetReportObserver(ReportObserverFn fn);
ReportObserverFn CurrentReportObserver();
