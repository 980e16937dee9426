// Dialog templates as data: each control with its id, class, caption, style
// and place in dialog units, in template (tab and z) order.
#pragma once

#include <cstdint>
#include <span>

using ControlStyle = std::uint32_t;

// Window and control styles, with the values the templates were written in.
constexpr ControlStyle WS_TABSTOP = 0x00010000;
constexpr ControlStyle WS_GROUP = 0x00020000;
constexpr ControlStyle WS_DISABLED = 0x08000000;
constexpr ControlStyle WS_BORDER = 0x00800000;
constexpr ControlStyle SS_LEFT = 0x0000;
constexpr ControlStyle SS_CENTER = 0x0001;
constexpr ControlStyle SS_ICON = 0x0003;
constexpr ControlStyle SS_BLACKRECT = 0x0004;
constexpr ControlStyle SS_NOTIFY = 0x0100;
constexpr ControlStyle BS_AUTOCHECKBOX = 0x0003;
constexpr ControlStyle BS_AUTORADIOBUTTON = 0x0009;
constexpr ControlStyle BS_GROUPBOX = 0x0007;
constexpr ControlStyle BS_PUSHLIKE = 0x1000;
constexpr ControlStyle BS_TYPEMASK = 0x000F;
constexpr ControlStyle ES_LEFT = 0x0000;
constexpr ControlStyle SBS_HORZ = 0x0000;

enum class ControlClass { Static, Button, Edit, ScrollBar };

struct ControlTemplate {
    int id;
    const char* constant; // the identifier's name, "" for IDC_STATIC
    ControlClass kind;
    const char* caption;
    ControlStyle style;
    int x, y, width, height; // dialog units
};

struct DialogTemplate {
    int id;
    const char* caption;
    int width, height; // dialog units
    int fontPoints;
    const char* fontName;
    std::span<const ControlTemplate> controls;
};

extern const DialogTemplate MainDialogTemplate;
extern const DialogTemplate AboutDialogTemplate;
