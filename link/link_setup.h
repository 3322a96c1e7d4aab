// The HID backend, the exchange deadline, the board sleep and the report
// observer, set together for as long as a program, a test or a run needs them.
#pragma once

#include "link/board_link.h"
#include "link/hid.h"

struct LinkSettings {
    const HidBackend* backend = nullptr;
    // 0: kHidReadTimeoutMs.
    int deadlineMs = 0;
    // nullptr: the real sleep.
    BoardSleepFn sleep = nullptr;
    // nullptr: no one sees the reports.
    ReportObserverFn observer = nullptr;
};

// Installs the settings; when it goes, the ones in place before it are back.
class LinkSetup {
public:
    explicit LinkSetup(const LinkSettings& settings);
    ~LinkSetup();

private:
    // Restored once, by the one object that saved them.
    LinkSetup(const LinkSetup&) = delete;
    LinkSetup& operator=(const LinkSetup&) = delete;

    const HidBackend* previousBackend_;
    int previousDeadlineMs_;
    BoardSleepFn previousSleep_;
    ReportObserverFn previousObserver_;
};
