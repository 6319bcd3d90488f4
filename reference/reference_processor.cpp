// The reference module's processors: the straightforward ones, in place of the fast ones.
#include "reference_processor.h"
#include "text_auto_frame.h"

template <class PIX, int nComponents, int maxValue>
void renderWithProcessor(TextAutoFramePlugin& effect, const OFX::RenderArgs& args) {
    TextAutoFrameReferenceProcessor<PIX, nComponents, maxValue> processor(effect);
    effect.setupAndProcess(processor, args);
}

template void renderWithProcessor<unsigned char, 4, 255>(TextAutoFramePlugin&,
                                                         const OFX::RenderArgs&);
template void renderWithProcessor<unsigned short, 4, 65535>(TextAutoFramePlugin&,
                                                            const OFX::RenderArgs&);
template void renderWithProcessor<float, 4, 1>(TextAutoFramePlugin&, const OFX::RenderArgs&);
template void renderWithProcessor<unsigned char, 1, 255>(TextAutoFramePlugin&,
                                                         const OFX::RenderArgs&);
template void renderWithProcessor<unsigned short, 1, 65535>(TextAutoFramePlugin&,
                                                            const OFX::RenderArgs&);
template void renderWithProcessor<float, 1, 1>(TextAutoFramePlugin&, const OFX::RenderArgs&);
