// Runs a complete frequency-response sweep in the whole program, started from
// the first displayed block, and ends the program when the sweep ends.
#pragma once

#include "tests/harness/AppRunner.h"

#include <vector>

class CMainDlg;

// The program's main dialog while it runs.
CMainDlg* RunningDialog();

struct SweepMeasurement {
    double f;
    double peakDb;
    double levelDb;
};

struct SweepRun {
    std::vector<SweepMeasurement> points;
    bool ended = false; // by itself, within the block limit
    double seconds = 0;
    RunResult run;
};

// The tone's level as the playback thread plays "-20dB": 6554/65536 of
// 32767/32768, in dB of full scale.
double Minus20dBToneDb();

// At most `blockLimit` displayed blocks.
SweepRun RunSweep(int blockLimit);
