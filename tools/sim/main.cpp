// tarnwell-sim: serves the simulated supply on a pseudo-terminal, so the program's serial path
// can be tried end to end without hardware. Prints the terminal's path as its first line, then
// serves until standard input closes or SIGINT/SIGTERM arrives.

#include "SimOptions.h"
#include "Simulator.h"

#include "platform/BuildVersion.h"

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

void onSignal(int)
{
    sim::g_quit = 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarnwell-sim %s\n", platform::kBuildVersion);
        return 0;
    }
    sim::Options options;
    if (!sim::parseArgs(argc, argv, options)) {
        sim::usage();
        return 2;
    }
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    sim::Simulator simulator(options);
    if (!simulator.start())
        return 1;
    return simulator.run();
}
