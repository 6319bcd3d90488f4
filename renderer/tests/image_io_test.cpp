// Reading and writing PNG and EXR files: layouts, precision, row order, errors.
#include "image_io.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <ImfRgbaFile.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using nimbra_render::Alpha;
using nimbra_render::ImageError;
using nimbra_render::Raster;
using nimbra_render::SampleFormat;

// A file in the running test's own folder of this build tree, emptied when the test first
// asks for one: nothing another test, build or earlier run left can be read back.
std::string tempPath(const std::string& name) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string testName = std::string(test->test_suite_name()) + "." + test->name();
    const auto dir = std::filesystem::path(NIMBRA_TEST_SCRATCH) / testName;
    static std::string emptied;
    if (emptied != testName) {
        std::filesystem::remove_all(dir);
        emptied = testName;
    }
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

// Writes a PNG of any colour type from samples given row by row, top row first.
void writeRawPng(const std::string& path, int width, int height, int colourType, int bits,
                 const std::vector<unsigned>& samples) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, bits, colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const std::size_t perRow = samples.size() / static_cast<std::size_t>(height);
    std::vector<unsigned char> row;
    for (int r = 0; r < height; ++r) {
        row.clear();
        for (std::size_t i = 0; i < perRow; ++i) {
            const unsigned v = samples[r * perRow + i];
            if (bits == 16)
                row.push_back(static_cast<unsigned char>(v >> 8));
            row.push_back(static_cast<unsigned char>(v & 0xff));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

struct Layout {
    const char* name;
    int colourType;
    int channels;
};

class PngLayouts : public ::testing::TestWithParam<std::tuple<Layout, int>> {};

// Every layout and depth comes back as RGBA at the file's precision, opaque when the file
// has no alpha, with the top row of the file first.
TEST_P(PngLayouts, ReadAsRgbaTopRowFirst) {
    const auto [layout, bits] = GetParam();
    const unsigned maxValue = bits == 16 ? 65535u : 255u;
    // Two rows of one pixel: the top one carries distinct low values, the bottom one max.
    std::vector<unsigned> samples;
    for (int c = 0; c < layout.channels; ++c)
        samples.push_back(static_cast<unsigned>(c + 1));
    for (int c = 0; c < layout.channels; ++c)
        samples.push_back(maxValue);
    const std::string path = tempPath(std::string(layout.name) + std::to_string(bits) + ".png");
    writeRawPng(path, 1, 2, layout.colourType, bits, samples);

    const Raster image = nimbra_render::readImage(path);
    ASSERT_EQ(image.width, 1);
    ASSERT_EQ(image.height, 2);
    EXPECT_EQ(image.format, bits == 16 ? SampleFormat::U16 : SampleFormat::U8);
    EXPECT_EQ(image.alpha, Alpha::Straight);
    const bool gray = layout.channels <= 2;
    const bool alpha = layout.channels == 2 || layout.channels == 4;
    EXPECT_EQ(image.hadAlpha, alpha);
    const float* top = image.pixel(0, 0);
    for (int c = 0; c < 3; ++c)
        EXPECT_FLOAT_EQ(top[c] * maxValue, gray ? 1.0f : static_cast<float>(c + 1)) << c;
    EXPECT_FLOAT_EQ(top[3] * maxValue,
                    alpha ? static_cast<float>(layout.channels) : static_cast<float>(maxValue));
    for (int c = 0; c < 4; ++c)
        EXPECT_FLOAT_EQ(image.pixel(0, 1)[c], 1.0f);
}

INSTANTIATE_TEST_SUITE_P(
    AllLayouts, PngLayouts,
    ::testing::Combine(::testing::Values(Layout{"gray", PNG_COLOR_TYPE_GRAY, 1},
                                         Layout{"grayalpha", PNG_COLOR_TYPE_GRAY_ALPHA, 2},
                                         Layout{"rgb", PNG_COLOR_TYPE_RGB, 3},
                                         Layout{"rgba", PNG_COLOR_TYPE_RGBA, 4}),
                       ::testing::Values(8, 16)),
    // Test names such as AllLayouts/PngLayouts.ReadAsRgbaTopRowFirst/grayalpha16, the same in
    // every run (the default would print the layout's bytes, a pointer among them).
    [](const ::testing::TestParamInfo<std::tuple<Layout, int>>& info) {
        return std::string(std::get<0>(info.param).name) + std::to_string(std::get<1>(info.param));
    });

Raster ramp(int width, int height, int levels) {
    Raster image;
    image.width = width;
    image.height = height;
    image.rgba.resize(static_cast<std::size_t>(width) * height * 4);
    for (std::size_t i = 0; i < image.rgba.size(); ++i)
        image.rgba[i] = static_cast<float>((i * 7919) % static_cast<std::size_t>(levels + 1)) /
                        static_cast<float>(levels);
    return image;
}

TEST(PngRoundTrip, EightAndSixteenBitSamplesSurviveExactly) {
    for (int bits : {8, 16}) {
        const int levels = bits == 16 ? 65535 : 255;
        const Raster original = ramp(37, 11, levels);
        const std::string path = tempPath("roundtrip" + std::to_string(bits) + ".png");
        nimbra_render::writePng(path, original, bits);
        const Raster back = nimbra_render::readImage(path);
        ASSERT_EQ(back.width, 37);
        ASSERT_EQ(back.height, 11);
        EXPECT_EQ(back.format, bits == 16 ? SampleFormat::U16 : SampleFormat::U8);
        EXPECT_TRUE(back.hadAlpha);
        EXPECT_EQ(back.rgba, original.rgba) << bits << "-bit";
    }
}

TEST(PngWrite, ClampsValuesOutsideZeroToOne) {
    Raster image;
    image.width = 1;
    image.height = 1;
    image.rgba = {-0.5f, 1.5f, 0.5f, 2.0f};
    const std::string path = tempPath("clamp.png");
    nimbra_render::writePng(path, image, 8);
    const Raster back = nimbra_render::readImage(path);
    EXPECT_FLOAT_EQ(back.rgba[0], 0.0f);
    EXPECT_FLOAT_EQ(back.rgba[1], 1.0f);
    EXPECT_FLOAT_EQ(back.rgba[2], 128.0f / 255.0f);
    EXPECT_FLOAT_EQ(back.rgba[3], 1.0f);
}

TEST(ExrRoundTrip, FloatValuesSurviveExactlyIncludingOutOfRange) {
    Raster original = ramp(13, 9, 1000);
    original.rgba[0] = -0.25f;
    original.rgba[5] = 7.125f;
    original.rgba[9] = 1e-7f;
    original.alpha = Alpha::Premultiplied;
    const std::string path = tempPath("roundtrip.exr");
    nimbra_render::writeExr(path, original);
    const Raster back = nimbra_render::readImage(path);
    ASSERT_EQ(back.width, 13);
    ASSERT_EQ(back.height, 9);
    EXPECT_EQ(back.format, SampleFormat::Float);
    EXPECT_EQ(back.alpha, Alpha::Premultiplied);
    EXPECT_EQ(back.rgba, original.rgba);
}

TEST(ExrRoundTrip, HalfKeepsHalfPrecision) {
    Raster original;
    original.width = 2;
    original.height = 1;
    original.rgba = {0.5f, 1.0f / 3.0f, 1000.0f, 1.0f, -2.0f, 0.0f, 0.1f, 0.25f};
    const std::string path = tempPath("half-roundtrip.exr");
    nimbra_render::writeExr(path, original, /*half=*/true);
    const Raster back = nimbra_render::readImage(path);
    EXPECT_EQ(back.format, SampleFormat::Half);
    ASSERT_EQ(back.rgba.size(), original.rgba.size());
    for (std::size_t i = 0; i < back.rgba.size(); ++i)
        EXPECT_EQ(back.rgba[i], static_cast<float>(Imath::half(original.rgba[i]))) << i;
    EXPECT_NE(back.rgba[1], original.rgba[1]); // a third is not a half
}

TEST(ExrRead, HalfRgbWithoutAlphaIsOpaqueAndTopRowFirst) {
    const std::string path = tempPath("half.exr");
    {
        std::vector<Imf::Rgba> pixels(2 * 3);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = Imf::Rgba(static_cast<float>(i) * 0.25f, 0.5f, 2.0f, 0.0f);
        Imf::RgbaOutputFile file(path.c_str(), 2, 3, Imf::WRITE_RGB);
        file.setFrameBuffer(pixels.data(), 1, 2);
        file.writePixels(3);
    }
    const Raster image = nimbra_render::readImage(path);
    ASSERT_EQ(image.width, 2);
    ASSERT_EQ(image.height, 3);
    EXPECT_EQ(image.format, SampleFormat::Half);
    EXPECT_FALSE(image.hadAlpha);
    EXPECT_FLOAT_EQ(image.pixel(1, 0)[0], 0.25f); // file row 0, second pixel
    EXPECT_FLOAT_EQ(image.pixel(0, 2)[0], 1.0f);  // last row
    EXPECT_FLOAT_EQ(image.pixel(0, 2)[2], 2.0f);
    EXPECT_FLOAT_EQ(image.pixel(0, 2)[3], 1.0f);
}

// A transparency chunk (tRNS) is alpha: for palette entries, and for the one colour of an RGB
// or gray image that it names.
TEST(PngRead, TransparencyChunkBecomesAlpha) {
    const std::string palettePath = tempPath("palette-trns.png");
    const std::string rgbPath = tempPath("rgb-trns.png");
    for (const std::string& path : {palettePath, rgbPath}) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        std::vector<unsigned char> row;
        if (path == palettePath) {
            png_set_IHDR(png, info, 2, 1, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_color colours[2] = {{10, 20, 30}, {200, 100, 50}};
            png_set_PLTE(png, info, colours, 2);
            png_byte alpha[2] = {0, 128};
            png_set_tRNS(png, info, alpha, 2, nullptr);
            row = {0, 1};
        } else {
            png_set_IHDR(png, info, 2, 1, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_color_16 transparent{};
            transparent.red = 10;
            transparent.green = 20;
            transparent.blue = 30;
            png_set_tRNS(png, info, nullptr, 0, &transparent);
            row = {10, 20, 30, 200, 100, 50};
        }
        png_write_info(png, info);
        png_write_row(png, row.data());
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
    }
    const Raster palette = nimbra_render::readImage(palettePath);
    EXPECT_TRUE(palette.hadAlpha);
    EXPECT_FLOAT_EQ(palette.pixel(0, 0)[3] * 255, 0);
    EXPECT_FLOAT_EQ(palette.pixel(1, 0)[0] * 255, 200);
    EXPECT_FLOAT_EQ(palette.pixel(1, 0)[3] * 255, 128);
    const Raster rgb = nimbra_render::readImage(rgbPath);
    EXPECT_TRUE(rgb.hadAlpha);
    EXPECT_FLOAT_EQ(rgb.pixel(0, 0)[3], 0);
    EXPECT_FLOAT_EQ(rgb.pixel(1, 0)[2] * 255, 50);
    EXPECT_FLOAT_EQ(rgb.pixel(1, 0)[3], 1);
}

// A luminance EXR (Y, optionally A) is gray: Y in red, green and blue.
TEST(ExrRead, LuminanceIsGray) {
    const std::string path = tempPath("luminance.exr");
    {
        Imf::Header header(2, 1);
        header.channels().insert("Y", Imf::Channel(Imf::FLOAT));
        float y[2] = {0.25f, 2.0f};
        Imf::OutputFile file(path.c_str(), header);
        Imf::FrameBuffer frame;
        frame.insert("Y", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(y), sizeof(float),
                                     2 * sizeof(float)));
        file.setFrameBuffer(frame);
        file.writePixels(1);
    }
    const Raster image = nimbra_render::readImage(path);
    ASSERT_EQ(image.width, 2);
    EXPECT_FALSE(image.hadAlpha);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(image.pixel(0, 0)[c], 0.25f) << c;
        EXPECT_EQ(image.pixel(1, 0)[c], 2.0f) << c;
    }
    EXPECT_EQ(image.pixel(1, 0)[3], 1.0f);
}

// Extensions name the format whatever their case (cameras and some systems write .PNG).
TEST(FileKinds, ExtensionsInAnyCase) {
    EXPECT_EQ(nimbra_render::fileKindOf("dir.x/A.PNG"), nimbra_render::FileKind::Png);
    EXPECT_EQ(nimbra_render::fileKindOf("b.Exr"), nimbra_render::FileKind::Exr);
    EXPECT_THROW(nimbra_render::fileKindOf("dir.png/noext"), ImageError);
    const std::string path = tempPath("UPPER.PNG");
    nimbra_render::writePng(path, ramp(3, 2, 255), 8);
    EXPECT_EQ(nimbra_render::readImage(path).width, 3);
}

TEST(ImageErrors, NameTheFileAndTheProblem) {
    const std::string missing = tempPath("missing.png");
    std::remove(missing.c_str());
    const std::string notPng = tempPath("text.png");
    std::ofstream(notPng) << "not an image";
    const std::string truncated = tempPath("truncated.png");
    {
        nimbra_render::writePng(truncated, ramp(64, 64, 255), 8);
        std::filesystem::resize_file(truncated, 60);
    }
    const std::string notExr = tempPath("text.exr");
    std::ofstream(notExr) << "not an image";

    for (const std::string& path : {missing, notPng, truncated, notExr, tempPath("a.jpg")}) {
        try {
            nimbra_render::readImage(path);
            ADD_FAILURE() << path << " was read";
        } catch (const ImageError& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(nimbra_render::writePng("/nonexistent-dir/x.png", ramp(1, 1, 1), 8), ImageError);
}

TEST(ConvertAlpha, PremultiplyAndBackRestoresColourAndClearsUnderZeroAlpha) {
    Raster image;
    image.width = 2;
    image.height = 1;
    image.rgba = {0.8f, 0.4f, 1.0f, 0.5f, 0.3f, 0.6f, 0.9f, 0.0f};
    image.alpha = Alpha::Straight;
    nimbra_render::convertAlpha(image, Alpha::Premultiplied);
    EXPECT_FLOAT_EQ(image.rgba[0], 0.4f);
    EXPECT_FLOAT_EQ(image.rgba[2], 0.5f);
    EXPECT_FLOAT_EQ(image.rgba[3], 0.5f);
    EXPECT_FLOAT_EQ(image.rgba[4], 0.0f);
    nimbra_render::convertAlpha(image, Alpha::Straight);
    EXPECT_FLOAT_EQ(image.rgba[0], 0.8f);
    EXPECT_FLOAT_EQ(image.rgba[1], 0.4f);
    EXPECT_FLOAT_EQ(image.rgba[2], 1.0f);
    EXPECT_EQ(image.alpha, Alpha::Straight);
}

} // namespace
