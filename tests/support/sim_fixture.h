// Puts a simulated board behind the HID seam for one test. The window's call
// list also gets every report the host wrote ("> C2": the command byte of a
// short report; "> long") and every settle pause ("pause 500"), so a test sees
// the screen and the wire in the one order they happened.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "sim/sim_setup.h"
#include "support/recording_window.h"
#include "update/sequencer.h"

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override { Reset(SimConfig()); }

    void TearDown() override { setup.reset(); }

    // A fresh board with this configuration, a fresh window and sequencer.
    void Reset(SimConfig config)
    {
        config.readTimeoutMs = 50;
        setup.reset();
        board = std::make_unique<SimBoard>(config);
        window = RecordingWindow();
        log = &window.calls;
        const auto pause = [](uint32_t ms) { log->push_back("pause " + std::to_string(ms)); };
        const auto sent = [](bool written, const uint8_t* bytes, int length, bool ok) {
            char line[8];
            std::snprintf(line, sizeof line, "> %02X", bytes[1]);
            if (written && ok)
                log->push_back(length > 9 ? "> long" : line);
        };
        setup.emplace(board.get(), pause, 0, &kSimHidBackend, sent);
        ProgrammingState = -1;
        ProgrammingInitialised = 0;
    }

    // Where the seam's hooks, plain functions, write: the current window's calls.
    inline static std::vector<std::string>* log = nullptr;

    RecordingWindow window;
    std::unique_ptr<SimBoard> board;
    std::optional<SimLinkSetup> setup;
};
