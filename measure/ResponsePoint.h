// One point of a measured frequency response, as the sweep keeps it and as
// the response files hold it.
#pragma once

struct ResponsePoint {
    double frequencyHz;  // the generator's frequency
    double levelDb;      // the level stored: the peak less the window's gain
    double peakDb;       // the generator bin's largest level over the counted blocks
    double windowGainDb; // the window's own gain at the tone's offset from its bin
    int blocks;          // blocks recorded at this frequency, stale and noisy ones included
};
