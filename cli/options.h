// velkor's command line: the command, its file or count, and how to reach
// the board.
#pragma once

#include <cstdint>
#include <string>

enum class Command { kDetect, kProgram, kInspect, kShots, kPressure };

struct Options {
    Command command = Command::kDetect;
    std::string sim;
    std::string device;
    double wait = 0;
    bool verbose = false;
    std::string file;
    bool each = false;  // program --each: board after board
    // shots --set N.
    bool setCount = false;
    uint32_t newCount = 0;
    bool passwordStdin = false;
    std::string log;  // --log FILE, empty for none
};

// Parses argv into options. False when the run ends here: --help and
// --version print their text and status is 0; a usage error is shown and
// status is kExitUsage.
bool ParseOptions(int argc, char** argv, Options& options, int& status);

// "velkor: message" on stderr.
void Fail(const std::string& message);
