// A sine of known frequency plus an offset, fitted to a block by least
// squares: x[i] ~ offset + cosine cos(wi) + sine sin(wi), w = 2 pi f / 44100.
// The sweep uses the offset; the distortion measurements use what is left
// when the whole fit is taken away.
#pragma once

struct ToneFit {
    double offset;
    double cosine;
    double sine;

    // The sine's peak and its mean square (peak^2 / 2).
    double Amplitude() const;
    double Power() const;
};

// A tone at 0 Hz or at half the rate cannot be told from an offset: then the
// offset is the block's mean and the sine is zero.
ToneFit FitTone(const double* block, int n, double frequency);

// block[i] -= the fitted offset and sine: the residual, all that is not the
// tone.
void SubtractTone(double* block, int n, double frequency, const ToneFit& fit);
