// The OFX vocabularies: every string decodes to its value and back, unknown strings as the
// system promises (custom value, or an exception for the vocabularies that must be known).
#include "image_effect.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using OFX::BitDepth;
using OFX::EffectContext;
using OFX::PixelComponents;

TEST(Enumerations, ContextsRoundTripAndUnknownThrows) {
    for (int v = 1; v <= 6; ++v) {
        const auto context = static_cast<EffectContext>(v);
        ASSERT_NE(OFX::encodeContext(context), nullptr);
        EXPECT_EQ(OFX::decodeContext(OFX::encodeContext(context)), context);
    }
    EXPECT_EQ(OFX::decodeContext("OfxImageEffectContextGeneral"), EffectContext::General);
    EXPECT_EQ(OFX::encodeContext(EffectContext::None), nullptr);
    try {
        OFX::decodeContext("OfxImageEffectContextNope");
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "OfxImageEffectContextNope");
    }
    EXPECT_THROW(OFX::decodeContext(""), std::invalid_argument);
}

TEST(Enumerations, DepthsAndComponentsFallBackToCustom) {
    EXPECT_EQ(OFX::decodeBitDepth("OfxBitDepthHalf"), BitDepth::Custom);
    EXPECT_EQ(OFX::decodeBitDepth("OfxBitDepthShortBGR"), BitDepth::ShortBGR);
    EXPECT_EQ(OFX::decodeBitDepth("OfxBitDepthNone"), BitDepth::None);
    for (BitDepth depth : {BitDepth::Byte, BitDepth::Short, BitDepth::Float, BitDepth::ByteBGR,
                           BitDepth::ShortBGR, BitDepth::FloatBGR})
        EXPECT_EQ(OFX::decodeBitDepth(OFX::encodeBitDepth(depth)), depth);
    EXPECT_EQ(OFX::encodeBitDepth(BitDepth::Custom), nullptr);
    EXPECT_EQ(OFX::encodeBitDepth(BitDepth::None), nullptr);

    EXPECT_EQ(OFX::decodePixelComponents("OfxImageComponentRGB"), PixelComponents::Custom);
    EXPECT_EQ(OFX::decodePixelComponents("OfxImageComponentAlpha"), PixelComponents::Alpha);
    EXPECT_EQ(OFX::decodePixelComponents("OfxImageComponentNone"), PixelComponents::None);
    EXPECT_STREQ(OFX::encodePixelComponents(PixelComponents::RGBA), "OfxImageComponentRGBA");
    EXPECT_EQ(OFX::encodePixelComponents(PixelComponents::Custom), nullptr);
}

TEST(Enumerations, StrictVocabulariesThrowOnUnknownStrings) {
    EXPECT_EQ(OFX::decodePremultiplication("OfxImageAlphaUnPremultiplied"),
              OFX::AlphaPremultiplication::UnPremultiplied);
    EXPECT_EQ(OFX::decodePremultiplication("OfxImageOpaque"), OFX::AlphaPremultiplication::Opaque);
    EXPECT_EQ(OFX::decodeField("OfxFieldLower"), OFX::VideoField::Lower);
    EXPECT_EQ(OFX::decodeField("OfxFieldBoth"), OFX::VideoField::Both);
    EXPECT_EQ(OFX::decodeRenderQuality("OfxImageEffectPropRenderQualityPreview"),
              OFX::RenderQuality::Preview);
    EXPECT_EQ(OFX::decodeChangeReason("OfxChangeTime"), OFX::ChangeReason::Time);
    EXPECT_EQ(OFX::decodeChangeReason("OfxChangePluginEdited"), OFX::ChangeReason::PluginEdited);

    try {
        OFX::decodePremultiplication("OfxImageAlphaPremultipliedX");
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "");
    }
    EXPECT_THROW(OFX::decodeField("OfxFieldSingle"), std::invalid_argument);
    EXPECT_THROW(OFX::decodeRenderQuality(""), std::invalid_argument);
    EXPECT_THROW(OFX::decodeChangeReason("OfxChangeNothing"), std::invalid_argument);
}

} // namespace
