// Puts a simulated board behind the HID seam for one test and replaces the
// board's settle pauses with a record of them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "link/board_link.h"
#include "link/hid.h"
#include "sim/sim_board.h"
#include "update/sequencer.h"

class SimFixture : public ::testing::Test {
protected:
    static constexpr int kShortTimeoutMs = 50;

    void SetUp() override { Reset(SimConfig()); }

    void TearDown() override
    {
        SetHidBackend(nullptr);
        InstallSimBoard(nullptr);
        SetBoardSleep(nullptr);
    }

    // A fresh board with this configuration, and a fresh sequencer state.
    void Reset(SimConfig config)
    {
        config.readTimeoutMs = kShortTimeoutMs;
        board = std::make_unique<SimBoard>(config);
        InstallSimBoard(board.get());
        SetHidBackend(&kSimHidBackend);
        Pauses().clear();
        SetBoardSleep([](uint32_t ms) { Pauses().push_back(ms); });
        ProgrammingState = -1;
        ProgrammingInitialised = 0;
    }

    // The reports the host wrote, in order.
    std::vector<std::vector<uint8_t>> Written() const
    {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& e : board->Trace())
            if (e.fromHost)
                out.push_back(e.bytes);
        return out;
    }

    // Command bytes (byte 1) of the reports the host wrote.
    std::vector<int> Commands() const
    {
        std::vector<int> out;
        for (const auto& r : Written())
            out.push_back(r.size() > 1 ? r[1] : -1);
        return out;
    }

    static std::vector<uint32_t>& Pauses()
    {
        static std::vector<uint32_t> pauses;
        return pauses;
    }

    std::unique_ptr<SimBoard> board;
};
