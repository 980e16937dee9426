// The --virtual-card=SETTINGS option: the devices under test that the virtual
// card's two channels loop through, written as comma-separated key=value
// pairs, e.g. "gain=-6,highpass=100/2,lowpass=off,noise=-90". A channel's
// key sets both channels, or one as left.KEY=VALUE or right.KEY=VALUE.
// A channel's keys, each optional:
//   gain=DB            the gain
//   highpass=HZ/ORDER  Butterworth high-pass, or highpass=off
//   lowpass=HZ/ORDER   Butterworth low-pass, or lowpass=off
//   noise=DBFS         white noise RMS re the RMS of a full-scale sine, or off
//   hum=HZ/DBFS        mains hum line, its amplitude re full scale, or off
//   h2=DB, h3=DB       harmonics re the fundamental of a full-scale sine, or off
//   latency=FRAMES     delay, 0 to 8192 frames
//   wire=on            a bit-exact wire without delay; keys after it may
//                      still change it (right.wire=on,right.latency=10)
// The whole card's keys, never with a prefix:
//   crosstalk=DB       each input also hears the other channel's device
//                      output that far down (at most 0 dB), or off
//   drift=PPM          the input's clock runs off the output's, -1000 to 1000
//                      parts per million: a tone played at f is recorded at
//                      f * (1 + PPM * 1e-6); 0 (the default): one clock
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

// Applies `settings` to `card`, pair after pair from the left; keys not
// given keep the card's value, and an empty string changes nothing. A
// prefixed key may refine the same key given without a prefix before it
// (gain=-6,right.gain=0), but no pair may undo an earlier one: a key given
// again for a channel, a key without a prefix after a prefixed one, or a wire
// after a key of its channel is refused. Returns false with a one-line reason
// naming the offending pair in `error`, and `card` unchanged, for anything
// refused.
bool ApplyVirtualCardSettings(std::string_view settings, CardModel& card, std::string& error);
// The same for one channel's device: prefixes and crosstalk are refused.
bool ApplyVirtualCardSettings(std::string_view settings, DeviceModel& model, std::string& error);

// The card as settings that ApplyVirtualCardSettings takes back (any card
// that it could have produced): every device key, in the order above, for
// both channels, then for the channel that differs what differs, as prefixed
// keys or as a wire and what differs from that (whichever is shortest); the
// crosstalk only when on, the drift only when not 0, the faults only when
// there are any. Channels alike take no prefix. Numbers are in their shortest
// exact form. A filter or hum that is off is written "off", so its unused
// frequency is not carried over. The noise goes through a conversion each way
// and comes back to within about 1e-14 dB rather than bit for bit. The sample
// rate and the noise seeds are not settings and are left out.
std::string DescribeVirtualCard(const CardModel& card);
