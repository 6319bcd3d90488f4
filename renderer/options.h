// nimbra-render's command line, and the text forms of parameter values and frame patterns.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace nimbra_render {

/// A command line that cannot be run as given; main prints it with the usage hint.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Processing depth handed to the plug-in.
enum class DepthChoice { FromInput, Byte, Short, Float };
/// Alpha convention handed to the plug-in.
enum class PremultChoice { FromInput, Straight, Premultiplied };

/// One --set NAME=VALUE (no time) or --key NAME@TIME=VALUE.
struct Assignment {
    std::string name;
    std::string value;
    std::optional<double> time;
};

/// First and last frame, inclusive.
struct FrameRange {
    int first = 0;
    int last = 0;
};

/// Everything the command line says.
struct Options {
    bool help = false;
    bool list = false;
    std::string plugin; ///< --plugin; empty: look for this project's bundle.
    std::string id;     ///< --id; empty: the first plug-in.
    std::string input;
    std::string output;
    std::vector<Assignment> assignments; ///< In command-line order.
    DepthChoice depth = DepthChoice::FromInput;
    PremultChoice premult = PremultChoice::FromInput;
    unsigned threads = 0; ///< 0: the machine's CPU count.
    int tiles = 1;
    std::optional<FrameRange> frames;
};

/// Parses the arguments after the program name; throws UsageError.
Options parseArguments(const std::vector<std::string>& args);
/// The --help text.
std::string usageText();

/// What a parameter takes, as read from its descriptor.
struct ParamShape {
    std::string type;                 ///< OfxParamType* string.
    int dimension = 1;                ///< Numbers per value (1 for strings).
    bool integral = false;            ///< Integer, Boolean and Choice values.
    bool isString = false;            ///< String-valued.
    std::vector<std::string> choices; ///< Choice options, in order.
    std::vector<double> min, max;     ///< Per dimension; empty when unbounded.
};

/// A parsed value: numbers for numeric types, text for strings.
struct ParamValue {
    std::vector<double> numbers;
    std::string text;
};

/// Parses `text` as a value of `shape` for the parameter `name`: comma-separated numbers,
/// true/false/yes/no/on/off/1/0 for booleans, an index or option for choices. Throws
/// UsageError naming the parameter for a value of the wrong type, count or range.
ParamValue parseParamValue(const std::string& name, const ParamShape& shape,
                           const std::string& text);

/// True when `path` holds a printf-style frame number (%d, %4d, %04d).
bool isFramePattern(const std::string& path);
/// `pattern` with its frame number filled in; throws UsageError for a malformed pattern.
std::string framePath(const std::string& pattern, int frame);

} // namespace nimbra_render
