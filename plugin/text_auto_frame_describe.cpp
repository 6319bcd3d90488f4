// The effect's factory: its identity, its clips and its parameters as hosts list them.
#include "plate_params.h"
#include "text_auto_frame.h"

#include <initializer_list>

namespace {

constexpr const char* kPluginIdentifier = "com.example.nimbra.jp";
constexpr unsigned int kPluginVersionMajor = 2;
constexpr unsigned int kPluginVersionMinor = 0;

TextAutoFramePluginFactory gFactory(kPluginIdentifier, kPluginVersionMajor, kPluginVersionMinor);

struct DoubleParamDefinition {
    const char* name;
    const char* label;
    double defaultValue, min, max, displayMin, displayMax;
    const char* hint;
};

void defineDouble(OFX::ImageEffectDescriptor& desc, OFX::PageParamDescriptor& page,
                  const DoubleParamDefinition& definition, bool animates = true) {
    OFX::DoubleParamDescriptor* param = desc.defineDoubleParam(definition.name);
    param->setLabels(definition.label, definition.label, definition.label);
    param->setHint(definition.hint);
    param->setDefault(definition.defaultValue);
    param->setRange(definition.min, definition.max);
    param->setDisplayRange(definition.displayMin, definition.displayMax);
    param->setAnimates(animates);
    page.addChild(*param);
}

void defineBoolean(OFX::ImageEffectDescriptor& desc, OFX::PageParamDescriptor& page,
                   const char* name, const char* label, bool defaultValue, const char* hint,
                   bool animates = true) {
    OFX::BooleanParamDescriptor* param = desc.defineBooleanParam(name);
    param->setLabels(label, label, label);
    param->setHint(hint);
    param->setDefault(defaultValue);
    param->setAnimates(animates);
    page.addChild(*param);
}

void defineColour(OFX::ImageEffectDescriptor& desc, OFX::PageParamDescriptor& page,
                  const char* name, const char* label, double r, double g, double b, double a,
                  const char* hint) {
    OFX::RGBAParamDescriptor* param = desc.defineRGBAParam(name);
    param->setLabels(label, label, label);
    param->setHint(hint);
    param->setDefault(r, g, b, a);
    param->setAnimates(true);
    page.addChild(*param);
}

/// A choice of ways of working: its options in order (stored projects keep their indexes, so
/// new ones are only appended), not animated.
void defineChoice(OFX::ImageEffectDescriptor& desc, OFX::PageParamDescriptor& page,
                  const char* name, const char* label, std::initializer_list<const char*> options,
                  int defaultIndex, const char* hint) {
    OFX::ChoiceParamDescriptor* param = desc.defineChoiceParam(name);
    param->setLabels(label, label, label);
    param->setHint(hint);
    for (const char* option : options)
        param->appendOption(option);
    param->setDefault(defaultIndex);
    param->setAnimates(false);
    page.addChild(*param);
}

// Tooltips: what each parameter does and in which unit, in Japanese, then in English.
constexpr const char* kMarginXHint =
    "文字の左右の余白（ピクセル）。枠は文字から左右それぞれこの値の 2 倍だけ広がります。\n"
    "Room left and right of the text, in pixels: the plate reaches twice this value beyond "
    "the text on each side.";
constexpr const char* kMarginYHint =
    "文字の上下の余白（ピクセル）。上下それぞれこの値だけ広がります。\n"
    "Room below and above the text, in pixels, once on each side.";
constexpr const char* kYOffsetHint =
    "枠（文字ではなく）を上下に動かす量（ピクセル）。正の値で上へ、負の値で下へ。\n"
    "Moves the plate (not the text), in pixels: up for positive values, down for negative ones.";
constexpr const char* kCornerSizeHint =
    "角の丸みの半径（ピクセル）。枠の短い辺の半分までに制限されます。0 で直角。\n"
    "Corner radius in pixels, limited to half the plate's shorter side; 0 gives square corners.";
constexpr const char* kFillEnabledHint = "枠の内側を塗りつぶします。\nFills the plate's inside.";
constexpr const char* kFillColorHint = "塗りの色。アルファは塗りの不透明度です。\n"
                                       "Fill colour; its alpha is the fill's opacity.";
constexpr const char* kStrokeEnabledHint =
    "枠線を描きます（枠線の幅が 0 のときは描かれません）。\n"
    "Draws the plate's outline (none while the outline width is 0).";
constexpr const char* kStrokeColorHint = "枠線の色。アルファは枠線の不透明度です。\n"
                                         "Outline colour; its alpha is the outline's opacity.";
constexpr const char* kStrokeWidthHint =
    "枠線の半幅（ピクセル）。枠の縁の内側と外側にそれぞれこの幅で描かれます。0 で枠線なし。\n"
    "Half-width of the outline in pixels, drawn this far on each side of the plate's edge; 0 "
    "draws no outline.";
constexpr const char* kDetectionThresholdHint =
    "文字とみなすアルファの下限（全階調に対する割合、0〜1）。これを超える画素を囲んで枠を作ります"
    "。\n"
    "A pixel counts as text when its alpha is above this fraction of full scale (0 to 1); the "
    "plate surrounds those pixels.";
constexpr const char* kCompositingHint =
    "互換: "
    "以前の版と同じ計算で、既存のプロジェクトの見た目を保ちます。文字の縁の半透明な画素の下には"
    "枠が付かず、半透明の枠は暗めになります。距離は描画される画像のピクセルです。\n"
    "正確: "
    "合成ソフトと同じく、文字を枠の上にプリマルチプライドで合成し、枠の縁を滑らかにします。距離"
    "は原寸画像のピクセルで、縮小プレビューでも書き出しと同じ見た目になります。新しい作業にはこちら"
    "を"
    "お勧めします。\n"
    "Compatible: the arithmetic of earlier versions, so existing projects keep their look; "
    "glyph edges get no plate under them, translucent plates come out darker, and distances "
    "are pixels of the rendered image.\n"
    "Accurate: the text composited over the plate as a compositor does (premultiplied, with "
    "smooth plate edges); distances are pixels of the full-size image, so a reduced preview "
    "looks like the export. Recommended for new work.";

constexpr const char* kPlateLayoutHint =
    "全体: すべての文字を 1 つの枠で囲みます（以前の版と同じ）。\n"
    "ブロック: 枠どうしが触れ合う文字のまとまりごとに枠を付けます。離れたロゴと字幕は別の枠に"
    "なります。\n"
    "行: ブロックを文字のない行で行に分け、各行の幅に合わせた枠を付けます。触れ合う行の枠は 1 "
    "つの形になり、枠線はその外周だけを回ります。\n"
    "列: 縦書き用。ブロックを文字のない列で縦の行に分け、各列の高さと幅に合わせた枠を付けます。"
    "触れ合う列の枠は 1 つの形になります。\n"
    "枠が 64 を超えるとき（細かな点やノイズ）は、行と列はブロックごとの枠に、ブロックは全体の枠"
    "にまとめます。\n"
    "Whole: one plate around all the text (as earlier versions).\n"
    "Blocks: one plate per group of text whose plates would touch; a logo and a subtitle far "
    "apart get two plates.\n"
    "Lines: each block split into lines at rows without text, each plate fitting its line; "
    "touching line plates form one shape, outlined around its outer edge only.\n"
    "Columns: for vertical writing; each block split into vertical lines at columns without "
    "text, each plate fitting its vertical line; touching plates form one shape.\n"
    "Beyond 64 plates (specks, noise) lines and columns fall back to one plate per block, and "
    "blocks to the one plate around all the text.";
constexpr const char* kLineGapHint =
    "行の分かれ目とみなす、文字のない行の最小の高さ（ピクセル）。「列」では縦の行の分かれ目と"
    "みなす、文字のない列の最小の幅。「行」と「列」のときだけ使います。二・三・＝・川・ハのように"
    "離れた画で書く文字が 1 行のままになるよう、字画の間より大きく、行間より小さくします。"
    "正確モードでは原寸画像のピクセルです。\n"
    "The fewest rows without text, in pixels, that separate two lines; with Columns, the fewest "
    "columns without text that separate two vertical lines (used by the Lines and Columns "
    "layouts only). Larger than the gaps inside glyphs drawn in separate strokes (the kanji "
    "for two, three and river, =, accents), so that they stay one line, and smaller than "
    "the gap between lines. Pixels of the full-size image in the accurate mode.";
constexpr const char* kInnerCornerSizeHint =
    "つながった行（列）の枠の内側の角（狭い行が広い行に接するところ）の丸みの半径（ピクセル）。"
    "0 で直角。接する辺の半分までに制限されます。正確モードでは原寸画像のピクセルです。\n"
    "Radius in pixels of the inner (concave) corners of joined line plates, where a narrower "
    "line meets a wider one; 0 keeps them square. Limited to half of either edge that meets "
    "there. Pixels of the full-size image in the accurate mode.";

constexpr const char* kShadowEnabledHint = "枠の下に柔らかい影を付けます。\n"
                                           "Draws a soft shadow under the plates.";
constexpr const char* kShadowColorHint =
    "影の色。アルファは影の濃さです。影は枠の外側にだけ付き、半透明の枠を暗くしません。\n"
    "Shadow colour; its alpha is the shadow's strength. The shadow shows only outside the "
    "plate, so a translucent plate is not darkened.";
constexpr const char* kShadowOffsetXHint =
    "影を右へずらす量（ピクセル）。負の値で左へ。正確モードでは原寸画像のピクセルです。\n"
    "How far the shadow lies to the right, in pixels; negative values move it left. Pixels of "
    "the full-size image in the accurate mode.";
constexpr const char* kShadowOffsetYHint =
    "影を下へずらす量（ピクセル、画面の下向き）。負の値で上へ。正確モードでは原寸画像のピクセル"
    "です。\n"
    "How far the shadow lies downwards on screen, in pixels; negative values move it up. "
    "Pixels of the full-size image in the accurate mode.";
constexpr const char* kShadowSoftnessHint =
    "影のぼかしの幅（ピクセル）。ガウスぼかしの標準偏差の 2 倍。0 でくっきりした影。正確モード"
    "では原寸画像のピクセルです。\n"
    "How soft the shadow is, in pixels: twice the standard deviation of its Gaussian blur; 0 "
    "gives a hard edge. Pixels of the full-size image in the accurate mode.";
constexpr const char* kMinPlateWidthHint =
    "枠の最小の幅（ピクセル）。狭い枠は中心を保ったままこの幅まで広がります。0 で制限なし。正確"
    "モードでは原寸画像のピクセルです。\n"
    "The least width of a plate in pixels: a narrower plate grows about its centre to this "
    "width; 0 sets no least width. Pixels of the full-size image in the accurate mode.";
constexpr const char* kMinPlateHeightHint =
    "枠の最小の高さ（ピクセル）。低い枠は中心を保ったままこの高さまで広がります。字幕ごとに枠の"
    "高さが変わるのを防ぎます。0 で制限なし。正確モードでは原寸画像のピクセルです。\n"
    "The least height of a plate in pixels: a lower plate grows about its centre to this "
    "height, so that subtitles with and without descenders get plates of one height; 0 sets "
    "no least height. Pixels of the full-size image in the accurate mode.";

void defineClip(OFX::ImageEffectDescriptor& desc, const char* name) {
    OFX::ClipDescriptor* clip = desc.defineClip(name);
    clip->addSupportedComponent(OFX::PixelComponents::RGBA);
    clip->addSupportedComponent(OFX::PixelComponents::Alpha);
    if (std::string(name) == kOfxImageEffectSimpleSourceClipName) {
        clip->setTemporalClipAccess(false);
        clip->setSupportsTiles(true);
        clip->setIsMask(false);
        clip->setOptional(false);
    } else {
        clip->setSupportsTiles(true);
    }
}

} // namespace

namespace OFX {
void appendPluginFactories(PluginFactoryArray& factories) { factories.push_back(&gFactory); }
} // namespace OFX

void TextAutoFramePluginFactory::describe(OFX::ImageEffectDescriptor& desc) {
    const char* label = "ニンブラ";
    desc.setLabels(label, label, label);
    desc.setGrouping("Draw");
    desc.setPluginDescription("テキスト範囲を検出して背景枠を生成");
    desc.addSupportedContext(OFX::EffectContext::Filter);
    desc.addSupportedContext(OFX::EffectContext::General);
    desc.addSupportedPixelDepth(OFX::BitDepth::Byte);
    desc.addSupportedPixelDepth(OFX::BitDepth::Short);
    desc.addSupportedPixelDepth(OFX::BitDepth::Float);
    desc.setSingleInstance(false);
    desc.setHostFrameThreading(false); // the effect spreads its own work over threads
    desc.setSupportsMultiResolution(true);
    desc.setSupportsTiles(true);
    desc.setTemporalClipAccess(false);
    desc.setFieldRenderTwiceAlways(false);
    desc.setSupportsMultipleClipPARs(false);
}

void TextAutoFramePluginFactory::describeInContext(OFX::ImageEffectDescriptor& desc,
                                                   OFX::EffectContext /*context*/) {
    defineClip(desc, kOfxImageEffectSimpleSourceClipName);
    defineClip(desc, kOfxImageEffectOutputClipName);

    OFX::PageParamDescriptor& page = *desc.definePageParam("Controls");
    defineDouble(desc, page, {"marginX", "横マージン", 20.0, 0.0, 200.0, 0.0, 100.0, kMarginXHint});
    defineDouble(desc, page, {"marginY", "縦マージン", 20.0, 0.0, 200.0, 0.0, 100.0, kMarginYHint});
    defineDouble(desc, page,
                 {"yOffset", "Y オフセット", 0.0, -100.0, 100.0, -50.0, 50.0, kYOffsetHint});
    defineDouble(desc, page,
                 {"cornerSize", "角丸サイズ", 0.0, 0.0, 100.0, 0.0, 100.0, kCornerSizeHint});
    defineBoolean(desc, page, "fillEnabled", "塗り有効", true, kFillEnabledHint);
    defineColour(desc, page, "fillColor", "塗りの色", 0.0, 0.0, 0.0, 1.0, kFillColorHint);
    defineBoolean(desc, page, "strokeEnabled", "枠線有効", true, kStrokeEnabledHint);
    defineColour(desc, page, "strokeColor", "枠線の色", 1.0, 1.0, 1.0, 1.0, kStrokeColorHint);
    defineDouble(desc, page,
                 {"strokeWidth", "枠線の幅", 0.0, 0.0, 100.0, 0.0, 20.0, kStrokeWidthHint});
    defineDouble(
        desc, page,
        {"detectionThreshold", "検出しきい値", 0.1, 0.0, 1.0, 0.0, 1.0, kDetectionThresholdHint});

    // Appended after the ten, so that projects saved before it existed keep their order; its
    // default keeps their look. A way of working, not something to keyframe.
    defineChoice(desc, page, "compositing", "合成方式", {"互換", "正確"},
                 static_cast<int>(plate::Compositing::Compatible), kCompositingHint);
    // Appended after the compositing mode for the same reason; the default is the one plate
    // of earlier versions, and 列 came after the other three.
    defineChoice(desc, page, "plateLayout", "枠の単位", {"全体", "ブロック", "行", "列"},
                 static_cast<int>(plate::PlateLayout::Whole), kPlateLayoutHint);
    // A way of working, like the layout itself: not animated.
    defineDouble(desc, page, {"lineGap", "行の間隔", 16.0, 1.0, 500.0, 1.0, 100.0, kLineGapHint},
                 false);
    // Appended after the line gap; 0 keeps the square inner corners of earlier versions.
    defineDouble(
        desc, page,
        {"innerCornerSize", "内側の角丸", 0.0, 0.0, 1000.0, 0.0, 100.0, kInnerCornerSizeHint});
    // Appended after the inner corners; off by default, and the least sizes 0, keep the look
    // of earlier versions. Whether there is a shadow is a choice, not something to keyframe.
    defineBoolean(desc, page, "shadowEnabled", "影有効", false, kShadowEnabledHint, false);
    defineColour(desc, page, "shadowColor", "影の色", 0.0, 0.0, 0.0, 0.5, kShadowColorHint);
    defineDouble(
        desc, page,
        {"shadowOffsetX", "影の横ずれ", 6.0, -1000.0, 1000.0, -50.0, 50.0, kShadowOffsetXHint});
    defineDouble(
        desc, page,
        {"shadowOffsetY", "影の縦ずれ", 6.0, -1000.0, 1000.0, -50.0, 50.0, kShadowOffsetYHint});
    defineDouble(
        desc, page,
        {"shadowSoftness", "影のぼかし", 8.0, 0.0, 1000.0, 0.0, 100.0, kShadowSoftnessHint});
    defineDouble(
        desc, page,
        {"minPlateWidth", "最小の幅", 0.0, 0.0, 100000.0, 0.0, 1920.0, kMinPlateWidthHint});
    defineDouble(
        desc, page,
        {"minPlateHeight", "最小の高さ", 0.0, 0.0, 100000.0, 0.0, 1080.0, kMinPlateHeightHint});
}

OFX::ImageEffect* TextAutoFramePluginFactory::createInstance(OfxImageEffectHandle handle,
                                                             OFX::EffectContext /*context*/) {
    return new TextAutoFramePlugin(handle);
}
