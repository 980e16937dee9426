#include "MenuTemplate.h"

#include "Resource.h"

namespace {

const MenuItemTemplate spectrumItems[] = {
    {ID_SPECTRUM_QUASICHEBISHEV, "Quasi-Chebishev"},
    {ID_SPECTRUM_RECTANGLE, "Rectangle"},
};

const PopupTemplate spectrumPopups[] = {
    {"Spectrum", spectrumItems},
};

} // namespace

const MenuTemplate SpectrumMenuTemplate = {IDR_SPECTRUM_MENU, spectrumPopups};
