// Writes the inputs of the command-line tests into the directory given as argument, emptied
// first (the tests rely on what is absent too: frame 49 of the sequence, absent.png), and
// makes its out/ subdirectory for their outputs.
#include "image_io.h"

#include <cstdio>
#include <filesystem>
#include <string>

using nimbra_render::Raster;

namespace {

// 64x32, transparent, with a soft-edged block of "text" that moves right by `shift`.
Raster frame(int shift) {
    Raster image;
    image.width = 64;
    image.height = 32;
    image.rgba.assign(64 * 32 * 4, 0.0f);
    for (int row = 10; row < 22; ++row)
        for (int x = 20 + shift; x < 36 + shift; ++x) {
            float* p = image.pixel(x, row);
            const bool edge = row == 10 || row == 21 || x == 20 + shift || x == 35 + shift;
            p[0] = 1.0f;
            p[1] = 0.8f;
            p[2] = 0.2f;
            p[3] = edge ? 0.4f : 1.0f;
        }
    return image;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_test_images DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    try {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir + "/out");
        nimbra_render::writePng(dir + "/small.png", frame(0), 8);
        nimbra_render::writePng(dir + "/deep.png", frame(2), 16);
        Raster premultiplied = frame(4);
        premultiplied.alpha = nimbra_render::Alpha::Straight;
        nimbra_render::convertAlpha(premultiplied, nimbra_render::Alpha::Premultiplied);
        nimbra_render::writeExr(dir + "/float.exr", premultiplied);
        for (int f = 1; f <= 48; ++f) {
            char name[32];
            std::snprintf(name, sizeof name, "/seq.%04d.png", f);
            nimbra_render::writePng(dir + name, frame(f % 8), 8);
        }
        std::FILE* text = std::fopen((dir + "/text.png").c_str(), "w");
        if (!text)
            return 1;
        std::fputs("not a picture\n", text);
        std::fclose(text);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_test_images: %s\n", e.what());
        return 1;
    }
    return 0;
}
