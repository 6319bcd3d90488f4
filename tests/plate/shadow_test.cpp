// The shadow's coverage against a brute-force Gaussian blur of the shape's coverage: the
// shape's pixels sampled 64 × 64 times each, then every pixel's coverage spread over its
// neighbours by the Gaussian's weight, pixel by pixel. And the pieces that make it up.
#include "plate_shadow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using plate::PlateRect;

/// The shape's coverage of every pixel of [0, w) × [0, h), sampled: what the shadow blurs.
std::vector<double> sampledCoverage(const plate::Plate& plate, float grow, float convex,
                                    float concave, int w, int h) {
    std::vector<plate::UnionOutline::Rect> rects;
    for (const PlateRect& p : plate)
        rects.push_back({p.left - grow, p.bottom - grow, p.right + grow, p.top + grow});
    const plate::UnionOutline shape(rects, convex, concave);
    constexpr int kSamples = 64;
    std::vector<double> coverage(static_cast<size_t>(w * h), 0.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int in = 0;
            for (int j = 0; j < kSamples; ++j)
                for (int i = 0; i < kSamples; ++i)
                    in += shape.inside(x - 0.5f + (i + 0.5f) / kSamples,
                                       y - 0.5f + (j + 0.5f) / kSamples);
            coverage[static_cast<size_t>(y * w + x)] = in / double(kSamples * kSamples);
        }
    return coverage;
}

/// The Gaussian blur of a coverage image at pixel (px, py), the image moved by (dx, dy).
double blurred(const std::vector<double>& coverage, int w, int h, double sigma, int px, int py,
               int dx, int dy) {
    double sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            sum += coverage[static_cast<size_t>(y * w + x)] *
                   plate::pixelWeight(px - dx - x, sigma) * plate::pixelWeight(py - dy - y, sigma);
    return sum;
}

struct Case {
    const char* what;
    plate::Plate plate;
    float corner, inner, softness;
    float outline = 0; ///< above 0: no fill, an outline this wide (the shadow of a ring)
};

// Within 1 % of full scale everywhere: square and rounded corners, a joined shape with and
// without fillets, a hard edge and wide blurs (which sample on a coarser grid), and without a
// fill, the ring of the outline alone.
TEST(Shadow, CoverageIsTheGaussianBlurOfTheShape) {
    const int w = 72, h = 60;
    const Case cases[] = {
        {"square, hard", {{20, 18, 41, 33}}, 0, 0, 0},
        {"square, soft", {{20, 18, 41, 33}}, 0, 0, 6},
        {"rounded, hard", {{20, 18, 41, 33}}, 7, 0, 0},
        {"rounded, soft", {{20, 18, 41, 33}}, 7, 0, 3},
        {"fractional edges", {{20.3f, 17.6f, 40.8f, 33.25f}}, 4.5f, 0, 2},
        {"joined", {{14, 14, 50, 24}, {22, 24, 40, 38}}, 5, 0, 4},
        {"joined, fillets", {{14, 14, 50, 24}, {22, 24, 40, 38}}, 5, 6, 4},
        {"joined, fillets, hard", {{14, 14, 50, 24}, {22, 24, 40, 38}}, 5, 6, 0},
        {"wide", {{26, 20, 45, 38}}, 6, 0, 40},
        {"ring", {{20, 18, 41, 33}}, 7, 0, 2, 3},
        {"ring, hard", {{20, 18, 41, 33}}, 7, 0, 0, 3},
        {"ring, joined, fillets", {{14, 14, 50, 24}, {22, 24, 40, 38}}, 5, 6, 4, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        plate::Params p;
        p.shadowEnabled = true;
        p.cornerSize = c.corner;
        p.innerCornerSize = c.inner;
        p.shadowSoftness = c.softness;
        p.shadowOffsetX = 3;
        p.shadowOffsetY = 2; // down on screen: -2 in the image's own rows
        p.fillEnabled = c.outline == 0;
        p.strokeWidth = c.outline;
        const plate::ShadowField field(p, {c.plate}, 0.0);
        ASSERT_TRUE(field.active());
        // Without a fill: the plate grown by the outline, less the plate shrunk by it.
        const float o = c.outline;
        std::vector<double> coverage =
            sampledCoverage(c.plate, 0.5f + o, c.corner + o, c.inner - o, w, h);
        if (o > 0) {
            const std::vector<double> hole =
                sampledCoverage(c.plate, 0.5f - o, c.corner - o, c.inner + o, w, h);
            for (size_t i = 0; i < coverage.size(); ++i)
                coverage[i] -= hole[i];
        }
        const double sigma = c.softness / 2;
        const int stride = c.softness > 10 ? 3 : 1;
        double least = 1, most = 0; // the comparison must see the shadow and beyond it
        for (int y = 0; y < h; y += stride)
            for (int x = 0; x < w; x += stride) {
                const double exact = blurred(coverage, w, h, sigma, x, y, 3, -2);
                const double ours = field.coverage(x, y) / double(plate::ShadowField::kLevels);
                least = std::min(least, exact);
                most = std::max(most, exact);
                ASSERT_NEAR(ours, exact, 0.01) << x << "," << y;
            }
        EXPECT_LT(least, 0.01);
        EXPECT_GT(most, c.softness > 10 ? 0.1 : c.outline > 0 ? 0.5 : 0.99);
    }
}

// What the pieces rest on: the area of a quarter disc within a box, against a fine sum.
TEST(Shadow, QuarterDiscAreas) {
    const double r = 5;
    const double boxes[][4] = {{0, 5, 0, 5},     {0, 1, 0, 1},   {4, 5, 4, 5},
                               {2.5, 3.5, 3, 4}, {0, 5, 4.5, 5}, {3.2, 4.9, 0.1, 2}};
    for (const auto& b : boxes) {
        double sum = 0;
        const int n = 2000;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                const double u = b[0] + (b[1] - b[0]) * (i + 0.5) / n;
                const double v = b[2] + (b[3] - b[2]) * (j + 0.5) / n;
                sum += u * u + v * v <= r * r;
            }
        const double fine = sum * (b[1] - b[0]) * (b[3] - b[2]) / (double(n) * n);
        EXPECT_NEAR(plate::quarterDiscArea(r, b[0], b[1], b[2], b[3]), fine, 1e-4)
            << b[0] << " " << b[1] << " " << b[2] << " " << b[3];
    }
    const double pi = std::acos(-1.0);
    EXPECT_NEAR(plate::quarterDiscArea(r, 0, r, 0, r), pi * r * r / 4, 1e-9);
}

// An edge's blur is the sum over its pixels of their coverage times the Gaussian's weights.
TEST(Shadow, EdgeBlurSumsThePixelsBelowTheEdge) {
    for (double sigma : {0.0, 0.7, 3.0})
        for (double b : {10.5, 10.2, 9.95})
            for (double p : {5.0, 9.0, 10.0, 10.5, 12.0, 16.0}) {
                double sum = 0;
                for (int i = -40; i < 60; ++i)
                    sum += std::clamp(b - i + 0.5, 0.0, 1.0) * plate::pixelWeight(p - i, sigma);
                EXPECT_NEAR(plate::edgeBlur(b, p, sigma), sum, 1e-12)
                    << sigma << " " << b << " " << p;
            }
}

// The rows the drawing asks for hold what each pixel is on its own, on the fine grid and the
// coarse one.
TEST(Shadow, RowsAreTheCoverageOfTheirPixels) {
    for (float softness : {4.0f, 70.0f}) {
        plate::Params p;
        p.shadowEnabled = true;
        p.shadowSoftness = softness;
        p.cornerSize = 6;
        const plate::ShadowField field(p, {{{100, 80, 200, 120}}, {{150, 150, 170, 160}}}, 2.0);
        plate::ShadowField::RowCache cache;
        std::vector<int> row(400);
        for (int y = -20; y < 320; y += 7) {
            field.row(y, -60, 340, row.data(), cache);
            for (int x = -60; x < 340; ++x)
                ASSERT_EQ(row[static_cast<size_t>(x + 60)], field.coverage(x, y)) << x << "," << y;
        }
    }
}

} // namespace
