#include "res/DialogTemplate.h"

#include "res/Version.h"

#include "res/Resource.h"

namespace {

using enum ControlClass;
constexpr ControlStyle CHECK = BS_PUSHLIKE | BS_AUTOCHECKBOX;
constexpr ControlStyle RADIO = BS_PUSHLIKE | BS_AUTORADIOBUTTON;

const ControlTemplate mainControls[] = {
    {IDC_SPECTRUM, "IDC_SPECTRUM", Static, "", SS_BLACKRECT | SS_NOTIFY, 1, 5, 179, 187},
    {IDC_STATIC, "", Static, "22.5 (KHz)", SS_LEFT | WS_GROUP, 147, 192, 33, 8},
    {IDC_SCOPE, "IDC_SCOPE", Static, "", SS_BLACKRECT | SS_NOTIFY, 194, 5, 111, 84},
    {IDC_STATIC, "", Static, "10 (Hz)", SS_LEFT | WS_GROUP, 1, 192, 22, 8},
    {IDC_STATIC, "", Static, "0", SS_CENTER | WS_GROUP, 180, 20, 11, 8},
    {IDC_STATIC, "", Static, "-96", SS_CENTER | WS_GROUP, 180, 168, 11, 8},
    {IDC_STATIC, "", Button, "", BS_GROUPBOX, 0, 0, 192, 201},
    {IDC_STATIC, "", Button, "", BS_GROUPBOX, 193, 0, 114, 120},
    {IDC_MEMORY, "IDC_MEMORY", Button, "Memory", CHECK | WS_TABSTOP, 196, 129, 33, 10},
    {IDC_AFC, "IDC_AFC", Button, "AFC", CHECK | WS_TABSTOP, 196, 139, 33, 10},
    {IDC_FREQUENCY_LABEL, "IDC_FREQUENCY_LABEL", Static, "Frequency (Hz):", SS_LEFT | WS_GROUP, 195,
     108, 50, 9},
    {IDC_FREQUENCY, "IDC_FREQUENCY", Edit, "", ES_LEFT | WS_BORDER | WS_TABSTOP, 247, 108, 58, 10},
    {IDC_OFFSET, "IDC_OFFSET", ScrollBar, "", SBS_HORZ, 194, 89, 111, 8},
    {IDC_SIGNAL_GROUP, "IDC_SIGNAL_GROUP", Button, "Signal:", BS_GROUPBOX | WS_GROUP, 276, 120, 31,
     41},
    {IDC_LEVEL_0DB, "IDC_LEVEL_0DB", Button, "0dB", RADIO | WS_GROUP | WS_TABSTOP, 279, 129, 25,
     10},
    {IDC_LEVEL_20DB, "IDC_LEVEL_20DB", Button, "-20dB", RADIO | WS_TABSTOP, 279, 139, 25, 10},
    {IDC_LEVEL_OFF, "IDC_LEVEL_OFF", Button, "No", RADIO | WS_TABSTOP, 279, 149, 25, 10},
    {IDC_STATIC, "", Static, "-20", SS_CENTER | WS_GROUP, 180, 51, 11, 8},
    {IDC_STATIC, "", Static, "Frequency ", SS_CENTER | WS_GROUP, 65, 192, 44, 8},
    {IDC_STATIC, "", Static, "dB", SS_CENTER | WS_GROUP, 180, 5, 10, 8},
    {IDC_STATIC, "", Button, "Function:", BS_GROUPBOX, 193, 120, 82, 41},
    {IDC_STATIC, "", Button, "", BS_GROUPBOX, 192, 158, 115, 43},
    {IDC_STATIC, "", Static, "IDR_MAINFRAME", SS_ICON, 201, 171, 20, 20},
    {IDC_REMOVE_DC, "IDC_REMOVE_DC", Button, "-||-", CHECK | WS_TABSTOP, 196, 149, 33, 10},
    {IDC_STOP, "IDC_STOP", Button, "Stop", CHECK | WS_DISABLED, 238, 129, 33, 10},
    {IDC_NOSE, "IDC_NOSE", Button, "Nose", CHECK | WS_DISABLED, 238, 139, 33, 10},
    {IDC_HARMONIC, "IDC_HARMONIC", Button, "Harmonic", CHECK | WS_DISABLED, 238, 149, 33, 10},
    {IDC_STATIC, "", Static, "Power (dB):", SS_LEFT | WS_GROUP, 195, 98, 45, 9},
    {IDC_POWER, "IDC_POWER", Static, "Power", SS_LEFT | WS_BORDER | WS_GROUP, 247, 98, 58, 9},
};

const ControlTemplate aboutControls[] = {
    {IDC_STATIC, "", Static, "IDR_MAINFRAME", SS_ICON, 10, 10, 20, 20},
    {IDC_STATIC, "", Static,
     "Tembrix " TEMBRIX_VERSION ", a measuring instrument for a computer's sound card.", SS_LEFT,
     40, 10, 260, 8},
    {IDC_STATIC, "", Static, "It plays a test tone, shows the spectrum and the oscilloscope",
     SS_LEFT, 40, 20, 260, 8},
    {IDC_STATIC, "", Static, "of what comes back, and sweeps the tone to draw the frequency",
     SS_LEFT, 40, 30, 260, 8},
    {IDC_STATIC, "", Static, "response of the card, a cable or an amplifier between them.", SS_LEFT,
     40, 40, 260, 8},
    {IDC_STATIC, "", Static, "Copyright (C) 2026 the Tembrix developers.", SS_LEFT, 40, 55, 260, 8},
};

} // namespace

const DialogTemplate MainDialogTemplate = {
    IDD_MAIN, "Tembrix®", 307, 201, 8, "MS Sans Serif", mainControls,
};

const DialogTemplate AboutDialogTemplate = {
    IDD_ABOUTBOX, "About Tembrix®", 313, 76, 8, "MS Sans Serif", aboutControls,
};
