#include "multi_thread.h"

#include <algorithm>

namespace OFX {
namespace MultiThread {

unsigned int getNumCPUs() {
    unsigned int n = 1;
    if (Private::multiThreadSuite().multiThreadNumCPUs(&n) != kOfxStatOK)
        return 1;
    if (n == 0) // a host that reports no CPU still has the calling thread
        return 1;
    return n;
}

Processor::~Processor() = default;

void Processor::runThreads(unsigned int count) {
    const unsigned int n = count == 0 ? getNumCPUs() : count;
    if (n == 1) {
        processThreadShare(0, 1);
        return;
    }
    raiseSuiteStatus(Private::multiThreadSuite().multiThread(&threadEntry, n, this));
}

void Processor::threadEntry(unsigned int index, unsigned int count, void* processor) {
    static_cast<Processor*>(processor)->processThreadShare(index, count);
}

} // namespace MultiThread

OfxRectI bandOfWindow(const OfxRectI& window, unsigned int index, unsigned int count) {
    // Unsigned difference: a window spanning more than INT_MAX rows must not overflow.
    const unsigned int height =
        static_cast<unsigned int>(window.y2) - static_cast<unsigned int>(window.y1);
    // 64-bit products: index × height overflows 32 bits for tall windows and many threads.
    const unsigned long long h = height;
    const unsigned int first = static_cast<unsigned int>(index * h / count);
    const unsigned int last =
        static_cast<unsigned int>(std::min<unsigned long long>((index + 1ULL) * h / count, h));
    OfxRectI band = window;
    band.y1 = window.y1 + static_cast<int>(first);
    band.y2 = window.y1 + static_cast<int>(last);
    return band;
}

void ImageProcessor::processThreadShare(unsigned int index, unsigned int count) {
    processWindow(bandOfWindow(renderWindow, index, count));
}

void ImageProcessor::process() {
    if (!destinationImage)
        return;
    if (renderWindow.x2 <= renderWindow.x1 || renderWindow.y2 <= renderWindow.y1)
        return;
    beforeThreads();
    runThreads(0);
    afterThreads();
}

} // namespace OFX
