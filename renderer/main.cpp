// nimbra-render: renders images and frame sequences through an OFX filter plug-in.
#include "image_io.h"
#include "options.h"
#include "render_job.h"

#include <cstdio>
#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    using namespace nimbra_render;
    try {
        const Options options = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::cout << usageText();
            return 0;
        }
        if (options.list)
            listPlugins(options, std::cout);
        else
            render(options);
        return 0;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "nimbra-render: %s\n(nimbra-render --help lists the options)\n",
                     e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nimbra-render: %s\n", e.what());
        return 1;
    }
}
