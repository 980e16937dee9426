// Menu templates as data: each pop-up with its caption and items in order.
#pragma once

#include <span>

// Command 0 is a separator.
struct MenuItemTemplate {
    int command;
    const char* caption;
};

struct PopupTemplate {
    const char* caption;
    std::span<const MenuItemTemplate> items;
};

struct MenuTemplate {
    int id;
    std::span<const PopupTemplate> popups;
};

// IDR_SPECTRUM_MENU: the analysis-window choice of the spectrum view, then
// saving what it shows, the fast response and saving it, and comparing with
// a saved response.
extern const MenuTemplate SpectrumMenuTemplate;
