// bench_fuzz: the long pass of the fuzz harness (tests/fuzz/harness) over every parser that
// takes outside bytes. Prints the inputs run and the failures: broken invariants and exceptions
// caught in the process; a crash ends the program with the target, seed and input on stderr.
//
//   bench_fuzz [--inputs N] [--seed S]     N inputs in all (default 2000000), shared by the targets
//
// A reported input is run again under the sanitizers by the fuzz test:
//   TARNWELL_FUZZ_REPLAY=<target>:<seed> build/asan/tests/test_fuzz
#include "BenchSupport.h"

#include "fuzz/harness/FuzzHarness.h"
#include "fuzz/harness/FuzzTargets.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    bench::UseOffscreenByDefault();
    QApplication app(argc, argv);
    bench::UseCLocaleNumbers();

    std::uint64_t total = 2000000;
    fuzz::PassOptions options;
    options.seed = fuzz::SeedRequest().value_or(options.seed);
    for (int i = 1; i + 1 < argc; i += 2) {
        const auto value = fuzz::ParseSeed(argv[i + 1]);
        if (!value) {
            std::fprintf(stderr, "bench_fuzz: %s is no number\n", argv[i + 1]);
            return 2;
        }
        if (std::strcmp(argv[i], "--inputs") == 0)
            total = *value;
        else if (std::strcmp(argv[i], "--seed") == 0)
            options.seed = *value;
    }

    fuzz::InstallCrashReport();
    const fuzz::TargetSet set;
    std::uint64_t shares = 0;
    for (const fuzz::Target& target : set.targets())
        shares += target.share;

    std::uint64_t inputs = 0;
    std::uint64_t failures = 0;
    QElapsedTimer clock;
    clock.start();
    std::uint64_t handedOut = 0;
    std::uint64_t sharesSoFar = 0;
    for (const fuzz::Target& target : set.targets()) {
        // Each target's share of the total, the rounding carried on so the total is exact.
        sharesSoFar += target.share;
        options.inputs = total * sharesSoFar / shares - handedOut;
        handedOut += options.inputs;
        QElapsedTimer targetClock;
        targetClock.start();
        const fuzz::PassResult result = fuzz::RunPass(target, options);
        std::fprintf(stderr, "bench_fuzz: %-18s %8llu inputs %6llu failures %7.1f s\n", target.name.c_str(),
                     static_cast<unsigned long long>(result.inputs), static_cast<unsigned long long>(result.failures),
                     targetClock.elapsed() / 1000.0);
        inputs += result.inputs;
        failures += result.failures;
    }
    std::printf("BENCH fuzz_inputs_total %llu inputs\n", static_cast<unsigned long long>(inputs));
    std::printf("BENCH fuzz_crashes %llu crashes\n", static_cast<unsigned long long>(failures));
    std::printf("BENCH fuzz_seconds %.1f s\n", clock.elapsed() / 1000.0);
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
