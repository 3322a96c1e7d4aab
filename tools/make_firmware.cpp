// make_firmware: writes a firmware file (*.enc) from a readable description,
// so example and test files are never edited by hand.
//
//   make_firmware DESCRIPTION OUTPUT          write OUTPUT
//   make_firmware --check DESCRIPTION FILE    exit 1 unless FILE is what
//                                             DESCRIPTION makes
//
// A description has one directive per line; '#' starts a comment.
//   code <hex bytes>                  one code block, 1 to 72 bytes
//   data <address> <hex bytes>        data written from address
//   fill <address> <count> <pattern>  count bytes from address; pattern is a
//                                     byte (0xA5), "ramp" (each byte the low
//                                     byte of its address) or "noise"
// Hex bytes are pairs of digits, spaces between them optional. Numbers are
// decimal or 0x-prefixed hex. Data is cut into blocks of at most 64 bytes
// that never cross a 4096-byte flash block, so data starting on a flash
// block boundary is erased before it is written.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/crc16.h"
#include "link/hex_digit.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kCodeBlockMax = 72;
constexpr uint32_t kDataBlockMax = 64;
constexpr uint32_t kFlashBlock = 4096;
constexpr uint64_t kAddressLimit = 1u << 24;

struct DescriptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

uint64_t ParseNumber(const std::string& text, const char* what)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const size_t start = hex ? 2 : 0;
    if (text.size() == start || text.size() - start > 10)
        throw DescriptionError(std::string("expected ") + what + ", got \"" + text + "\"");
    uint64_t value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0 || (!hex && digit > 9))
            throw DescriptionError(std::string("expected ") + what + ", got \"" + text + "\"");
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    }
    return value;
}

Bytes ParseHex(const std::vector<std::string>& words, size_t first)
{
    Bytes bytes;
    for (size_t w = first; w < words.size(); ++w) {
        const std::string& word = words[w];
        for (size_t i = 0; i < word.size(); i += 2) {
            const int high = HexDigit(word[i]);
            const int low = i + 1 < word.size() ? HexDigit(word[i + 1]) : -1;
            if (high < 0 || low < 0)
                throw DescriptionError("expected hex bytes (pairs of digits), got \"" + word + "\"");
            bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        }
    }
    return bytes;
}

// Any fixed function of the address will do: the same bytes on every run,
// but none of the regularity that would hide a misplaced block.
uint8_t Noise(uint32_t address)
{
    uint32_t x = address * 2654435761u + 0x9E3779B9u;
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    return static_cast<uint8_t>(x >> 8);
}

void Record(Bytes& out, uint8_t token, const Bytes& payload)
{
    out.push_back(token);
    out.push_back(static_cast<uint8_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
}

void DataBlocks(Bytes& out, uint64_t address, const Bytes& data)
{
    if (data.empty())
        throw DescriptionError("no data bytes");
    if (address + data.size() > kAddressLimit)
        throw DescriptionError("data reaches past the 24-bit address range");
    size_t done = 0;
    while (done < data.size()) {
        const uint32_t at = static_cast<uint32_t>(address + done);
        const size_t room = kFlashBlock - at % kFlashBlock;
        const size_t n = std::min({static_cast<size_t>(kDataBlockMax), room, data.size() - done});
        // Two bytes the board does not interpret, the length, the address
        // low byte first, the data, then the CRC of all of it, low byte first.
        Bytes payload = {0, 0, static_cast<uint8_t>(n), static_cast<uint8_t>(at), static_cast<uint8_t>(at >> 8),
                         static_cast<uint8_t>(at >> 16)};
        payload.insert(payload.end(), data.begin() + static_cast<std::ptrdiff_t>(done),
                       data.begin() + static_cast<std::ptrdiff_t>(done + n));
        const uint16_t crc = Crc16(payload.data(), payload.size());
        payload.push_back(static_cast<uint8_t>(crc));
        payload.push_back(static_cast<uint8_t>(crc >> 8));
        Record(out, 'D', payload);
        done += n;
    }
}

Bytes FillBytes(uint64_t address, uint64_t count, const std::string& pattern)
{
    if (count == 0 || address + count > kAddressLimit)
        throw DescriptionError("fill count must be 1 or more and stay within the 24-bit address range");
    uint8_t fixed = 0;
    const bool isByte = pattern != "ramp" && pattern != "noise";
    if (isByte) {
        if (pattern.size() < 3 || pattern[0] != '0' || (pattern[1] != 'x' && pattern[1] != 'X'))
            throw DescriptionError("expected a pattern: a byte like 0xA5, \"ramp\" or \"noise\", got \"" + pattern + "\"");
        const uint64_t value = ParseNumber(pattern, "a byte like 0xA5");
        if (value > 0xFF)
            throw DescriptionError("fill byte " + pattern + " is larger than 0xFF");
        fixed = static_cast<uint8_t>(value);
    }
    Bytes bytes(count);
    for (uint64_t i = 0; i < count; ++i) {
        const uint32_t at = static_cast<uint32_t>(address + i);
        bytes[i] = isByte ? fixed : pattern == "ramp" ? static_cast<uint8_t>(at) : Noise(at);
    }
    return bytes;
}

void Directive(Bytes& out, const std::vector<std::string>& words)
{
    const std::string& name = words[0];
    if (name == "code") {
        const Bytes code = ParseHex(words, 1);
        if (code.empty() || code.size() > kCodeBlockMax)
            throw DescriptionError("a code block holds 1 to 72 bytes, this one " + std::to_string(code.size()));
        Record(out, 'E', code);
    } else if (name == "data") {
        if (words.size() < 3)
            throw DescriptionError("expected: data <address> <hex bytes>");
        DataBlocks(out, ParseNumber(words[1], "an address"), ParseHex(words, 2));
    } else if (name == "fill") {
        if (words.size() != 4)
            throw DescriptionError("expected: fill <address> <count> <pattern>");
        const uint64_t address = ParseNumber(words[1], "an address");
        DataBlocks(out, address, FillBytes(address, ParseNumber(words[2], "a count"), words[3]));
    } else {
        throw DescriptionError("unknown directive \"" + name + "\" (expected code, data or fill)");
    }
}

// Returns false after printing one line naming the place of the problem.
bool Build(const std::string& path, Bytes& out)
{
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "make_firmware: cannot open %s\n", path.c_str());
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream split(line);
        const std::vector<std::string> words{std::istream_iterator<std::string>(split),
                                             std::istream_iterator<std::string>()};
        if (words.empty())
            continue;
        try {
            Directive(out, words);
        } catch (const DescriptionError& e) {
            std::fprintf(stderr, "make_firmware: %s:%d: %s\n", path.c_str(), number, e.what());
            return false;
        }
    }
    if (in.bad()) {
        std::fprintf(stderr, "make_firmware: cannot read %s\n", path.c_str());
        return false;
    }
    return true;
}

bool ReadAll(const std::string& path, Bytes& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int Check(const std::string& description, const std::string& file)
{
    Bytes expected;
    if (!Build(description, expected))
        return 1;
    Bytes actual;
    if (!ReadAll(file, actual)) {
        std::fprintf(stderr, "make_firmware: cannot read %s\n", file.c_str());
        return 1;
    }
    if (actual == expected)
        return 0;
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    std::fprintf(stderr,
                 "make_firmware: %s differs from what %s describes (first at byte %zu); regenerate it with "
                 "make_firmware %s %s\n",
                 file.c_str(), description.c_str(), at, description.c_str(), file.c_str());
    return 1;
}

int Write(const std::string& description, const std::string& file)
{
    Bytes bytes;
    if (!Build(description, bytes))
        return 1;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_firmware: cannot write %s\n", file.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "--check")
        return Check(args[1], args[2]);
    if (args.size() == 2 && args[0].rfind("--", 0) != 0)
        return Write(args[0], args[1]);
    std::fprintf(stderr,
                 "usage: make_firmware DESCRIPTION OUTPUT\n"
                 "       make_firmware --check DESCRIPTION FILE\n");
    return 2;
}
