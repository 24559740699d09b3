// A short seeded pass of every fuzz target under the sanitizers, the inputs fuzzing once broke,
// and what the harness tells when something breaks. bench_fuzz runs the long pass.
//
// TARNWELL_FUZZ_SEED=<n> runs the pass with another seed; TARNWELL_FUZZ_REPLAY=<target>:<seed>
// runs the one input a failure report names.
#include "fuzz/harness/FuzzHarness.h"
#include "fuzz/harness/FuzzTargets.h"

#include "device/link/Dialects.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <regex>

namespace {

using namespace std::string_literals;

// Inputs of a target with share 10; the whole pass takes some 15 s on two cores under ASan.
constexpr std::uint64_t kShortPass = 1600;

class Fuzz : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        fuzz::InstallCrashReport();
        s_set = std::make_unique<fuzz::TargetSet>();
    }
    static void TearDownTestSuite() { s_set.reset(); }

    static const fuzz::Target& Named(const std::string& name)
    {
        const fuzz::Target* target = s_set->find(name);
        if (!target)
            throw std::runtime_error("no fuzz target " + name);
        return *target;
    }

    static std::unique_ptr<fuzz::TargetSet> s_set;
};

std::unique_ptr<fuzz::TargetSet> Fuzz::s_set;

TEST_F(Fuzz, EveryTargetHoldsItsInvariantsOverASeededPass)
{
    if (const auto replay = fuzz::ReplayRequest()) {
        const fuzz::Target& target = Named(replay->target);
        const std::string input = fuzz::MakeInput(target, replay->seed);
        EXPECT_TRUE(fuzz::RunInput(target, input, replay->seed));
        return;
    }
    // Every wire dialect of the registry is fuzzed from both sides.
    for (const pslink::DialectInfo* info : pslink::WireDialects()) {
        EXPECT_NE(s_set->find(info->name + ".replies"s), nullptr);
        EXPECT_NE(s_set->find(info->name + ".commands"s), nullptr);
    }
    fuzz::PassOptions options;
    options.seed = fuzz::SeedRequest().value_or(options.seed);
    for (const fuzz::Target& target : s_set->targets()) {
        options.inputs = kShortPass * target.share / 10;
        const fuzz::PassResult result = fuzz::RunPass(target, options);
        EXPECT_EQ(result.failures, 0u) << target.name << ", pass seed " << options.seed;
    }
}

// Files past the reader's chunk: many rows, or one line longer than a chunk.
TEST_F(Fuzz, HugeFilesHoldTheInvariantsToo)
{
    for (const fuzz::Target& target : s_set->targets()) {
        if (target.hugeSize == 0)
            continue;
        for (const std::uint64_t seed : {1u, 2u}) {
            const std::string input = fuzz::MakeHugeInput(target, seed);
            EXPECT_TRUE(fuzz::RunInput(target, input, seed)) << target.name;
        }
    }
}

// Inputs that broke a target once, each with what it broke.
TEST_F(Fuzz, InputsThatOnceFailedHold)
{
    const struct
    {
        const char* target;
        std::string input;
    } found[] = {
        // A tiny value without an exponent read as infinity: a program row of "0.000...1" V.
        {"LoadFile.display", "h\r\n1,0." + std::string(400, '0') + "1,0.5\r\n2,1,1\r\n"},
        // The lowest 32-bit time read one above itself, and the next row broke the pass.
        {"LoadFile.run", "h\r\n-2147483648,1.00,0.100\r\n-2147483647,2.00,0.200\r\n"s},
        // A plus before a minus: no number, where it read as 0.
        {"ScpiProtocol", "+-55.122\n"s},
        // A line end inside a command of a unit without terminators: the command stood or fell
        // with where the wire split the bytes.
        {"text.commands", "*IDN?VSET1:12.34ISET1:2.500OUT1STATUS?VOUT1?VSET1?ISET\r\r\n1?STATUS?"s},
        {"text.commands", "VSET1:22.11OUT1ST\nATUS?VOUT1?"s},
        // A place marker in a port's path: the tooltip's rate went into the path.
        {"PortSetting", "text:/dev/tty%1@4800"s},
    };
    for (const auto& f : found)
        EXPECT_TRUE(fuzz::RunInput(Named(f.target), f.input, std::nullopt)) << f.target << ": " << fuzz::Escape(f.input);
}

TEST(FuzzHarness, AFailureNamesTheTargetSeedAndInputAndReplays)
{
    const fuzz::Target target{"Probe.sevens", [](std::string_view input) {
                                  fuzz::Check(input.find('7') == std::string_view::npos, "a seven");
                              },
                              {"12345\r\n\x01", "abc"}, {"7"}, 64, 0, 10};
    fuzz::PassOptions options;
    options.inputs = 200;
    testing::internal::CaptureStderr();
    const fuzz::PassResult result = fuzz::RunPass(target, options);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result.inputs, 200u);
    ASSERT_GT(result.failures, 0u);

    std::smatch m;
    ASSERT_TRUE(std::regex_search(report, m,
                                  std::regex("FUZZ FAILURE in Probe\\.sevens, seed (0x[0-9a-f]+) \\(input #[0-9]+ of "
                                             "the pass seeded 0x[0-9a-f]+\\): a seven\n  input \\(([0-9]+) bytes\\): "
                                             "\"([^\n]*)\"\n  replay: TARNWELL_FUZZ_REPLAY=Probe\\.sevens:(0x[0-9a-f]+)\n")))
        << report;
    EXPECT_EQ(m[1], m[4]);
    // The seed alone makes the same input again, and it fails again.
    const std::string input = fuzz::MakeInput(target, *fuzz::ParseSeed(m[1].str()));
    EXPECT_EQ(std::to_string(input.size()), m[2].str());
    EXPECT_EQ(fuzz::Escape(input), m[3].str());
    EXPECT_FALSE(fuzz::RunInput(target, input, std::nullopt, false));
}

TEST(FuzzHarness, ACrashNamesTheTargetSeedAndInput)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const fuzz::Target aborts{"Probe.aborts", [](std::string_view) { std::abort(); }, {}, {}, 64, 0, 10};
    EXPECT_DEATH(
        {
            fuzz::InstallCrashReport();
            fuzz::RunInput(aborts, "\x01zap\r\n", 42);
        },
        "FUZZ CRASH in Probe.aborts, seed 0x2a\n  input \\(6 bytes\\): \"\\\\x01zap\\\\r\\\\n\"\n"
        "  replay: TARNWELL_FUZZ_REPLAY=Probe.aborts:0x2a");
#if defined(__SANITIZE_ADDRESS__)
    // A sanitizer ends the process without a signal.
    const fuzz::Target overruns{"Probe.overruns",
                                [](std::string_view input) {
                                    const auto bytes = std::make_unique<char[]>(4);
                                    volatile char c = bytes[4 + input.size()];
                                    (void)c;
                                },
                                {}, {}, 64, 0, 10};
    EXPECT_DEATH(
        {
            fuzz::InstallCrashReport();
            fuzz::RunInput(overruns, "ab", 7);
        },
        "FUZZ CRASH in Probe.overruns, seed 0x7\n  input \\(2 bytes\\): \"ab\"");
    // The sanitized build checks undefined behaviour too, in a runtime of its own.
    const fuzz::Target overflows{"Probe.overflows",
                                 [](std::string_view input) {
                                     volatile int most = INT_MAX;
                                     const int sum = most + static_cast<int>(input.size());
                                     (void)sum;
                                 },
                                 {}, {}, 64, 0, 10};
    EXPECT_DEATH(
        {
            fuzz::InstallCrashReport();
            fuzz::RunInput(overflows, "abc", 9);
        },
        "FUZZ CRASH in Probe.overflows, seed 0x9\n  input \\(3 bytes\\): \"abc\"");
#endif
}

} // namespace
