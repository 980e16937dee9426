// The --virtual-card=SETTINGS option: the device under test that the virtual
// card loops through, written as comma-separated key=value pairs, e.g.
// "gain=-6,highpass=100/2,lowpass=off,noise=-90". Keys, each optional:
//   gain=DB            the gain
//   highpass=HZ/ORDER  Butterworth high-pass, or highpass=off
//   lowpass=HZ/ORDER   Butterworth low-pass, or lowpass=off
//   noise=DBFS         white noise RMS re the RMS of a full-scale sine, or off
//   hum=HZ/DBFS        mains hum line, its amplitude re full scale, or off
//   h2=DB, h3=DB       harmonics re the fundamental of a full-scale sine, or off
//   latency=FRAMES     delay, 0 to 8192 frames
// and, for tests, faults once that many seconds of audio have passed:
//   die-after=SECONDS       both streams die (the device layer opens them again)
//   overflow-after=SECONDS  the input overflows, losing a period
// and a sound server that is slow to start recording:
//   start-delay=SECONDS     the input's first recording comes that many real
//                           seconds after each open (0 to 60)
#pragma once

#include "sim/DeviceModel.h"

#include <string>
#include <string_view>

// Applies `settings` to `model`; keys not given keep the model's value, and an
// empty string changes nothing. Returns false with a one-line reason naming
// the offending pair in `error`, and `model` unchanged, for anything refused.
bool ApplyVirtualCardSettings(std::string_view settings, DeviceModel& model, std::string& error);

// The model as settings that ApplyVirtualCardSettings takes back (any model
// that it could have produced): every key, in the order above, numbers in their shortest exact
// form; the faults only when there are any. A filter or hum that is off is written "off", so its
// unused frequency is not carried over. The noise goes through a conversion each way and comes back
// to within about 1e-14 dB rather than bit for bit. The sample rate and the noise seed are not
// settings and are left out.
std::string DescribeVirtualCard(const DeviceModel& model);
