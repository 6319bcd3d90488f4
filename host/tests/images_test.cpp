// Image layout as a plug-in addresses it, and the image handles clipGetImage hands out.
#include "host.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using ofxhost::Components;
using ofxhost::Depth;
using ofxhost::Effect;
using ofxhost::Host;
using ofxhost::Image;
using ofxhost::RowOrder;

// The way every plug-in must address a pixel: signed row arithmetic from the data pointer.
char* addressOf(Image& img, int x, int y) {
    return static_cast<char*>(img.data()) +
           static_cast<long>(y - img.bounds().y1) * img.rowBytes() +
           static_cast<long>(x - img.bounds().x1) * img.pixelBytes();
}

TEST(ImageLayout, BothRowOrdersAgreeWithSignedRowArithmetic) {
    for (RowOrder order : {RowOrder::BottomUp, RowOrder::TopDown}) {
        Image img({-2, 5, 3, 9}, Components::RGBA, Depth::Short, order, 8);
        EXPECT_EQ(img.rowBytes(), (order == RowOrder::TopDown ? -1 : 1) * (5 * 8 + 8));
        for (int y = 5; y < 9; ++y)
            for (int x = -2; x < 3; ++x)
                ASSERT_EQ(addressOf(img, x, y), img.pixel(x, y)) << x << "," << y;
        img.set(2, 8, 3, 65535);
        std::uint16_t alpha = 0;
        std::memcpy(&alpha, addressOf(img, 2, 8) + 6, 2);
        EXPECT_EQ(alpha, 65535);
        EXPECT_TRUE(img.guardsIntact());
    }
}

TEST(ImageLayout, TopDownStoresTheTopRowFirst) {
    Image img({0, 0, 1, 3}, Components::Alpha, Depth::Byte, RowOrder::TopDown);
    // data points at the bottom row, which is the last one in memory.
    EXPECT_EQ(static_cast<char*>(img.pixel(0, 2)) + 2, img.data());
    EXPECT_EQ(img.pixel(0, 0), img.data());
}

TEST(ImageLayout, WritesOutsideTheRowsOrIntoPaddingBreakTheGuards) {
    Image below({0, 0, 2, 2}, Components::RGBA, Depth::Float, RowOrder::TopDown);
    // One row below y1 with negative rowBytes lands past the end of the buffer.
    *(addressOf(below, 0, -1)) = 1;
    EXPECT_FALSE(below.guardsIntact());

    Image padded({0, 0, 2, 2}, Components::RGBA, Depth::Byte, RowOrder::BottomUp, 4);
    *(addressOf(padded, 2, 0)) = 1; // x == x2: first padding byte
    EXPECT_FALSE(padded.guardsIntact());
}

class ClipImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        Effect& global = host.createDescriptor();
        Effect& desc = host.createContextDescriptor(global, kOfxImageEffectContextFilter);
        OfxPropertySetHandle props = nullptr;
        ASSERT_EQ(fx.clipDefine(desc.handle(), "Source", &props), kOfxStatOK);
        EXPECT_EQ(fx.clipDefine(desc.handle(), "Source", &props), kOfxStatErrExists);
        instance = &host.createInstance(desc);
        ASSERT_EQ(fx.clipGetHandle(instance->handle(), "Source", &clip, nullptr), kOfxStatOK);
    }

    Host host;
    const OfxImageEffectSuiteV1& fx =
        *static_cast<const OfxImageEffectSuiteV1*>(host.fetchSuite(kOfxImageEffectSuite, 1));
    Effect* instance = nullptr;
    OfxImageClipHandle clip = nullptr;
};

TEST_F(ClipImageTest, ImagesAreCountedAndBadReleasesAreCaught) {
    OfxPropertySetHandle img = nullptr;
    EXPECT_EQ(fx.clipGetImage(clip, 0.0, nullptr, &img), kOfxStatFailed); // nothing attached

    auto image = std::make_shared<Image>(OfxRectI{0, 0, 4, 2}, Components::RGBA, Depth::Byte,
                                         RowOrder::TopDown);
    instance->clip("Source").setImage(image);
    ASSERT_EQ(fx.clipGetImage(clip, 1.0, nullptr, &img), kOfxStatOK);
    OfxPropertySetHandle second = nullptr;
    ASSERT_EQ(fx.clipGetImage(clip, 1.0, nullptr, &second), kOfxStatOK);
    EXPECT_NE(img, second); // each fetch is its own handle
    EXPECT_EQ(host.imagesOutstanding(), 2);

    ofxhost::PropertySet* props = ofxhost::PropertySet::fromHandle(img);
    ASSERT_NE(props, nullptr);
    EXPECT_EQ(props->getPointer(kOfxImagePropData), image->data());
    EXPECT_EQ(props->getInt(kOfxImagePropRowBytes), -16);
    EXPECT_EQ(props->getInts(kOfxImagePropBounds), (std::vector<int>{0, 0, 4, 2}));

    EXPECT_EQ(fx.clipReleaseImage(img), kOfxStatOK);
    EXPECT_EQ(fx.clipReleaseImage(img), kOfxStatErrBadHandle);
    EXPECT_EQ(fx.clipReleaseImage(second), kOfxStatOK);
    EXPECT_TRUE(host.allImagesReleased());
    EXPECT_EQ(host.misuse().size(), 1u);
}

TEST_F(ClipImageTest, OverridesAndInjectedFaultsReachThePlugin) {
    auto image = host.makeImage({0, 0, 2, 2}, Components::RGBA, Depth::Float);
    instance->clip("Source").setImage(image);
    instance->clip("Source").imageOverrides().setString(kOfxImageEffectPropPixelDepth,
                                                        kOfxBitDepthByte);
    OfxPropertySetHandle img = nullptr;
    ASSERT_EQ(fx.clipGetImage(clip, 0.0, nullptr, &img), kOfxStatOK);
    EXPECT_EQ(ofxhost::PropertySet::fromHandle(img)->getString(kOfxImageEffectPropPixelDepth),
              kOfxBitDepthByte);
    fx.clipReleaseImage(img);

    host.faults().failFunction("clipGetImage", kOfxStatErrMemory);
    EXPECT_EQ(fx.clipGetImage(clip, 0.0, nullptr, &img), kOfxStatErrMemory);
    EXPECT_TRUE(host.allImagesReleased());

    OfxRectD rod{};
    ASSERT_EQ(fx.clipGetRegionOfDefinition(clip, 0.0, &rod), kOfxStatOK);
    EXPECT_EQ(rod.x2, 2.0); // from the attached image's bounds
    host.faults().failFunction("clipGetRegionOfDefinition", kOfxStatFailed);
    EXPECT_EQ(fx.clipGetRegionOfDefinition(clip, 0.0, &rod), kOfxStatFailed);
}

} // namespace
