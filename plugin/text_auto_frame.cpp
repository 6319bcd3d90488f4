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

/// The parameters' values at a time, as the host gives them (doubles), in the order they are
/// read.
struct TextAutoFramePlugin::Values {
    double marginX = 0, marginY = 0, yOffset = 0, cornerSize = 0, strokeWidth = 0;
    double detectionThreshold = 0, fillColor[4] = {0, 0, 0, 0}, strokeColor[4] = {0, 0, 0, 0};
    bool fillEnabled = false, strokeEnabled = false;
    int compositing = 0, plateLayout = 0;
    double lineGap = 16, innerCornerSize = 0;
    bool shadowEnabled = false;
    double shadowColor[4] = {0, 0, 0, 0}, shadowOffsetX = 0, shadowOffsetY = 0;
    double shadowSoftness = 0, minPlateWidth = 0, minPlateHeight = 0;
};

TextAutoFramePlugin::Values TextAutoFramePlugin::valuesAt(double time) const {
    Values v;
    marginX->getValueAtTime(time, v.marginX);
    marginY->getValueAtTime(time, v.marginY);
    yOffset->getValueAtTime(time, v.yOffset);
    cornerSize->getValueAtTime(time, v.cornerSize);
    strokeWidth->getValueAtTime(time, v.strokeWidth);
    detectionThreshold->getValueAtTime(time, v.detectionThreshold);
    double* fill = v.fillColor;
    fillColor->getValueAtTime(time, fill[0], fill[1], fill[2], fill[3]);
    double* line = v.strokeColor;
    strokeColor->getValueAtTime(time, line[0], line[1], line[2], line[3]);
    fillEnabled->getValueAtTime(time, v.fillEnabled);
    strokeEnabled->getValueAtTime(time, v.strokeEnabled);
    compositing->getValueAtTime(time, v.compositing);
    plateLayout->getValueAtTime(time, v.plateLayout);
    lineGap->getValueAtTime(time, v.lineGap);
    innerCornerSize->getValueAtTime(time, v.innerCornerSize);
    shadowEnabled->getValueAtTime(time, v.shadowEnabled);
    double* shadow = v.shadowColor;
    shadowColor->getValueAtTime(time, shadow[0], shadow[1], shadow[2], shadow[3]);
    shadowOffsetX->getValueAtTime(time, v.shadowOffsetX);
    shadowOffsetY->getValueAtTime(time, v.shadowOffsetY);
    shadowSoftness->getValueAtTime(time, v.shadowSoftness);
    minPlateWidth->getValueAtTime(time, v.minPlateWidth);
    minPlateHeight->getValueAtTime(time, v.minPlateHeight);
    return v;
}

namespace {

/// Distances in pixels of the full-size image, brought to the rendered one. Horizontal ones
/// follow the horizontal scale, vertical ones the vertical; the round ones (corner radii,
/// outline width, softness) the geometric mean of the two, which is the scale itself when they
/// agree.
void scaleDistances(TextAutoFramePlugin::Values& v, OfxPointD renderScale, bool columns) {
    const double sx = usableScale(renderScale.x);
    const double sy = usableScale(renderScale.y);
    const double round = std::sqrt(sx * sy);
    v.marginX *= sx;
    v.marginY *= sy;
    v.yOffset *= sy;
    // The gap between lines is rows; between vertical lines, columns.
    v.lineGap *= columns ? sx : sy;
    v.cornerSize *= round;
    v.innerCornerSize *= round;
    v.strokeWidth *= round;
    v.shadowOffsetX *= sx;
    v.shadowOffsetY *= sy;
    v.shadowSoftness *= round;
    v.minPlateWidth *= sx;
    v.minPlateHeight *= sy;
}

} // namespace

plate::Params TextAutoFramePlugin::paramsAt(const OFX::RenderArgs& args) const {
    Values v = valuesAt(args.time);
    // Any value but the accurate option's (a damaged project, say) keeps the original look, and
    // any but a known layout's draws the one plate.
    const bool accurate = v.compositing == static_cast<int>(plate::Compositing::Accurate);
    const plate::PlateLayout layout =
        v.plateLayout == static_cast<int>(plate::PlateLayout::Blocks)  ? plate::PlateLayout::Blocks
        : v.plateLayout == static_cast<int>(plate::PlateLayout::Lines) ? plate::PlateLayout::Lines
        : v.plateLayout == static_cast<int>(plate::PlateLayout::Columns)
            ? plate::PlateLayout::Columns
            : plate::PlateLayout::Whole;
    if (accurate)
        scaleDistances(v, args.renderScale, layout == plate::PlateLayout::Columns);

    auto f = [](double d) { return static_cast<float>(d); };
    plate::Params p;
    p.marginX = f(v.marginX);
    p.marginY = f(v.marginY);
    p.yOffset = f(v.yOffset);
    p.cornerSize = f(v.cornerSize);
    for (int c = 0; c < 4; ++c) {
        p.fillColor[c] = f(v.fillColor[c]);
        p.strokeColor[c] = f(v.strokeColor[c]);
        p.shadowColor[c] = f(v.shadowColor[c]);
    }
    p.fillEnabled = v.fillEnabled;
    p.strokeEnabled = v.strokeEnabled;
    p.strokeWidth = f(v.strokeWidth);
    p.detectionThreshold = f(v.detectionThreshold);
    p.compositing = accurate ? plate::Compositing::Accurate : plate::Compositing::Compatible;
    p.plateLayout = layout;
    p.lineGap = f(v.lineGap);
    p.innerCornerSize = f(v.innerCornerSize);
    p.shadowEnabled = v.shadowEnabled;
    p.shadowOffsetX = f(v.shadowOffsetX);
    p.shadowOffsetY = f(v.shadowOffsetY);
    p.shadowSoftness = f(v.shadowSoftness);
    p.minPlateWidth = f(v.minPlateWidth);
    p.minPlateHeight = f(v.minPlateHeight);
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
