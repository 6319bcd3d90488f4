// The effect's parameters as the pixel work sees them: plain values, filled once per render
// by the effect (distances already scaled where the compositing mode asks for it), then only
// read. Nothing here knows of OFX.
#pragma once

#include <cmath>

namespace plate {

/// How the plate and the source are combined; the values are the options of the
/// "compositing" parameter.
enum class Compositing {
    Compatible = 0, ///< the effect's original arithmetic, kept for existing projects
    Accurate = 1,   ///< source over an antialiased plate, in premultiplied space
};

/// What one plate surrounds; the values are the options of the "plateLayout" parameter.
enum class PlateLayout {
    Whole = 0,   ///< all the text of the frame: one plate
    Blocks = 1,  ///< each block of text whose plates would touch
    Lines = 2,   ///< each line of each block; touching line plates form one shape
    Columns = 3, ///< each vertical line of each block; touching plates form one shape
};

struct Params {
    float marginX = 20;                ///< pixels; applied twice on the left and on the right
    float marginY = 20;                ///< pixels; applied once below and above
    float yOffset = 0;                 ///< pixels; positive moves the plate up
    float cornerSize = 0;              ///< pixels; limited to half the plate's smaller side
    float fillColor[4] = {0, 0, 0, 1}; ///< straight R, G, B, A
    bool fillEnabled = true;
    float strokeColor[4] = {1, 1, 1, 1}; ///< straight R, G, B, A
    float strokeWidth = 0;               ///< half-width of the outline band, pixels
    bool strokeEnabled = true;
    float detectionThreshold = 0.1f; ///< fraction of the channel's full scale
    Compositing compositing = Compositing::Compatible;
    PlateLayout plateLayout = PlateLayout::Whole;
    float lineGap = 16; ///< rows (columns) without text, at least this many, separate two lines
    float innerCornerSize = 0; ///< radius of the concave corners of joined plates
    bool shadowEnabled = false;
    float shadowColor[4] = {0, 0, 0, 0.5f}; ///< straight R, G, B, A
    float shadowOffsetX = 6;                ///< pixels, right on screen
    float shadowOffsetY = 6;                ///< pixels, down on screen
    float shadowSoftness = 8;               ///< pixels: twice the blur's standard deviation
    float minPlateWidth = 0;                ///< pixels; every plate at least this wide
    float minPlateHeight = 0;               ///< and this tall
    bool straight = false;                  ///< the source holds straight (un-premultiplied) colour

    /// Whether the layout splits blocks into lines, horizontal or vertical.
    bool splitsLines() const {
        return plateLayout == PlateLayout::Lines || plateLayout == PlateLayout::Columns;
    }
    /// Whether an outline is drawn at all.
    bool strokeActive() const { return strokeEnabled && strokeWidth > 0; }
    /// The outline's half-width where it is drawn, 0 where it is not.
    double outlineReach() const { return strokeActive() ? strokeWidth : 0.0; }

    /// False when a distance, the threshold or a colour component is not a finite number:
    /// the frame is then copied, not drawn over.
    bool finite() const {
        const float values[] = {marginX,        marginY,        yOffset,
                                cornerSize,     strokeWidth,    detectionThreshold,
                                fillColor[0],   fillColor[1],   fillColor[2],
                                fillColor[3],   strokeColor[0], strokeColor[1],
                                strokeColor[2], strokeColor[3], innerCornerSize};
        for (float v : values)
            if (!std::isfinite(v))
                return false;
        if (!std::isfinite(minPlateWidth) || !std::isfinite(minPlateHeight))
            return false;
        // The shadow's values matter only where there is a shadow.
        const float shadow[] = {shadowColor[0], shadowColor[1], shadowColor[2], shadowColor[3],
                                shadowOffsetX,  shadowOffsetY,  shadowSoftness};
        for (float v : shadow)
            if (shadowEnabled && !std::isfinite(v))
                return false;
        // The line gap is a distance of the layouts that group text; the one plate ignores it.
        return plateLayout == PlateLayout::Whole || std::isfinite(lineGap);
    }
};

} // namespace plate
