#pragma once

// A randomized input harness, shared by the fuzz test (a short pass per target under the
// sanitizers) and bench_fuzz (a long pass). An input is made from one 64-bit seed alone, so any
// input is replayed from its target's name and that seed: TARNWELL_FUZZ_REPLAY=<target>:<seed>.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

/// A broken invariant; targets throw it (Check, Fail) and the runner reports it.
class Failure : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& what);
inline void Check(bool condition, const char* what)
{
    if (!condition)
        Fail(what);
}

/// splitmix64: small, fast and good enough to pick mutations.
class Rng
{
public:
    explicit Rng(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next();
    /// 0..n-1; 0 when n is 0.
    std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }
    bool oneIn(std::size_t n) { return below(n) == 0; }

private:
    std::uint64_t m_state;
};

/// FNV-1a: targets derive what they vary (chunk sizes, modes) from the input itself.
std::uint64_t Hash(std::string_view bytes);

/// One parser that takes outside bytes, with what the generator starts from.
struct Target
{
    std::string name;
    std::function<void(std::string_view input)> run;
    std::vector<std::string> corpus;     ///< well-formed inputs, mutated
    std::vector<std::string> dictionary; ///< words of the input's language, inserted whole
    std::size_t maxSize = 4096;
    /// Now and then an input up to this size (past a reader's chunk); 0 for never.
    std::size_t hugeSize = 0;
    /// Relative number of inputs in a long pass (a slow target gets fewer).
    unsigned share = 10;
};

/// The input of `target` made from `seed`; one in some thousands is huge (Target::hugeSize).
std::string MakeInput(const Target& target, std::uint64_t seed);
/// A huge input (see Target::hugeSize) made from `seed`.
std::string MakeHugeInput(const Target& target, std::uint64_t seed);

/// The seed of input `index` of a pass seeded `passSeed` over `target`.
std::uint64_t CaseSeed(std::uint64_t passSeed, std::string_view target, std::uint64_t index);

/// Cuts `bytes` into pieces at the marks of kBurst: what a supply sends between two silences.
inline constexpr std::string_view kBurst = "\x1e\x1e";
std::vector<std::string_view> Bursts(std::string_view bytes);
std::string JoinBursts(const std::vector<std::string>& bursts);

/// `bytes` as a C string literal's body, at most `limit` bytes of it ("..." after a cut).
std::string Escape(std::string_view bytes, std::size_t limit = 4096);

/// `bytes` escaped and in double quotes, for a failure's message.
inline std::string Quoted(std::string_view bytes)
{
    std::string quoted(1, '"');
    quoted += Escape(bytes, 200);
    quoted += '"';
    return quoted;
}

struct PassOptions
{
    std::uint64_t seed = 0x7a17e11ULL;
    std::uint64_t inputs = 1000;
    int reportLimit = 3; ///< failures reported in full; the rest only counted
};

struct PassResult
{
    std::uint64_t inputs = 0;
    std::uint64_t failures = 0;
};

/// Runs one input through `target`: true when every invariant held. A broken one or an
/// exception is reported on standard error with the target, the seed the input was made from
/// (nullopt: a fixed input) and the input.
bool RunInput(const Target& target, std::string_view input, std::optional<std::uint64_t> seed, bool report = true);

/// Runs `options.inputs` inputs made from the pass seed.
PassResult RunPass(const Target& target, const PassOptions& options);

/// On a crash (a signal, or a sanitizer ending the process) prints what RunInput was running:
/// the target, the seed and the input, then lets the process die as it would have.
void InstallCrashReport();

/// TARNWELL_FUZZ_REPLAY=<target>:<seed> (seed decimal or 0x hex): run that one input only.
struct Replay
{
    std::string target;
    std::uint64_t seed = 0;
};
std::optional<Replay> ReplayRequest();
/// TARNWELL_FUZZ_SEED: the pass seed instead of the default.
std::optional<std::uint64_t> SeedRequest();
std::optional<std::uint64_t> ParseSeed(std::string_view text);

} // namespace fuzz
