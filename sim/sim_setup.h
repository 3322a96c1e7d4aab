// A simulated board behind the HID seam, with the link set up around it.
#pragma once

#include "link/link_setup.h"
#include "sim/sim_board.h"

// Installs board and the link settings (the sim backend unless another is
// given); when it goes, the link set-up and the board installed before it are
// back. The board itself stays the caller's.
class SimLinkSetup {
public:
    explicit SimLinkSetup(SimBoard* board, BoardSleepFn sleep = nullptr, int deadlineMs = 0,
                          const HidBackend* backend = &kSimHidBackend, ReportObserverFn observer = nullptr);
    SimLinkSetup(const SimLinkSetup&) = delete;
    SimLinkSetup& operator=(const SimLinkSetup&) = delete;

private:
    struct BoardSwap {
        explicit BoardSwap(SimBoard* board);
        ~BoardSwap();
        SimBoard* previous;
    };
    // Declared first, so the board goes back after the backend.
    BoardSwap board_;
    LinkSetup link_;
};
