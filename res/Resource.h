// Resource identifiers of the dialogs, controls, menus, icon and strings.
#pragma once

constexpr int IDM_ABOUTBOX = 0x0010;
constexpr int IDM_SOUNDCARD = 0x0020;
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDD_MAIN = 102;
constexpr int IDS_SOUNDCARD = 103;
constexpr int IDR_MAINFRAME = 128;
constexpr int IDR_SPECTRUM_MENU = 129;

constexpr int IDC_SCOPE = 1001;
constexpr int IDC_REMOVE_DC = 1004;
constexpr int IDC_STOP = 1005;
constexpr int IDC_NOSE = 1006;
constexpr int IDC_SPECTRUM = 1007;
constexpr int IDC_HARMONIC = 1008;
constexpr int IDC_MEMORY = 1009;
constexpr int IDC_AFC = 1010;
constexpr int IDC_FREQUENCY_LABEL = 1011;
constexpr int IDC_FREQUENCY = 1012;
constexpr int IDC_POWER = 1013;
constexpr int IDC_OFFSET = 1020;
constexpr int IDC_LEVEL_0DB = 1025;
constexpr int IDC_LEVEL_20DB = 1026;
constexpr int IDC_LEVEL_OFF = 1027;
constexpr int IDC_SIGNAL_GROUP = 1028;
constexpr int IDC_STATIC = -1;

constexpr int ID_SPECTRUM_QUASICHEBISHEV = 32771;
constexpr int ID_SPECTRUM_RECTANGLE = 32772;
constexpr int ID_SAVE_RESPONSE = 32773;
constexpr int ID_SAVE_SPECTRUM = 32774;
constexpr int ID_SAVE_PICTURE = 32775;
constexpr int ID_COMPARE_RESPONSE = 32776;
constexpr int ID_CLEAR_COMPARISON = 32777;
constexpr int ID_FAST_RESPONSE = 32778;
constexpr int ID_SAVE_FAST_RESPONSE = 32779;
