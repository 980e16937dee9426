// Runs the whole program in the test process: start-up, the main dialog and
// shutdown, ending the dialog like Esc once enough blocks have been shown.
#pragma once

#include "platform/MessageBox.h"
#include "platform/WinTypes.h"
#include "sim/DeviceModel.h"
#include "sim/VirtualCard.h"

#include <chrono>
#include <functional>
#include <vector>

// RMS of a sine of amplitude 32767/32768, in dB of full scale.
constexpr double FullScaleSineDb = -3.0103;

struct ShownBlock {
    WPARAM dropped;
    double rmsDb;     // of SampleBlock, re full scale
    double frequency; // of the strongest sine, Hz
    std::chrono::steady_clock::time_point arrived;
};

struct RunResult {
    std::vector<ShownBlock> blocks;
    std::vector<platform::BoxRecord> boxes;
    DWORD outputThreadId = 0;
    DWORD inputThreadId = 0;
};

// Selects the virtual card, reset, with this model and clock.
void UseVirtualCard(const DeviceModel& model, VirtualCard::Clock clock);

// `onBlock` (optional) runs inside the display cycle of each shown block.
RunResult RunProgram(int blocks, std::function<void(const ShownBlock&)> onBlock = nullptr);
