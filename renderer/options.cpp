#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace nimbra_render {

namespace {

bool parseDouble(const std::string& text, double& out) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front())))
        return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(out);
}

bool parseInt(const std::string& text, long& out) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front())))
        return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end == text.c_str() + text.size();
}

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, ','))
        parts.push_back(part);
    if (!text.empty() && text.back() == ',')
        parts.emplace_back();
    return parts;
}

std::string trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t");
    const std::size_t e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

Assignment parseAssignment(const std::string& option, const std::string& text, bool keyed) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        throw UsageError(option + " wants " + (keyed ? "NAME@TIME=VALUE" : "NAME=VALUE") +
                         ", got '" + text + "'");
    Assignment a;
    a.name = text.substr(0, eq);
    a.value = text.substr(eq + 1);
    if (keyed) {
        const std::size_t at = a.name.rfind('@');
        double time = 0;
        if (at == std::string::npos || at == 0 || !parseDouble(a.name.substr(at + 1), time))
            throw UsageError("--key wants NAME@TIME=VALUE, got '" + text + "'");
        a.time = time;
        a.name.resize(at);
    } else if (a.name.find('@') != std::string::npos) {
        throw UsageError("--set takes no time ('" + text + "'); use --key NAME@TIME=VALUE");
    }
    return a;
}

int positiveInt(const std::string& option, const std::string& text) {
    long v = 0;
    if (!parseInt(text, v) || v < 1 || v > 1000000)
        throw UsageError(option + " wants a positive whole number, got '" + text + "'");
    return static_cast<int>(v);
}

FrameRange parseFrames(const std::string& text) {
    FrameRange range;
    long first = 0, last = 0;
    // A leading '-' belongs to the first number; the separator is the next '-'.
    const std::size_t dash = text.find('-', 1);
    const bool ok = dash == std::string::npos ? parseInt(text, first) && (last = first, true)
                                              : parseInt(text.substr(0, dash), first) &&
                                                    parseInt(text.substr(dash + 1), last);
    if (!ok || last < first || first < -1000000000 || last > 1000000000)
        throw UsageError("--frames wants FIRST-LAST (e.g. 1-48), got '" + text + "'");
    range.first = static_cast<int>(first);
    range.last = static_cast<int>(last);
    return range;
}

// The position and length of the frame-number conversion, or npos.
std::pair<std::size_t, std::size_t> findConversion(const std::string& pattern) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%')
            continue;
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])))
            ++j;
        if (j < pattern.size() && pattern[j] == 'd')
            return {i, j - i + 1};
        return {i, 0};
    }
    return {std::string::npos, 0};
}

} // namespace

Options parseArguments(const std::vector<std::string>& args) {
    Options o;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw UsageError(arg + " needs a value");
            return args[++i];
        };
        if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "--list") {
            o.list = true;
        } else if (arg == "--plugin") {
            o.plugin = value();
        } else if (arg == "--id") {
            o.id = value();
        } else if (arg == "--set") {
            o.assignments.push_back(parseAssignment(arg, value(), false));
        } else if (arg == "--key") {
            o.assignments.push_back(parseAssignment(arg, value(), true));
        } else if (arg == "--depth") {
            const std::string& v = value();
            if (v == "byte")
                o.depth = DepthChoice::Byte;
            else if (v == "short")
                o.depth = DepthChoice::Short;
            else if (v == "float")
                o.depth = DepthChoice::Float;
            else
                throw UsageError("--depth wants byte, short or float, got '" + v + "'");
        } else if (arg == "--premult") {
            const std::string& v = value();
            if (v == "straight")
                o.premult = PremultChoice::Straight;
            else if (v == "premultiplied")
                o.premult = PremultChoice::Premultiplied;
            else
                throw UsageError("--premult wants straight or premultiplied, got '" + v + "'");
        } else if (arg == "--threads") {
            o.threads = static_cast<unsigned>(positiveInt(arg, value()));
        } else if (arg == "--tiles") {
            o.tiles = positiveInt(arg, value());
        } else if (arg == "--frames") {
            o.frames = parseFrames(value());
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (o.help)
        return o;
    if (o.list) {
        if (!positional.empty())
            throw UsageError("--list takes no image files");
        return o;
    }
    if (positional.size() != 2)
        throw UsageError("expected an input and an output image, got " +
                         std::to_string(positional.size()) + " file name(s)");
    o.input = positional[0];
    o.output = positional[1];
    const bool inPattern = isFramePattern(o.input), outPattern = isFramePattern(o.output);
    if (o.frames && (!inPattern || !outPattern))
        throw UsageError("--frames needs frame patterns such as in.%04d.png for both files");
    if (!o.frames && (inPattern || outPattern))
        throw UsageError("a frame pattern needs --frames FIRST-LAST");
    if (o.frames) {
        framePath(o.input, o.frames->first); // rejects malformed patterns early
        framePath(o.output, o.frames->first);
    }
    return o;
}

std::string usageText() {
    return "usage: nimbra-render [options] INPUT OUTPUT\n"
           "       nimbra-render --list [--plugin PATH]\n"
           "\n"
           "Renders INPUT (.png or .exr) through an OFX filter plug-in into OUTPUT.\n"
           "\n"
           "  --plugin PATH        .ofx.bundle directory or .ofx file (default: Nimbra_JP)\n"
           "  --id ID              plug-in identifier (default: the first in the module)\n"
           "  --list               list the plug-ins and their parameters\n"
           "  --set NAME=VALUE     parameter value; colours as r,g,b,a; booleans true/false\n"
           "  --key NAME@T=VALUE   key frame at time T (linear between keys)\n"
           "  --depth byte|short|float   processing depth (default: the input's)\n"
           "  --premult straight|premultiplied   alpha convention handed to the plug-in\n"
           "                       (default: PNG straight, EXR premultiplied)\n"
           "  --threads N          CPUs the plug-in may use (default: all)\n"
           "  --tiles N            render each frame as N horizontal strips\n"
           "  --frames A-B         frames A..B of patterns such as in.%04d.png\n";
}

ParamValue parseParamValue(const std::string& name, const ParamShape& shape,
                           const std::string& text) {
    ParamValue value;
    if (shape.isString) {
        value.text = text;
        return value;
    }
    const bool boolean = shape.type == "OfxParamTypeBoolean";
    const bool choice = shape.type == "OfxParamTypeChoice";
    if (boolean) {
        const std::string t = trim(text);
        if (t == "true" || t == "yes" || t == "on" || t == "1")
            value.numbers = {1.0};
        else if (t == "false" || t == "no" || t == "off" || t == "0")
            value.numbers = {0.0};
        else
            throw UsageError(name + " is a boolean: use true or false, not '" + text + "'");
        return value;
    }
    if (choice) {
        const std::string t = trim(text);
        for (std::size_t i = 0; i < shape.choices.size(); ++i)
            if (shape.choices[i] == t)
                value.numbers = {static_cast<double>(i)};
        long index = 0;
        if (value.numbers.empty() && parseInt(t, index) && index >= 0 &&
            static_cast<std::size_t>(index) < shape.choices.size())
            value.numbers = {static_cast<double>(index)};
        if (value.numbers.empty())
            throw UsageError(name + ": '" + text + "' is not one of its " +
                             std::to_string(shape.choices.size()) + " options");
        return value;
    }

    const std::vector<std::string> parts = splitCommas(text);
    if (static_cast<int>(parts.size()) != shape.dimension)
        throw UsageError(name + " takes " + std::to_string(shape.dimension) +
                         (shape.dimension == 1 ? " number" : " comma-separated numbers") +
                         ", got '" + text + "'");
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string part = trim(parts[i]);
        double v = 0;
        long n = 0;
        if (shape.integral ? !parseInt(part, n) : !parseDouble(part, v))
            throw UsageError(name + ": '" + part + "' is not " +
                             (shape.integral ? "a whole number" : "a number"));
        if (shape.integral)
            v = static_cast<double>(n);
        if ((i < shape.min.size() && v < shape.min[i]) ||
            (i < shape.max.size() && v > shape.max[i])) {
            std::ostringstream msg;
            msg << name << ": " << part << " is outside " << shape.min[i] << ".." << shape.max[i];
            throw UsageError(msg.str());
        }
        value.numbers.push_back(v);
    }
    return value;
}

bool isFramePattern(const std::string& path) {
    return findConversion(path).first != std::string::npos;
}

std::string framePath(const std::string& pattern, int frame) {
    const auto [pos, len] = findConversion(pattern);
    if (pos == std::string::npos || len == 0)
        throw UsageError("bad frame pattern '" + pattern + "' (use %d or %04d)");
    if (findConversion(pattern.substr(pos + len)).first != std::string::npos)
        throw UsageError("frame pattern '" + pattern + "' holds more than one %");
    const std::string conversion = pattern.substr(pos, len);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, conversion.c_str(), frame);
    std::string out = pattern.substr(0, pos) + buffer + pattern.substr(pos + len);
    // "%%" stands for a literal '%'.
    std::string result;
    for (std::size_t i = 0; i < out.size(); ++i) {
        result += out[i];
        if (out[i] == '%' && i + 1 < out.size() && out[i + 1] == '%')
            ++i;
    }
    return result;
}

} // namespace nimbra_render
