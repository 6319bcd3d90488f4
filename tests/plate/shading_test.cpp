// The per-pixel arithmetic of both modes at known values.
#include "plate_shading.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

namespace {

using Px8 = std::array<int, 4>;
using Compatible8 = plate::CompatibleShading<unsigned char, 255>;
using Accurate8 = plate::AccurateShading<unsigned char, 255>;

template <class S> Px8 shaded(const S& s, Px8 source, const typename S::Local& l) {
    const unsigned char src[4] = {
        static_cast<unsigned char>(source[0]), static_cast<unsigned char>(source[1]),
        static_cast<unsigned char>(source[2]), static_cast<unsigned char>(source[3])};
    unsigned char dst[4];
    s.shade(src, dst, l);
    return {dst[0], dst[1], dst[2], dst[3]};
}

Compatible8::Local fill() {
    Compatible8::Local l;
    l.inFill = true;
    return l;
}

Compatible8::Local outline(float coverage, bool inFill = false) {
    Compatible8::Local l;
    l.inFill = inFill;
    l.inStroke = true;
    l.coverage = coverage;
    return l;
}

// The compatible arithmetic: colour blended as f × fill + (1 − f) × straight colour, whatever
// the source's alpha; text keeps its own colour, recomputed; results truncated.
TEST(Shading, CompatibleKnownValues) {
    plate::Params p;
    const Compatible8 black(p);
    EXPECT_EQ(shaded(black, {0, 0, 0, 0}, fill()), (Px8{0, 0, 0, 255}));
    // Text: recomputed through single-precision un-premultiplication and truncation.
    EXPECT_EQ(shaded(black, {252, 252, 252, 252}, fill()), (Px8{251, 251, 251, 252}));
    // A faint glyph edge (alpha 20, under the threshold's 25.5) takes the fill; 26 is text.
    EXPECT_EQ(shaded(black, {20, 20, 20, 20}, fill()), (Px8{0, 0, 0, 255}));
    EXPECT_EQ(shaded(black, {26, 26, 26, 26}, fill())[3], 26);

    p.fillColor[0] = p.fillColor[1] = p.fillColor[2] = 1;
    p.fillColor[3] = 0.5f;
    EXPECT_EQ(shaded(Compatible8(p), {0, 0, 0, 0}, fill()), (Px8{63, 63, 63, 127}));

    // The outline replaces the fill where it covers a pixel at all: its ramp does not let
    // the fill through.
    plate::Params q;
    q.strokeWidth = 2.5f;
    const Compatible8 outlined(q);
    EXPECT_EQ(shaded(outlined, {0, 0, 0, 0}, outline(0.75f)), (Px8{143, 143, 143, 191}));
    EXPECT_EQ(shaded(outlined, {0, 0, 0, 0}, outline(0.5f, true)), (Px8{63, 63, 63, 127}));

    // The outline's ramp: whole within a pixel of its edge, then falling linearly.
    Compatible8::Local l;
    outlined.outlineAt(1.5f, l);
    EXPECT_EQ(l.coverage, 1.0f);
    outlined.outlineAt(1.75f, l);
    EXPECT_EQ(l.coverage, 0.75f);
    Compatible8::Local none;
    outlined.outlineAt(2.5f, none);
    EXPECT_FALSE(none.inStroke);
}

// Colour under an alpha of at most 0.001 of full scale is nobody's to see, straight or
// premultiplied: it reads as 0. Just above, it counts.
TEST(Shading, HiddenColourReadsAsZero) {
    for (bool straight : {false, true}) {
        plate::Params p;
        p.straight = straight;
        p.fillColor[3] = 0.5f;
        const plate::CompatibleShading<unsigned short, 65535> s(p);
        plate::CompatibleShading<unsigned short, 65535>::Local l;
        l.inFill = true;
        auto out = [&](unsigned short colour, unsigned short alpha) {
            const unsigned short src[4] = {colour, colour, colour, alpha};
            unsigned short dst[4];
            s.shade(src, dst, l);
            return std::array<int, 4>{dst[0], dst[1], dst[2], dst[3]};
        };
        EXPECT_EQ(out(60, 65), out(0, 65)) << straight;
        EXPECT_NE(out(60, 66), out(0, 66)) << straight;
    }
}

// The accurate arithmetic: the source over the plate, premultiplied, rounded to nearest;
// opaque sources and pixels without plate come out unchanged.
TEST(Shading, AccurateKnownValues) {
    plate::Params p;
    p.fillColor[0] = 1;
    const Accurate8 red(p);
    Accurate8::Local inside;
    red.plateFromDistance(-3, inside.plate);
    EXPECT_EQ(shaded(red, {0, 0, 0, 0}, inside), (Px8{255, 0, 0, 255}));
    EXPECT_EQ(shaded(red, {64, 0, 0, 128}, inside), (Px8{191, 0, 0, 255}));
    EXPECT_EQ(shaded(red, {10, 20, 30, 255}, inside), (Px8{10, 20, 30, 255}));
    // Half covered where the boundary runs through the pixel's centre.
    Accurate8::Local edge;
    red.plateFromDistance(0, edge.plate);
    EXPECT_EQ(shaded(red, {0, 0, 0, 0}, edge), (Px8{128, 0, 0, 128}));
    EXPECT_EQ(shaded(red, {9, 8, 7, 6}, Accurate8::Local{}), (Px8{9, 8, 7, 6}));

    // Straight colour is premultiplied on reading and divided by the stored alpha on writing.
    plate::Params w;
    w.fillColor[0] = w.fillColor[1] = w.fillColor[2] = 1;
    w.straight = true;
    const Accurate8 white(w);
    Accurate8::Local under;
    white.plateFromDistance(-3, under.plate);
    EXPECT_EQ(shaded(white, {128, 0, 0, 128}, under), (Px8{191, 127, 127, 255}));

    // The outline over the fill, centred on the boundary, strokeWidth on either side.
    plate::Params o;
    o.strokeWidth = 2;
    o.strokeColor[3] = 0.5f;
    const Accurate8 halfWhite(o);
    Accurate8::Local ring;
    halfWhite.plateFromDistance(-1, ring.plate); // fill whole, outline whole
    EXPECT_EQ(shaded(halfWhite, {0, 0, 0, 0}, ring), (Px8{128, 128, 128, 255}));
    halfWhite.plateFromDistance(-3, ring.plate); // past the outline's inner edge
    EXPECT_EQ(shaded(halfWhite, {0, 0, 0, 0}, ring), (Px8{0, 0, 0, 255}));
}

TEST(Shading, StoresSaturateAndNotANumberIsZero) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ((plate::storeTruncated<unsigned char, 255>(254.99f)), 254);
    EXPECT_EQ((plate::storeTruncated<unsigned char, 255>(300)), 255);
    EXPECT_EQ((plate::storeTruncated<unsigned char, 255>(-3)), 0);
    EXPECT_EQ((plate::storeTruncated<unsigned short, 65535>(nan)), 0);
    EXPECT_EQ((plate::storeRounded<unsigned char, 255>(254.5f)), 255);
    EXPECT_EQ((plate::storeRounded<unsigned char, 255>(0.49f)), 0);
    EXPECT_EQ((plate::storeRounded<unsigned short, 65535>(1e9f)), 65535);
    EXPECT_EQ((plate::storeRounded<unsigned char, 255>(nan)), 0);
    EXPECT_EQ((plate::storeRounded<float, 1>(1.5f)), 1.5f); // floats are not clamped
}

} // namespace
