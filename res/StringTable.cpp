#include "res/StringTable.h"

#include "res/Resource.h"

const char* LoadResourceString(int id) {
    switch (id) {
    case IDS_ABOUTBOX:
        return "&About Tembrix...";
    case IDS_SOUNDCARD:
        return "Sound card...";
    default:
        return "";
    }
}
