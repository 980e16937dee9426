// Writes the program's icon at 16 or 32 pixels as a PNG file, for the
// desktop's icon theme: icon_png SIZE FILE. The images are the ones the
// window shows, so the theme and the window never differ.
#include "res/Icon.h"

#include <QImage>

#include <cstdio>
#include <string_view>

int main(int argc, char** argv) {
    if (argc != 3 || (std::string_view(argv[1]) != "16" && std::string_view(argv[1]) != "32")) {
        std::fputs("usage: icon_png 16|32 FILE\n", stderr);
        return 2;
    }
    const QImage icon(std::string_view(argv[1]) == "16" ? MainIcon16 : MainIcon32);
    if (icon.isNull() || !icon.save(argv[2], "PNG")) {
        std::fprintf(stderr, "icon_png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
