// The program icon IDR_MAINFRAME: a sine over a spectrum, 32 x 32 and
// 16 x 16 pixels in the 16 colours of the classic palette, as XPM text.
#pragma once

extern const char* const MainIcon32[];
extern const char* const MainIcon16[];
