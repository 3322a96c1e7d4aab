#include "cli/password.h"

#include <cstdio>

#include "cli/terminal.h"

namespace {

// One line, read a byte at a time so nothing after it is consumed. The
// line end ("\n" or "\r\n") is not part of the entry.
std::string ReadLine(bool (*readByte)(char&))
{
    std::string line;
    for (;;) {
        char c;
        if (!readByte(c) || c == '\n')
            break;
        // One more than kept, for the '\r' of a "\r\n" line end.
        if (line.size() <= kPasswordMaxChars)
            line += c;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > kPasswordMaxChars)
        line.resize(kPasswordMaxChars);
    return line;
}

}  // namespace

bool ReadPassword(bool fromStdin, std::string& entry, std::string& error)
{
    if (fromStdin) {
        entry = ReadLine(ReadStdinByte);
        return true;
    }
    if (!OpenHiddenEntry(error))
        return false;
    std::fputs("Password: ", stderr);
    std::fflush(stderr);
    entry = ReadLine(ReadHiddenEntryByte);
    CloseHiddenEntry();
    // The Enter that ended the entry was not echoed.
    std::fputs("\n", stderr);
    return true;
}

bool PasswordMatches(const std::string& entry)
{
    return entry == kServicePassword;
}
