// tarnwell-sim: serves the simulated supply on a pseudo-terminal (or, with --tcp, a TCP socket),
// so the program's serial and network paths can be tried end to end without hardware. Prints the
// terminal's path (or tcp://ADDRESS:PORT) as its first line, then serves until standard input
// closes or SIGINT/SIGTERM arrives.

#include "SimOptions.h"
#include "Simulator.h"
#include "TcpServer.h"
#include "TerminalServer.h"

#include "platform/BuildVersion.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

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
    std::vector<char*> args(argv + 1, argv + argc);
    sim::TcpOptions tcp;
    const bool tcpArgsOk = sim::TakeTcpArgs(args, tcp);
    args.insert(args.begin(), argv[0]);
    sim::Options options;
    if (tcp.port >= 0)
        options.dialect = pslink::FindDialect("scpi"); // what units on a socket speak, unless told
    if (!tcpArgsOk || !sim::parseArgs(static_cast<int>(args.size()), args.data(), options)) {
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
    if (tcp.port >= 0) {
        sim::TcpServer server(simulator, tcp);
        server.setLinkUp([&simulator] { return simulator.linkUp(); });
        return server.start() ? server.run() : 1;
    }
    sim::TerminalServer terminal(simulator);
    return terminal.start() ? terminal.run() : 1;
}
