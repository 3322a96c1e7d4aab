#include "sim/sim_setup.h"

SimLinkSetup::BoardSwap::BoardSwap(SimBoard* board) : previous(InstalledSimBoard())
{
    InstallSimBoard(board);
}

SimLinkSetup::BoardSwap::~BoardSwap()
{
    InstallSimBoard(previous);
}

SimLinkSetup::SimLinkSetup(SimBoard* board, BoardSleepFn sleep, int deadlineMs, const HidBackend* backend,
                           ReportObserverFn observer)
    : board_(board), link_(LinkSettings{backend, deadlineMs, sleep, observer})
{
}
