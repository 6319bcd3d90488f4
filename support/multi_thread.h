// Spreading pixel work over the threads the host lends us.
#pragma once

#include "image_effect.h"

namespace OFX {
namespace MultiThread {

/// The number of CPUs the host lends the module: its answer, or 1 when it fails or answers 0
/// (the calling thread is always there). Throws Exception::HostInadequate before load.
unsigned int getNumCPUs();

/// Runs a piece of work once per thread through the host's multi-thread suite.
class Processor {
public:
    virtual ~Processor();
    /// Share index of count; runs on a host thread and must not throw.
    virtual void processThreadShare(unsigned int index, unsigned int count) = 0;
    /// Runs the shares and returns when all have finished; 0 runs getNumCPUs() of them.
    virtual void runThreads(unsigned int count);

    /// The function the host calls on each of its threads.
    static void threadEntry(unsigned int index, unsigned int count, void* processor);
};

} // namespace MultiThread

/// Cuts the render window into bands of whole rows, one per thread, from the bottom.
/// Every field is set before process() and only read while the threads run.
class ImageProcessor : public MultiThread::Processor {
public:
    explicit ImageProcessor(ImageEffect& effect) : effect(effect) {}

    void processThreadShare(unsigned int index, unsigned int count) override;
    virtual void beforeThreads() {}
    /// Produces the pixels of one band; called on several threads at once, must not throw.
    virtual void processWindow(const OfxRectI& window) = 0;
    virtual void afterThreads() {}
    /// Does nothing without a destination image or with an empty or inverted window.
    virtual void process();

    ImageEffect& effect;
    Image* destinationImage = nullptr;
    /// Absolute pixel coordinates, x2 and y2 exclusive.
    OfxRectI renderWindow{0, 0, 0, 0};
};

/// Band index of count of a window of rows: [first, last) with sizes differing by at most one.
OfxRectI bandOfWindow(const OfxRectI& window, unsigned int index, unsigned int count);

} // namespace OFX
