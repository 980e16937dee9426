#include "res/MenuTemplate.h"

#include "res/Resource.h"

namespace {

const MenuItemTemplate spectrumItems[] = {
    {ID_SPECTRUM_QUASICHEBISHEV, "Quasi-Chebishev"},
    {ID_SPECTRUM_RECTANGLE, "Rectangle"},
    {0, nullptr},
    {ID_SAVE_RESPONSE, "Save response as CSV..."},
    {ID_SAVE_SPECTRUM, "Save spectrum as CSV..."},
    {ID_SAVE_PICTURE, "Save picture..."},
    {ID_FAST_RESPONSE, "Fast response"},
    {ID_SAVE_FAST_RESPONSE, "Save fast response as CSV..."},
    {ID_COMPARE_RESPONSE, "Compare with saved response..."},
    {ID_CLEAR_COMPARISON, "Clear comparison"},
};

const PopupTemplate spectrumPopups[] = {
    {"Spectrum", spectrumItems},
};

} // namespace

const MenuTemplate SpectrumMenuTemplate = {IDR_SPECTRUM_MENU, spectrumPopups};
