// velkor: the update utility's jobs from the command line, against a board
// on USB or a simulated one.
#include "cli/console.h"
#include "cli/interrupts.h"
#include "cli/options.h"
#include "cli/run.h"
#include "cli/terminal.h"

int main(int argc, char** argv)
{
    UseUtf8(argc, argv);
    StartInterruptWatch();
    Options options;
    int status = 0;
    if (!ParseOptions(argc, argv, options, status))
        return CheckedOutput(status);
    status = Run(options);
    // An update's result is the board it leaves, not its progress lines.
    return options.command == Command::kProgram ? status : CheckedOutput(status);
}
