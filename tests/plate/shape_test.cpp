// The plate's geometry on its own: inside tests and distances of rounded rectangles and of
// unions of rectangles, in both conventions of where the edge runs, and the per-row reach,
// inner and straight runs that the drawing takes its shortcuts by.
#include "plate_shading.h"
#include "plate_shape.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using plate::Edges;
using plate::PlateRect;
using plate::Shape;

Shape compatible(const plate::Plate& plate, float corner, double reach = 0) {
    return Shape(plate, corner, 0, Edges::OnPositions, reach, true);
}
Shape accurate(const plate::Plate& plate, float corner, double reach = 0) {
    return Shape(plate, corner, 0, Edges::HalfPixelOutside, reach, true);
}

// The compatible rectangle's edges run through the positions and belong to it; corners are
// cut by circles of the radius, which never exceeds half the shorter side.
TEST(Shapes, CompatibleRoundedRectangle) {
    const Shape square = compatible({{10, 20, 30, 40}}, 0);
    EXPECT_TRUE(square.inside(10, 30));
    EXPECT_TRUE(square.inside(30, 40));
    EXPECT_FALSE(square.inside(9.9f, 30));
    EXPECT_FALSE(square.inside(30, 40.1f));
    EXPECT_FLOAT_EQ(square.distance(10, 30), 0);
    EXPECT_FLOAT_EQ(square.distance(20, 30), 10);
    EXPECT_FLOAT_EQ(square.distance(5, 30), 5);
    EXPECT_FLOAT_EQ(square.distance(7, 16), 5); // beyond a square corner: to the corner point

    const Shape round = compatible({{10, 20, 30, 40}}, 5);
    EXPECT_FALSE(round.inside(10, 20));
    EXPECT_TRUE(round.inside(11.5f, 21.5f));
    EXPECT_TRUE(round.inside(15, 20)); // left + radius: in no corner zone
    EXPECT_NEAR(round.distance(10, 20), std::sqrt(50.0f) - 5, 1e-5);
    EXPECT_FLOAT_EQ(round.distance(20, 20), 0);

    // A radius past half the shorter side makes a pill; a negative one squares the corners.
    const Shape pill = compatible({{0, 0, 40, 10}}, 100);
    EXPECT_FALSE(pill.inside(0.5f, 0.5f));
    EXPECT_TRUE(pill.inside(5, 0));
    EXPECT_FLOAT_EQ(pill.distance(5, 5), 5);
    EXPECT_TRUE(compatible({{10, 20, 30, 40}}, -3).inside(10, 20));
}

// The accurate rectangle's boundary runs half a pixel outside the outermost positions: a pixel
// on the rectangle's edge is covered whole, the next one out not at all.
TEST(Shapes, AccurateEdgeIsHalfAPixelOutside) {
    const Shape square = accurate({{10, 20, 30, 40}}, 0);
    EXPECT_FLOAT_EQ(square.signedDistance(10, 30), -0.5f);
    EXPECT_FLOAT_EQ(square.signedDistance(9.5f, 30), 0);
    EXPECT_FLOAT_EQ(square.signedDistance(9, 30), 0.5f);
    EXPECT_FLOAT_EQ(square.signedDistance(20, 30), -10.5f);
    EXPECT_FLOAT_EQ(square.signedDistance(30, 41), 0.5f);
    EXPECT_FLOAT_EQ(square.signedDistance(8.5f, 18.5f), std::sqrt(2.0f));
    using Accurate8 = plate::AccurateShading<unsigned char, 255>;
    EXPECT_EQ(Accurate8::coverage(square.signedDistance(10, 30)), 1.0f);
    EXPECT_EQ(Accurate8::coverage(square.signedDistance(9, 30)), 0.0f);

    const Shape round = accurate({{10, 20, 30, 40}}, 4);
    EXPECT_NEAR(round.signedDistance(9.5f, 19.5f), std::sqrt(32.0f) - 4, 1e-5);
    EXPECT_FLOAT_EQ(round.signedDistance(9.5f, 30), 0);
    // Inverted (an offset past the frame): no inside and no edge.
    EXPECT_TRUE(accurate({{10, 20, 30, 17}}, 0).empty());
    EXPECT_FALSE(compatible({{10, 20, 30, 17}}, 0).empty());
}

// Two lines, a wide one below and a narrow one on top, touching: one shape whose edge is
// the union's outer edge only; convex corners are rounded by at most half of either edge.
TEST(Shapes, UnionOfTouchingLines) {
    const plate::Plate lines = {{0, 0, 40, 10}, {10, 10, 30, 20}};
    const Shape square = compatible(lines, 0);
    EXPECT_FALSE(square.single());
    EXPECT_TRUE(square.inside(20, 10));          // on the seam
    EXPECT_TRUE(square.inside(20, 15));          // in the narrow line
    EXPECT_FALSE(square.inside(5, 15));          // beside it
    EXPECT_FLOAT_EQ(square.distance(20, 11), 9); // no edge along the seam
    EXPECT_FLOAT_EQ(square.distance(5, 10), 0);  // the wide line's exposed top
    EXPECT_FLOAT_EQ(square.distance(10, 10), 0); // the concave corner
    EXPECT_FLOAT_EQ(square.distance(5, 12), 2);

    // Corner size 8: every convex corner meets an edge 10 long, so its radius is 5.
    const Shape round = compatible(lines, 8);
    EXPECT_FALSE(round.inside(0.5f, 0.5f));
    EXPECT_TRUE(round.inside(2, 2));
    EXPECT_FALSE(round.inside(10.5f, 19.5f));
    EXPECT_TRUE(round.inside(10, 10)); // concave corners stay square
    EXPECT_NEAR(round.distance(0, 0), std::sqrt(50.0f) - 5, 1e-5);

    // The accurate union grows every line by half a pixel.
    const Shape grown = accurate(lines, 0);
    EXPECT_FLOAT_EQ(grown.signedDistance(20, 15), -5.5f);
    EXPECT_FLOAT_EQ(grown.signedDistance(5, 15), 4.5f);
    EXPECT_FLOAT_EQ(grown.signedDistance(-0.5f, 5), 0);
}

Shape filleted(const plate::Plate& plate, float corner, float inner, Edges edges) {
    return Shape(plate, corner, inner, edges, 0, true);
}

// Concave corners, where the narrow line meets the wide one, filled in by a fillet: a quarter
// circle that joins the two edges, which stop where it begins, so the outline runs on without a
// break. It takes at most half of either edge, and 0 keeps the corner square.
TEST(Shapes, FilletsFillConcaveCorners) {
    const plate::Plate lines = {{0, 0, 40, 10}, {10, 10, 30, 20}};
    const Shape square = filleted(lines, 0, 0, Edges::OnPositions);
    const Shape round = filleted(lines, 0, 4, Edges::OnPositions);
    EXPECT_FALSE(square.inside(9, 11));
    EXPECT_TRUE(round.inside(9, 11));  // in the fillet
    EXPECT_TRUE(round.inside(31, 11)); // and in its mirror image
    EXPECT_FALSE(round.inside(7, 13)); // beyond it
    EXPECT_FALSE(round.inside(5, 11)); // beside the corner's reach
    EXPECT_NEAR(round.distance(9, 11), std::sqrt(18.0f) - 4, 1e-5);
    EXPECT_FLOAT_EQ(round.distance(10, 14), 0); // where the fillet meets the narrow line's side
    EXPECT_FLOAT_EQ(round.distance(6, 10), 0);  // and the wide line's top
    EXPECT_FLOAT_EQ(round.distance(10, 12), 0.0f + std::sqrt(16.0f + 4.0f) - 4);
    EXPECT_FLOAT_EQ(round.distance(3, 10), 0); // the top edge still runs beyond the fillet
    // Outer corners unchanged by the fillets.
    EXPECT_EQ(square.inside(0.5f, 0.5f), round.inside(0.5f, 0.5f));

    // Never more than half of either edge: here the narrow line's side is 10 long.
    const Shape big = filleted(lines, 0, 100, Edges::OnPositions);
    EXPECT_TRUE(big.inside(5.9f, 10.05f));
    EXPECT_FALSE(round.inside(5.9f, 10.05f));
    EXPECT_FALSE(big.inside(4.9f, 10.05f));
    // A wide line's top left of the narrow one only 2 long: the convex corner and the fillet
    // take one each.
    const Shape narrowStep = filleted({{0, 0, 40, 10}, {2, 10, 38, 20}}, 8, 8, Edges::OnPositions);
    EXPECT_TRUE(narrowStep.inside(1.9f, 10.05f));
    EXPECT_FALSE(narrowStep.inside(0.05f, 9.95f));
    EXPECT_FLOAT_EQ(narrowStep.distance(1, 10), 0);

    // The accurate shape: the same, half a pixel further out, as a signed distance.
    const Shape accurateRound = filleted(lines, 0, 4, Edges::HalfPixelOutside);
    EXPECT_LT(accurateRound.signedDistance(9, 11), 0);
    EXPECT_GT(accurateRound.signedDistance(7, 13), 0);
    const float h = 2 * std::sqrt(2.0f); // on the arc, centred (5.5, 14.5) with radius 4
    EXPECT_NEAR(accurateRound.signedDistance(5.5f + h, 14.5f - h), 0, 1e-5);
}

// A union of one rectangle with a copy of itself is that rectangle: the union's arithmetic
// and the rounded rectangle's agree, in both conventions, corners included.
TEST(Shapes, UnionOfOneRectangleIsTheRoundedRectangle) {
    for (float corner : {0.0f, 3.0f, 7.5f}) {
        const PlateRect r{3, 5, 27, 19};
        const Shape lone = compatible({r}, corner), twice = compatible({r, r}, corner);
        const Shape loneA = accurate({r}, corner), twiceA = accurate({r, r}, corner);
        for (float y = 0; y <= 24; y += 0.5f)
            for (float x = -2; x <= 32; x += 0.5f) {
                ASSERT_EQ(lone.inside(x, y), twice.inside(x, y)) << x << "," << y << " " << corner;
                ASSERT_NEAR(lone.distance(x, y), twice.distance(x, y), 1e-4)
                    << x << "," << y << " " << corner;
                ASSERT_NEAR(loneA.signedDistance(x, y), twiceA.signedDistance(x, y), 1e-4)
                    << x << "," << y << " " << corner;
            }
    }
}

/// Random line shapes as the layout makes them: rectangles bottom to top (or, for vertical
/// lines, left to right), each touching or overlapping the one before, some alone.
plate::Plate randomPlate(std::mt19937& rng) {
    const int n = 1 + static_cast<int>(rng() % 4);
    const bool columns = rng() % 3 == 0;
    plate::Plates plates;
    float start = static_cast<float>(rng() % 20);
    for (int i = 0; i < n; ++i) {
        const float across = static_cast<float>(rng() % 30) + 0.5f * (rng() % 2);
        const float wide = static_cast<float>(4 + rng() % 40);
        const float deep = static_cast<float>(3 + rng() % 15) + 0.5f * (rng() % 2);
        const PlateRect r = columns ? PlateRect{start, across, start + deep, across + wide}
                                    : PlateRect{across, start, across + wide, start + deep};
        plate::addLinePlate(plates, r, i == 0,
                            columns ? plate::Along::Columns : plate::Along::Rows);
        start += deep - static_cast<float>(rng() % 4);
    }
    return plates.front();
}

template <class S> bool same(const typename S::Local& a, const typename S::Local& b) {
    if constexpr (std::is_same_v<S, plate::AccurateShading<unsigned char, 255>>)
        return std::equal(a.plate, a.plate + 4, b.plate);
    else
        return a.inFill == b.inFill && a.inStroke == b.inStroke && a.coverage == b.coverage;
}

// What the drawing's shortcuts rely on, over random shapes, corners and outlines in both
// arithmetics: beyond a rectangle's reach nothing of the plate shows; inside its inner rows and
// columns, and in a union's inner runs, the plate is the interior; along a straight run it is
// the same at every column.
template <class S> void checkRuns(std::mt19937& rng) {
    plate::Params p;
    for (int round = 0; round < 150; ++round) {
        p.cornerSize = static_cast<float>(rng() % 12) * 0.75f;
        p.innerCornerSize = rng() % 2 ? 0.0f : static_cast<float>(rng() % 32) * 0.75f;
        p.strokeWidth = static_cast<float>(rng() % 5) * 0.75f;
        p.strokeEnabled = rng() % 3 != 0;
        p.fillEnabled = rng() % 4 != 0;
        const S s(p);
        const plate::Plate plate = randomPlate(rng);
        const Shape shape(plate, p.cornerSize, p.innerCornerSize, S::kEdges, p.outlineReach(),
                          p.fillEnabled || p.strokeActive());
        const Shape* const one[] = {&shape};
        typename S::Local nothing, interior;
        if constexpr (std::is_same_v<S, plate::AccurateShading<unsigned char, 255>>)
            std::copy(s.interior, s.interior + 4, interior.plate);
        else
            interior.inFill = p.fillEnabled;
        for (float py = -12; py < 90; py += 0.5f) {
            Shape near = shape;
            near.keepNear(py);
            const Shape* const nearOne[] = {&near};
            for (const plate::SpanBounds& b : shape.spanBounds()) {
                ASSERT_TRUE(b.valid);
                for (float px = -12; px < 100; px += 0.5f) {
                    const auto l = s.localAt(one, 1, px, py);
                    const bool outside = px < b.reachLeft || px > b.reachRight ||
                                         py < b.reachBottom || py > b.reachTop;
                    bool beyondAll = outside;
                    for (const plate::SpanBounds& other : shape.spanBounds())
                        beyondAll = beyondAll && (px < other.reachLeft || px > other.reachRight ||
                                                  py < other.reachBottom || py > other.reachTop);
                    if (beyondAll) {
                        ASSERT_TRUE(same<S>(l, nothing)) << px << "," << py << " round " << round;
                    }
                    if (px >= b.innerLeft && px <= b.innerRight && py >= b.innerBottom &&
                        py <= b.innerTop) {
                        ASSERT_TRUE(same<S>(l, interior)) << px << "," << py << " round " << round;
                    }
                    if (!outside) {
                        ASSERT_TRUE(same<S>(l, s.localAt(nearOne, 1, px, py)))
                            << px << "," << py << " round " << round;
                    }
                }
            }
            double lo, hi;
            shape.innerRun(py, lo, hi);
            for (double px = std::ceil(lo); px <= hi; px += 1)
                ASSERT_TRUE(same<S>(s.localAt(one, 1, static_cast<float>(px), py), interior))
                    << px << "," << py << " round " << round;
            shape.straightRun(py, -20, 120, lo, hi);
            for (double px = std::ceil(lo); px <= hi; px += 1)
                ASSERT_TRUE(same<S>(s.localAt(one, 1, static_cast<float>(px), py),
                                    s.localAt(one, 1, static_cast<float>(std::ceil(lo)), py)))
                    << px << "," << py << " round " << round;
        }
    }
}

TEST(Shapes, ReachInnerAndStraightRunsHoldForRandomShapes) {
    std::mt19937 rng(42);
    checkRuns<plate::CompatibleShading<unsigned char, 255>>(rng);
    checkRuns<plate::AccurateShading<unsigned char, 255>>(rng);
}

} // namespace
