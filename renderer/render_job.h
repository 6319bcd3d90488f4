// Driving an OFX filter plug-in through the in-process host: listing, rendering, sequences.
#pragma once

#include "options.h"

#include "ofx_api.h"

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>

namespace ofxhost {
class Host;
class Param;
} // namespace ofxhost

namespace nimbra_render {

/// A failure while loading, describing or rendering; the message is for the user.
class RenderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The name of a status code ("kOfxStatErrImageFormat"), or its number for unknown codes.
std::string statusName(OfxStatus status);

/// The bundle or binary to load: --plugin when given, else this project's bundle from the
/// build tree (for the build tree's own executable only), OFX_PLUGIN_PATH, the install
/// directory and /usr/OFX/Plugins, in that order. Throws RenderError when none exists.
std::string locatePlugin(const std::string& requested);

/// Shape of a parameter (type, dimension, options, range) read from its descriptor.
ParamShape shapeOf(ofxhost::Param& param);
/// Sets a static value or a key on `param`; throws UsageError for a value of the wrong type.
void applyAssignment(ofxhost::Param& param, const Assignment& assignment);

/// --list: every plug-in of the module with its parameters.
void listPlugins(const Options& options, std::ostream& out);
/// Called on the host before the plug-in loads (tests inject faults through it).
using HostSetup = std::function<void(ofxhost::Host&)>;

/// Render window of strip `index` of `count` horizontal strips of a width × height frame,
/// from the bottom up: every row is in exactly one strip, also for frames of many rows.
OfxRectI stripOf(int width, int height, int index, int count);

/// Renders one image or a frame sequence; every output appears only when all succeeded.
void render(const Options& options, const HostSetup& setup = {});

} // namespace nimbra_render
