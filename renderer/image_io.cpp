#include "image_io.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <half.h>
#include <png.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace nimbra_render {

namespace {

std::string lowerExtension(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr openFile(const std::string& path, const char* mode) {
    FilePtr f(std::fopen(path.c_str(), mode));
    if (!f)
        throw ImageError("cannot open " + path + ": " + std::strerror(errno));
    return f;
}

// libpng reports errors by longjmp; the message is kept here until the setjmp returns.
struct PngError {
    char message[256] = "unknown libpng error";
};

void pngErrorHandler(png_structp png, png_const_charp message) {
    auto* error = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(error->message, sizeof error->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarningHandler(png_structp, png_const_charp) {}

// Decoded PNG rows: RGBA, 8 or 16 bits (16-bit samples in host byte order).
struct PngPixels {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bits = 8;
    bool hadAlpha = true;
    std::vector<unsigned char> data;
    std::vector<png_bytep> rows;
};

// No C++ object is created or destroyed between setjmp and a possible longjmp.
bool decodePng(std::FILE* file, PngPixels& out, PngError& error) {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, pngErrorHandler, pngWarningHandler);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    const int colourType = png_get_color_type(png, info);
    out.bits = png_get_bit_depth(png, info) == 16 ? 16 : 8;
    out.hadAlpha =
        (colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;

    png_set_expand(png); // palette to RGB, low-bit gray to 8 bits, tRNS to alpha
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    if (!out.hadAlpha)
        png_set_add_alpha(png, out.bits == 16 ? 0xffff : 0xff, PNG_FILLER_AFTER);
    if (out.bits == 16)
        png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const std::size_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes != static_cast<std::size_t>(out.width) * 4 * (out.bits / 8)) {
        std::snprintf(error.message, sizeof error.message, "unexpected PNG layout");
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    // Sized by the caller-visible vectors before reading; resize cannot throw past here
    // without unwinding normally, since no longjmp is pending during it.
    out.data.resize(rowBytes * out.height);
    out.rows.resize(out.height);
    for (png_uint_32 r = 0; r < out.height; ++r)
        out.rows[r] = out.data.data() + r * rowBytes;
    png_read_image(png, out.rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

Raster readPng(const std::string& path) {
    FilePtr file = openFile(path, "rb");
    unsigned char signature[8] = {};
    if (std::fread(signature, 1, 8, file.get()) != 8 || png_sig_cmp(signature, 0, 8) != 0)
        throw ImageError(path + " is not a PNG file");
    std::rewind(file.get());

    PngPixels pixels;
    PngError error;
    if (!decodePng(file.get(), pixels, error))
        throw ImageError("cannot read " + path + ": " + error.message);

    Raster image;
    image.width = static_cast<int>(pixels.width);
    image.height = static_cast<int>(pixels.height);
    image.format = pixels.bits == 16 ? SampleFormat::U16 : SampleFormat::U8;
    image.alpha = Alpha::Straight;
    image.hadAlpha = pixels.hadAlpha;
    const std::size_t count = static_cast<std::size_t>(image.width) * image.height * 4;
    image.rgba.resize(count);
    if (pixels.bits == 16) {
        for (std::size_t i = 0; i < count; ++i) {
            std::uint16_t v;
            std::memcpy(&v, pixels.data.data() + 2 * i, 2);
            image.rgba[i] = static_cast<float>(v) / 65535.0f;
        }
    } else {
        for (std::size_t i = 0; i < count; ++i)
            image.rgba[i] = static_cast<float>(pixels.data[i]) / 255.0f;
    }
    return image;
}

bool encodePng(std::FILE* file, const Raster& image, int bits, const std::vector<png_bytep>& rows,
               PngError& error) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, pngErrorHandler, pngWarningHandler);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), bits, PNG_COLOR_TYPE_RGBA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (bits == 16)
        png_set_swap(png);
    png_write_image(png, const_cast<png_bytepp>(rows.data()));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

FileKind fileKindOf(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == "png")
        return FileKind::Png;
    if (ext == "exr")
        return FileKind::Exr;
    throw ImageError(path + ": unknown image type (use .png or .exr)");
}

Alpha fileAlpha(FileKind kind) {
    return kind == FileKind::Png ? Alpha::Straight : Alpha::Premultiplied;
}

Raster readImage(const std::string& path) {
    if (fileKindOf(path) == FileKind::Png)
        return readPng(path);

    // Fails with a clear message before OpenEXR's own, less readable one.
    openFile(path, "rb");
    try {
        Imf::InputFile file(path.c_str());
        const Imath::Box2i window = file.header().dataWindow();
        const Imf::ChannelList& channels = file.header().channels();
        Raster image;
        image.width = window.max.x - window.min.x + 1;
        image.height = window.max.y - window.min.y + 1;
        image.alpha = Alpha::Premultiplied;
        image.hadAlpha = channels.findChannel("A") != nullptr;
        const bool rgb = channels.findChannel("R") != nullptr;
        const bool luminance = !rgb && channels.findChannel("Y") != nullptr;
        if (!rgb && !luminance && !image.hadAlpha)
            throw ImageError(path + " has none of the channels R, G, B, Y, A");
        const Imf::Channel* first = rgb         ? channels.findChannel("R")
                                    : luminance ? channels.findChannel("Y")
                                                : channels.findChannel("A");
        image.format = first->type == Imf::HALF ? SampleFormat::Half : SampleFormat::Float;
        image.rgba.assign(static_cast<std::size_t>(image.width) * image.height * 4, 0.0f);

        // Slices address the data window's origin, so the base pointer is offset back.
        const std::size_t xStride = 4 * sizeof(float);
        const std::size_t yStride = xStride * static_cast<std::size_t>(image.width);
        char* origin = reinterpret_cast<char*>(image.rgba.data()) -
                       static_cast<std::ptrdiff_t>(window.min.x) * xStride -
                       static_cast<std::ptrdiff_t>(window.min.y) * yStride;
        auto slice = [&](int c, double fill) {
            return Imf::Slice(Imf::FLOAT, origin + c * sizeof(float), xStride, yStride, 1, 1, fill);
        };
        Imf::FrameBuffer frame;
        if (luminance) {
            // Y goes into red and is copied to green and blue afterwards.
            frame.insert("Y", slice(0, 0.0));
        } else {
            frame.insert("R", slice(0, 0.0));
            frame.insert("G", slice(1, 0.0));
            frame.insert("B", slice(2, 0.0));
        }
        frame.insert("A", slice(3, 1.0));
        file.setFrameBuffer(frame);
        file.readPixels(window.min.y, window.max.y);
        if (luminance)
            for (std::size_t i = 0; i < image.rgba.size(); i += 4)
                image.rgba[i + 1] = image.rgba[i + 2] = image.rgba[i];
        return image;
    } catch (const ImageError&) {
        throw;
    } catch (const std::exception& e) {
        throw ImageError("cannot read " + path + ": " + e.what());
    }
}

void writePng(const std::string& path, const Raster& image, int bits) {
    if (bits != 8 && bits != 16)
        throw ImageError("PNG samples are 8 or 16 bits");
    const std::size_t samples = static_cast<std::size_t>(image.width) * 4;
    const std::size_t rowBytes = samples * static_cast<std::size_t>(bits / 8);
    std::vector<unsigned char> data(rowBytes * static_cast<std::size_t>(image.height));
    const float maxValue = bits == 16 ? 65535.0f : 255.0f;
    for (std::size_t i = 0; i < image.rgba.size(); ++i) {
        const float v = std::clamp(image.rgba[i], 0.0f, 1.0f) * maxValue;
        const long q = std::lround(v);
        if (bits == 16) {
            const auto s = static_cast<std::uint16_t>(q);
            std::memcpy(data.data() + 2 * i, &s, 2);
        } else {
            data[i] = static_cast<unsigned char>(q);
        }
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
    for (std::size_t r = 0; r < rows.size(); ++r)
        rows[r] = data.data() + r * rowBytes;

    FilePtr file = openFile(path, "wb");
    PngError error;
    if (!encodePng(file.get(), image, bits, rows, error))
        throw ImageError("cannot write " + path + ": " + error.message);
    if (std::fflush(file.get()) != 0 || std::ferror(file.get()))
        throw ImageError("cannot write " + path + ": " + std::strerror(errno));
}

void writeExr(const std::string& path, const Raster& image, bool half) {
    try {
        const Imf::PixelType type = half ? Imf::HALF : Imf::FLOAT;
        Imf::Header header(image.width, image.height);
        const char* names[4] = {"R", "G", "B", "A"};
        for (const char* name : names)
            header.channels().insert(name, Imf::Channel(type));
        std::vector<Imath::half> halves;
        char* base = const_cast<char*>(reinterpret_cast<const char*>(image.rgba.data()));
        std::size_t sampleSize = sizeof(float);
        if (half) {
            halves.assign(image.rgba.begin(), image.rgba.end());
            base = reinterpret_cast<char*>(halves.data());
            sampleSize = sizeof(Imath::half);
        }
        Imf::OutputFile file(path.c_str(), header);
        Imf::FrameBuffer frame;
        const std::size_t xStride = 4 * sampleSize;
        const std::size_t yStride = xStride * static_cast<std::size_t>(image.width);
        for (int c = 0; c < 4; ++c)
            frame.insert(names[c], Imf::Slice(type, base + c * sampleSize, xStride, yStride));
        file.setFrameBuffer(frame);
        file.writePixels(image.height);
    } catch (const std::exception& e) {
        throw ImageError("cannot write " + path + ": " + e.what());
    }
}

void convertAlpha(Raster& image, Alpha target) {
    if (image.alpha == target)
        return;
    for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
        const float a = image.rgba[i + 3];
        for (int c = 0; c < 3; ++c) {
            float& v = image.rgba[i + static_cast<std::size_t>(c)];
            if (target == Alpha::Premultiplied)
                v *= a;
            else
                v = a > 0.0f ? v / a : 0.0f;
        }
    }
    image.alpha = target;
}

} // namespace nimbra_render
