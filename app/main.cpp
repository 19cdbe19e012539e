// halvora: the live-broadcast server.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/HeadlessMain.h"

int main(int argc, char** argv) {
    using namespace halvora;
    CommandLine command_line;
    try {
        command_line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "halvora: %s\n\n%s", e.what(), UsageText().c_str());
        return 2;
    }
    if (command_line.help) {
        std::printf("%s", UsageText().c_str());
        return 0;
    }
    if (command_line.version) {
        std::printf("halvora 0.1.0\n");
        return 0;
    }
    if (!command_line.headless) {
        std::fprintf(stderr,
                     "halvora: this build has no window yet; run it with --headless.\n\n%s",
                     UsageText().c_str());
        return 2;
    }
    return RunHeadless(command_line);
}
