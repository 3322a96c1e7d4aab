#include "cli/options.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "cli/console.h"
#include "velkor_version.h"

namespace {

constexpr const char* kVersion = "velkor " VELKOR_VERSION_TEXT;

const char kFooter[] = R"(Examples:
  velkor detect                      which board is attached
  velkor program firmware.enc        program a firmware file into the board
  velkor inspect firmware.enc        check a firmware file without a board
  velkor shots                       show the shot counter (asks for the service password)
  velkor shots --set 0               set the shot counter
  echo "$PW" | velkor pressure --password-stdin
                                     show the raw pressure values
  velkor --sim demo program examples/demo.enc
                                     try it on a simulated board
  velkor --wait 30 detect            wait up to 30 s for a board to be plugged in
  velkor --log bench.jsonl program firmware.enc
                                     program, and append a record of it to
                                     bench.jsonl
  velkor --device /dev/hidraw3 program firmware.enc
                                     program that board of several (velkor
                                     detect lists them)
  velkor program --each firmware.enc
                                     program every board plugged in, one
                                     after another, until Ctrl+C

Exit status: 0 success, 1 the job reported an error (or inspect found a
problem, or the output could not be written), 2 usage error, or several
boards attached and no --device, 3 no board could be opened, or it is in use
by another program, 4 program updated the board but the booted board did not
identify itself (updated, but not confirmed). program --each: 0 every board
updated, 4 none failed but some not confirmed, 1 otherwise (none at all
included).)";

// Digits only, 0 to 4294967295: the counter is an unsigned 32-bit number.
bool ParseCount(const std::string& text, uint32_t& count)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long value = std::stoull(text);
    if (value > 0xFFFFFFFFull)
        return false;
    count = static_cast<uint32_t>(value);
    return true;
}

bool ParseSeconds(const std::string& text, double& seconds)
{
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && seconds >= 0 && seconds <= 86400;
}

// One line for a parse error, whatever CLI11 made of it.
std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// The subcommands, for setting their footers and reading which one ran.
struct Commands {
    CLI::App* detect;
    CLI::App* program;
    CLI::App* inspect;
    CLI::App* shots;
    CLI::App* pressure;
    CLI::Option* set;
};

// The app itself and the options before the command.
void AddGlobalOptions(CLI::App& app, Options& options)
{
    app.name("velkor");
    // CLI11 on Windows would read a path like /data/x.enc as an option
    // "/data"; options are spelled the same on every platform. Set before the
    // subcommands, which copy it.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", kVersion);
    app.require_subcommand(1);
    app.fallthrough();

    app.add_option("--sim", options.sim,
                   "Use a simulated board: \"demo\" or a scenario file (JSON)")
        ->type_name("SCENARIO");
    app.add_option("--device", options.device,
                   "Use only the board at PATH, one of those velkor detect lists")
        ->type_name("PATH");
    app.add_option("--wait", options.wait,
                   "Wait up to SECONDS for a board to appear, and to be free, before starting")
        ->type_name("SECONDS")
        ->check([](const std::string& text) {
            double seconds;
            return ParseSeconds(text, seconds) ? std::string() : "expected a number of seconds from 0 to 86400";
        });
    app.add_option("--log", options.log,
                   "Append one JSON line per job to FILE (JSON Lines): the board, the file, the outcome")
        ->type_name("FILE");
    app.add_flag("--verbose", options.verbose, "Show every report written to and read from the board on stderr");
}

Commands AddCommands(CLI::App& app, Options& options, std::string& newCount)
{
    Commands c{};
    c.detect = app.add_subcommand("detect", "Show which board is attached (exit 0 identified, 1 unidentified, 3 none)");
    c.program = app.add_subcommand("program", "Program a firmware file (*.enc) into the board");
    c.program->add_option("FILE", options.file, "The firmware file")->required();
    c.program->add_flag("--each", options.each,
                        "Board after board: program each board plugged in, one at a time, until Ctrl+C");
    c.inspect = app.add_subcommand("inspect", "List a firmware file's records and any problem an update would refuse it for; touches no board");
    c.inspect->add_option("FILE", options.file, "The firmware file")->required();
    c.shots = app.add_subcommand("shots", "Show or set the marker's shot counter (service password)");
    c.set = c.shots->add_option("--set", newCount, "Set the counter to N (0 to 4294967295)")
                ->type_name("N")
                ->check([](const std::string& text) {
                    uint32_t count;
                    return ParseCount(text, count) ? std::string()
                                                   : "expected a whole number from 0 to 4294967295";
                });
    c.pressure = app.add_subcommand("pressure", "Show the raw pressure values (service password)");
    for (CLI::App* sub : {c.shots, c.pressure})
        sub->add_flag("--password-stdin", options.passwordStdin, "Read the service password as one line from stdin");

    // Set last: subcommands created before it keep their own footers.
    app.footer(kFooter);
    c.detect->footer("Example:\n  velkor detect");
    c.program->footer("Examples:\n  velkor program firmware.enc\n  velkor --wait 30 program firmware.enc\n"
                      "  velkor program --each firmware.enc   board after board; --wait N ends it after N s without one");
    c.inspect->footer("Example:\n  velkor inspect firmware.enc");
    c.shots->footer("Examples:\n  velkor shots\n  velkor shots --set 0\n  echo \"$PW\" | velkor shots --password-stdin");
    c.pressure->footer("Example:\n  velkor pressure");
    return c;
}

Command Parsed(const Commands& c)
{
    if (c.program->parsed())
        return Command::kProgram;
    if (c.inspect->parsed())
        return Command::kInspect;
    if (c.shots->parsed())
        return Command::kShots;
    if (c.pressure->parsed())
        return Command::kPressure;
    return Command::kDetect;
}

}  // namespace

void Fail(const std::string& message)
{
    std::fprintf(stderr, "velkor: %s\n", message.c_str());
}

bool ParseOptions(int argc, char** argv, Options& options, int& status)
{
    CLI::App app{"Velkor Update Utility: detects, programs and services the marker's control board over USB."};
    AddGlobalOptions(app, options);
    std::string newCount;
    const Commands commands = AddCommands(app, options, newCount);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            // --help, --version: through stdio, whose errors the end of the
            // run checks.
            std::ostringstream text;
            status = app.exit(e, text);
            std::fputs(text.str().c_str(), stdout);
            return false;
        }
        // CLI11 takes an unknown command for a stray argument and only
        // misses the command; the word is the better clue.
        const std::vector<std::string> stray = app.remaining();
        if (app.get_subcommands().empty() && !stray.empty())
            Fail("unknown command \"" + stray.front() + "\" (see velkor --help)");
        else
            Fail(OneLine(e.what()) + " (see velkor --help)");
        status = kExitUsage;
        return false;
    }
    options.command = Parsed(commands);
    if (options.each && !options.device.empty()) {
        Fail("--device does not combine with --each, which takes each board that is plugged in (see velkor --help)");
        status = kExitUsage;
        return false;
    }
    options.setCount = commands.set->count() > 0 && ParseCount(newCount, options.newCount);
    return true;
}
