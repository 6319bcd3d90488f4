// Reading and writing the image files nimbra-render handles: PNG (libpng) and OpenEXR.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace nimbra_render {

/// How a file stored its samples.
enum class SampleFormat { U8, U16, Half, Float };

/// Alpha convention of colour values.
enum class Alpha {
    Straight,      ///< Colour independent of alpha (PNG).
    Premultiplied, ///< Colour already multiplied by alpha (OpenEXR).
};

/// Image file formats, chosen by the file name's extension.
enum class FileKind { Png, Exr };

/// Anything that goes wrong reading or writing a file, with the file named in the message.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// An RGBA image in memory: 4 floats per pixel, nominally 0..1, top row first (file order).
struct Raster {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;
    SampleFormat format = SampleFormat::U8; ///< What the file held.
    Alpha alpha = Alpha::Straight;          ///< Convention of `rgba`.
    bool hadAlpha = true;                   ///< False when the file had no alpha (now opaque).

    /// Pointer to the 4 values of pixel (x, row), row 0 at the top.
    float* pixel(int x, int row) {
        return rgba.data() + (static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                              static_cast<std::size_t>(x)) *
                                 4;
    }
    const float* pixel(int x, int row) const { return const_cast<Raster*>(this)->pixel(x, row); }
};

/// The kind for a path's extension (.png, .exr, any case); throws ImageError for others.
FileKind fileKindOf(const std::string& path);
/// The convention the file kind stores colours in.
Alpha fileAlpha(FileKind kind);

/// Reads an 8/16-bit gray, gray+alpha, RGB, RGBA or palette PNG, or a half/float EXR (RGB(A)
/// or Y(A)); images without alpha come back opaque.
Raster readImage(const std::string& path);
/// Writes an RGBA PNG with 8 or 16 bits per sample; values are clamped to 0..1 and rounded.
void writePng(const std::string& path, const Raster& image, int bits);
/// Writes an RGBA EXR with 32-bit float channels, or half ones when `half` (values as they
/// are, apart from half's precision).
void writeExr(const std::string& path, const Raster& image, bool half = false);

/// Converts `image` to `target` in place (straight colour under alpha 0 becomes 0).
void convertAlpha(Raster& image, Alpha target);

} // namespace nimbra_render
