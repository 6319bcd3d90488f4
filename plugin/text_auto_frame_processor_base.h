// What every text plate processor is given before it runs, and what it needs of the OFX layer:
// the images as rows, and the host's threads.
#pragma once

#include "multi_thread.h"
#include "plate_detection.h"
#include "plate_params.h"
#include "plate_rows.h"

#include <type_traits>

/// The images and the parameter values of one render, set by the render driver before
/// process(); only read while the threads run.
class TextAutoFrameProcessorBase : public OFX::ImageProcessor {
public:
    TextAutoFrameProcessorBase(OFX::ImageEffect& effect, OFX::BitDepth depth,
                               OFX::PixelComponents components)
        : OFX::ImageProcessor(effect), pixelDepth(depth), pixelComponents(components) {}

    OFX::Image* sourceImage = nullptr;
    plate::Params params;

    /// The pixel format this processor writes; the driver refuses images of another.
    const OFX::BitDepth pixelDepth;
    const OFX::PixelComponents pixelComponents;
};

namespace plate {

template <class PIX> constexpr OFX::BitDepth bitDepthOf() {
    if constexpr (std::is_same_v<PIX, unsigned char>)
        return OFX::BitDepth::Byte;
    else if constexpr (std::is_same_v<PIX, unsigned short>)
        return OFX::BitDepth::Short;
    else
        return OFX::BitDepth::Float;
}

/// An image's rows; none when there is no image or it holds no pixel data.
template <class PIX> Rows<PIX> rowsOf(const OFX::Image* image) {
    if (!image || !image->getPixelData() || image->getPixelBytes() <= 0)
        return {};
    return Rows<PIX>(image->getPixelData(), image->getRowBytes(), image->getBounds());
}

/// The host's threads, through its multi-thread suite: as many at once as it has CPUs.
inline Threads hostThreads() {
    Threads threads;
    threads.cpus = OFX::MultiThread::getNumCPUs();
    threads.run = [](unsigned shares, const Threads::Share& share) {
        struct Run : OFX::MultiThread::Processor {
            explicit Run(const Threads::Share& share) : share(share) {}
            void processThreadShare(unsigned int index, unsigned int count) override {
                share(index, count);
            }
            const Threads::Share& share;
        } run(share);
        run.runThreads(shares);
    };
    return threads;
}

} // namespace plate
