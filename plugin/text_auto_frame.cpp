// The effect's instance: its clips and parameters, and the render driver that hands the
// processors the images and the parameter values of a render.
#include "text_auto_frame.h"
#include "text_auto_frame_processor_base.h"

#include <cmath>

TextAutoFramePlugin::TextAutoFramePlugin(OfxImageEffectHandle handle) : OFX::ImageEffect(handle) {
    // Hosts see the fetches in this order.
    outputClip = fetchClip(kOfxImageEffectOutputClipName);
    sourceClip = fetchClip(kOfxImageEffectSimpleSourceClipName);
    marginX = fetchDoubleParam("marginX");
    marginY = fetchDoubleParam("marginY");
    yOffset = fetchDoubleParam("yOffset");
    cornerSize = fetchDoubleParam("cornerSize");
    fillColor = fetchRGBAParam("fillColor");
    fillEnabled = fetchBooleanParam("fillEnabled");
    strokeColor = fetchRGBAParam("strokeColor");
    strokeWidth = fetchDoubleParam("strokeWidth");
    strokeEnabled = fetchBooleanParam("strokeEnabled");
    detectionThreshold = fetchDoubleParam("detectionThreshold");
    compositing = fetchChoiceParam("compositing");
    plateLayout = fetchChoiceParam("plateLayout");
    lineGap = fetchDoubleParam("lineGap");
    innerCornerSize = fetchDoubleParam("innerCornerSize");
    shadowEnabled = fetchBooleanParam("shadowEnabled");
    shadowColor = fetchRGBAParam("shadowColor");
    shadowOffsetX = fetchDoubleParam("shadowOffsetX");
    shadowOffsetY = fetchDoubleParam("shadowOffsetY");
    shadowSoftness = fetchDoubleParam("shadowSoftness");
    minPlateWidth = fetchDoubleParam("minPlateWidth");
    minPlateHeight = fetchDoubleParam("minPlateHeight");
}

namespace {

bool covers(const OfxRectI& bounds, const OfxRectI& window) {
    return bounds.x1 <= window.x1 && bounds.y1 <= window.y1 && window.x2 <= bounds.x2 &&
           window.y2 <= bounds.y2;
}

/// A render scale the host got wrong (zero, negative, not a number) counts as full size.
double usableScale(double scale) { return std::isfinite(scale) && scale > 0 ? scale : 1.0; }

} // namespace

void TextAutoFramePlugin::render(const OFX::RenderArgs& args) {
    const OFX::BitDepth depth = outputClip->getPixelDepth();
    const bool rgba = outputClip->getPixelComponents() == OFX::PixelComponents::RGBA;
    switch (depth) {
    case OFX::BitDepth::Byte:
        return rgba ? renderWithProcessor<unsigned char, 4, 255>(*this, args)
                    : renderWithProcessor<unsigned char, 1, 255>(*this, args);
    case OFX::BitDepth::Short:
        return rgba ? renderWithProcessor<unsigned short, 4, 65535>(*this, args)
                    : renderWithProcessor<unsigned short, 1, 65535>(*this, args);
    case OFX::BitDepth::Float:
        return rgba ? renderWithProcessor<float, 4, 1>(*this, args)
                    : renderWithProcessor<float, 1, 1>(*this, args);
    default:
        OFX::raiseSuiteStatus(kOfxStatErrUnsupported);
    }
}

void TextAutoFramePlugin::setupAndProcess(TextAutoFrameProcessorBase& processor,
                                          const OFX::RenderArgs& args) {
    // Declared in this order so that the source is released first.
    std::unique_ptr<OFX::Image> destination = outputClip->fetchImage(args.time);
    std::unique_ptr<OFX::Image> source = sourceClip->fetchImage(args.time);

    if (destination && source &&
        (destination->getPixelDepth() != source->getPixelDepth() ||
         destination->getPixelComponents() != source->getPixelComponents()))
        OFX::raiseSuiteStatus(kOfxStatErrFormat);

    const OfxRectI& window = args.renderWindow;
    const bool windowEmpty = window.x2 <= window.x1 || window.y2 <= window.y1;
    // The processors write every pixel of the window through the destination's rows: an
    // image that does not hold them, or holds pixels of another format, is refused before
    // anything is written.
    if (destination && !windowEmpty &&
        (destination->getPixelDepth() != processor.pixelDepth ||
         destination->getPixelComponents() != processor.pixelComponents ||
         !destination->getPixelData() || !covers(destination->getBounds(), window)))
        OFX::raiseSuiteStatus(kOfxStatErrImageFormat);

    processor.params = paramsAt(args);
    processor.params.straight =
        source && source->getPremultiplication() == OFX::AlphaPremultiplication::UnPremultiplied;
    processor.destinationImage = destination.get();
    processor.sourceImage = source.get();
    processor.renderWindow = window;
    processor.process();
}

plate::Params TextAutoFramePlugin::paramsAt(const OFX::RenderArgs& args) const {
    double mx = 0, my = 0, offset = 0, corner = 0, stroke = 0, threshold = 0;
    double fill[4] = {0, 0, 0, 0}, line[4] = {0, 0, 0, 0};
    bool fillOn = false, strokeOn = false;
    marginX->getValueAtTime(args.time, mx);
    marginY->getValueAtTime(args.time, my);
    yOffset->getValueAtTime(args.time, offset);
    cornerSize->getValueAtTime(args.time, corner);
    strokeWidth->getValueAtTime(args.time, stroke);
    detectionThreshold->getValueAtTime(args.time, threshold);
    fillColor->getValueAtTime(args.time, fill[0], fill[1], fill[2], fill[3]);
    strokeColor->getValueAtTime(args.time, line[0], line[1], line[2], line[3]);
    fillEnabled->getValueAtTime(args.time, fillOn);
    strokeEnabled->getValueAtTime(args.time, strokeOn);
    int mode = 0;
    compositing->getValueAtTime(args.time, mode);
    // Any value but the accurate option's (a damaged project, say) keeps the original look.
    const bool accurate = mode == static_cast<int>(plate::Compositing::Accurate);
    int layout = 0;
    plateLayout->getValueAtTime(args.time, layout);
    double gap = 16, inner = 0;
    lineGap->getValueAtTime(args.time, gap);
    innerCornerSize->getValueAtTime(args.time, inner);
    bool shadowOn = false;
    double shadow[4] = {0, 0, 0, 0}, shadowX = 0, shadowY = 0, softness = 0;
    double leastWidth = 0, leastHeight = 0;
    shadowEnabled->getValueAtTime(args.time, shadowOn);
    shadowColor->getValueAtTime(args.time, shadow[0], shadow[1], shadow[2], shadow[3]);
    shadowOffsetX->getValueAtTime(args.time, shadowX);
    shadowOffsetY->getValueAtTime(args.time, shadowY);
    shadowSoftness->getValueAtTime(args.time, softness);
    minPlateWidth->getValueAtTime(args.time, leastWidth);
    minPlateHeight->getValueAtTime(args.time, leastHeight);
    // Any value but a known option's (a damaged project, say) draws the one plate.
    const plate::PlateLayout arrangement =
        layout == static_cast<int>(plate::PlateLayout::Blocks)    ? plate::PlateLayout::Blocks
        : layout == static_cast<int>(plate::PlateLayout::Lines)   ? plate::PlateLayout::Lines
        : layout == static_cast<int>(plate::PlateLayout::Columns) ? plate::PlateLayout::Columns
                                                                  : plate::PlateLayout::Whole;
    if (accurate) {
        // Distances are pixels of the full-size image. Horizontal ones follow the horizontal
        // scale, vertical ones the vertical; the round ones (corner radius, outline width)
        // follow the geometric mean of the two, which is the scale itself when they agree.
        const double sx = usableScale(args.renderScale.x);
        const double sy = usableScale(args.renderScale.y);
        const double round = std::sqrt(sx * sy);
        mx *= sx;
        my *= sy;
        offset *= sy;
        // The gap between lines is rows; between vertical lines, columns.
        gap *= arrangement == plate::PlateLayout::Columns ? sx : sy;
        corner *= round;
        inner *= round;
        stroke *= round;
        shadowX *= sx;
        shadowY *= sy;
        softness *= round;
        leastWidth *= sx;
        leastHeight *= sy;
    }

    plate::Params p;
    p.marginX = static_cast<float>(mx);
    p.marginY = static_cast<float>(my);
    p.yOffset = static_cast<float>(offset);
    p.cornerSize = static_cast<float>(corner);
    for (int c = 0; c < 4; ++c) {
        p.fillColor[c] = static_cast<float>(fill[c]);
        p.strokeColor[c] = static_cast<float>(line[c]);
    }
    p.fillEnabled = fillOn;
    p.strokeEnabled = strokeOn;
    p.strokeWidth = static_cast<float>(stroke);
    p.detectionThreshold = static_cast<float>(threshold);
    p.compositing = accurate ? plate::Compositing::Accurate : plate::Compositing::Compatible;
    p.plateLayout = arrangement;
    p.lineGap = static_cast<float>(gap);
    p.innerCornerSize = static_cast<float>(inner);
    p.shadowEnabled = shadowOn;
    for (int c = 0; c < 4; ++c)
        p.shadowColor[c] = static_cast<float>(shadow[c]);
    p.shadowOffsetX = static_cast<float>(shadowX);
    p.shadowOffsetY = static_cast<float>(shadowY);
    p.shadowSoftness = static_cast<float>(softness);
    p.minPlateWidth = static_cast<float>(leastWidth);
    p.minPlateHeight = static_cast<float>(leastHeight);
    return p;
}

bool TextAutoFramePlugin::getRegionOfDefinition(const OFX::RegionOfDefinitionArgs& args,
                                                OfxRectD& rod) {
    rod = sourceClip->getRegionOfDefinition(args.time);
    return true;
}

void TextAutoFramePlugin::getRegionsOfInterest(const OFX::RegionsOfInterestArgs& args,
                                               OFX::RegionOfInterestSetter& rois) {
    // The plate depends on the whole source, not on the part being rendered: a host that
    // renders in tiles must hand every tile all of it, or each tile draws its own plate.
    rois.setRegionOfInterest(*sourceClip, sourceClip->getRegionOfDefinition(args.time));
}
