#include "fuzz/harness/FuzzHarness.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

// Sanitizers end the process without a signal; they call this hook first when it is there.
extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));

namespace fuzz {

namespace {

// ---- What is running, for the crash report: plain data a signal handler may read ----

struct Running
{
    const char* target = nullptr;
    const char* data = nullptr;
    std::size_t size = 0;
    std::uint64_t seed = 0;
    std::uint64_t passSeed = 0;
    std::uint64_t index = 0;
    bool inPass = false;
};

Running g_running;
volatile std::sig_atomic_t g_active = 0;
volatile std::sig_atomic_t g_reported = 0;

constexpr std::array<int, 5> kCrashSignals{SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction g_previous[kCrashSignals.size()];

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Async-signal-safe output: a small buffer flushed with write(2).
class RawOut
{
public:
    ~RawOut() { flush(); }
    void put(char c)
    {
        if (m_used == sizeof m_buffer)
            flush();
        m_buffer[m_used++] = c;
    }
    void text(const char* s)
    {
        while (*s)
            put(*s++);
    }
    void hex(std::uint64_t v)
    {
        text("0x");
        char digits[16];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[v & 0xF];
            v >>= 4;
        } while (v);
        while (n)
            put(digits[--n]);
    }
    void number(std::uint64_t v)
    {
        char digits[20];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        while (n)
            put(digits[--n]);
    }
    void escaped(const char* data, std::size_t size, std::size_t limit)
    {
        put('"');
        for (std::size_t i = 0; i < size && i < limit; ++i) {
            const auto c = static_cast<unsigned char>(data[i]);
            switch (c) {
            case '\n': text("\\n"); break;
            case '\r': text("\\r"); break;
            case '\t': text("\\t"); break;
            case '"': text("\\\""); break;
            case '\\': text("\\\\"); break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    // Always two hex digits and a break after, so a digit that follows stays apart.
                    text("\\x");
                    put("0123456789abcdef"[c >> 4]);
                    put("0123456789abcdef"[c & 0xF]);
                    if (i + 1 < size && IsHexDigit(data[i + 1]))
                        text("\"\"");
                } else {
                    put(static_cast<char>(c));
                }
            }
        }
        put('"');
        if (size > limit)
            text("...");
    }
    void flush()
    {
        std::size_t done = 0;
        while (done < m_used) {
            const ssize_t n = ::write(STDERR_FILENO, m_buffer + done, m_used - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        m_used = 0;
    }

private:
    char m_buffer[512];
    std::size_t m_used = 0;
};

void ReportRunning(RawOut& out, const char* headline, const char* what)
{
    out.text(headline);
    out.text(" in ");
    out.text(g_running.target);
    out.text(", seed ");
    out.hex(g_running.seed);
    if (g_running.inPass) {
        out.text(" (input #");
        out.number(g_running.index);
        out.text(" of the pass seeded ");
        out.hex(g_running.passSeed);
        out.text(")");
    }
    if (what) {
        out.text(": ");
        out.text(what);
    }
    out.text("\n  input (");
    out.number(g_running.size);
    out.text(" bytes): ");
    out.escaped(g_running.data, g_running.size, 4096);
    out.text("\n  replay: TARNWELL_FUZZ_REPLAY=");
    out.text(g_running.target);
    out.put(':');
    out.hex(g_running.seed);
    out.text("\n");
}

void ReportCrash()
{
    if (!g_active || g_reported)
        return;
    g_reported = 1;
    RawOut out;
    ReportRunning(out, "FUZZ CRASH", nullptr);
}

void OnCrashSignal(int sig, siginfo_t* info, void*)
{
    ReportCrash();
    for (std::size_t i = 0; i < kCrashSignals.size(); ++i) {
        if (kCrashSignals[i] == sig)
            ::sigaction(sig, &g_previous[i], nullptr);
    }
    // A fault happens again on return, into the handler that was there before (a sanitizer's,
    // or the default); a signal that was sent is sent again.
    if (info == nullptr || info->si_code <= 0 || sig == SIGABRT)
        ::raise(sig);
}

// Every sanitizer runtime loaded (GCC links address and undefined-behaviour checks as two
// libraries) keeps a death callback of its own.
int RegisterWithRuntime(dl_phdr_info* info, std::size_t, void*)
{
    if (!info->dlpi_name || !std::strstr(info->dlpi_name, "san.so"))
        return 0;
    if (void* handle = ::dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD)) {
        using SetCallback = void (*)(void (*)(void));
        if (const auto set = reinterpret_cast<SetCallback>(::dlsym(handle, "__sanitizer_set_death_callback")))
            set(&ReportCrash);
        ::dlclose(handle);
    }
    return 0;
}

// ---- Making inputs ----

constexpr std::string_view kNumbers[] = {
    "0", "1", "-1", "9999", "10000", "99.99", "32.00", "32.01", "5.100", "5.101", "2147483647", "2147483648",
    "-2147483648", "-2147483649", "4294967296", "99999999999999999999", "1e308", "1e309", "-1e309", "1e-400",
    "4.9e-324", "2.2250738585072014e-308", ".5", "5.", "-.5", "+5", "+-5", "-0", "00001", "1.005", "0.0005",
    "1.125", "0.125", "nan", "inf", "-inf", "0x1p3", "1e", "1e+", "1.2.3", "--1", "1e5", "12.34", "0.000",
    "123456789012345678", "0.1234567890123456789", "9.995", "9.9999"};
constexpr char kBytes[] = {'\0', '\xff', '\x7f', '\x80', '\r', '\n', ',', '.', '-', '+', 'e', 'E', ' ',
                           '\t', '0', '9', ':', '?', '*', '@', '\x1e', '\xbc', '\x01', '"'};
constexpr std::string_view kLineEnds[] = {"\n", "\r\n", "\r", "\n\r", "", "\r\r\n", "\n\n", "\r\n\r\n"};

std::string LongNumber(Rng& rng)
{
    const std::size_t n = 20 + rng.below(600);
    switch (rng.below(4)) {
    case 0: return "1" + std::string(n, '0');
    case 1: return "0." + std::string(n, '0') + "1";
    case 2: return std::string(n, '9') + "." + std::string(rng.below(40), '9');
    default: return "0." + std::string(n, '0') + "1e" + std::to_string(rng.below(700));
    }
}

std::size_t Position(Rng& rng, const std::string& s)
{
    return rng.below(s.size() + 1);
}

std::string RandomBytes(Rng& rng, std::size_t maxSize)
{
    std::string s(rng.below(std::min<std::size_t>(maxSize, 256) + 1), '\0');
    const bool text = rng.oneIn(2);
    for (char& c : s)
        c = static_cast<char>(text ? 0x20 + rng.below(0x5F) : rng.below(256));
    return s;
}

const std::string& Pick(Rng& rng, const std::vector<std::string>& list)
{
    return list[rng.below(list.size())];
}

void Mutate(std::string& s, const Target& t, Rng& rng)
{
    switch (rng.below(17)) {
    case 0: // a bit
        if (!s.empty())
            s[rng.below(s.size())] ^= static_cast<char>(1u << rng.below(8));
        break;
    case 1: // a byte that means something to some reader
        if (!s.empty())
            s[rng.below(s.size())] = kBytes[rng.below(sizeof kBytes)];
        break;
    case 2: { // random bytes in
        std::string bytes(1 + rng.below(8), '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng.below(256));
        s.insert(Position(rng, s), bytes);
        break;
    }
    case 3: // a range out
        if (!s.empty()) {
            const std::size_t at = rng.below(s.size());
            s.erase(at, 1 + rng.below(std::min<std::size_t>(s.size() - at, 32)));
        }
        break;
    case 4: // a range twice
        if (!s.empty()) {
            const std::size_t at = rng.below(s.size());
            const std::string copy = s.substr(at, 1 + rng.below(std::min<std::size_t>(s.size() - at, 64)));
            s.insert(Position(rng, s), copy);
        }
        break;
    case 5: // the start of this and the end of another
        if (!t.corpus.empty()) {
            const std::string& other = Pick(rng, t.corpus);
            s = s.substr(0, Position(rng, s)) + other.substr(rng.below(other.size() + 1));
        }
        break;
    case 6: // a piece of another inside
        if (!t.corpus.empty()) {
            const std::string& other = Pick(rng, t.corpus);
            const std::size_t at = rng.below(other.size() + 1);
            s.insert(Position(rng, s), other.substr(at, rng.below(other.size() - at + 1)));
        }
        break;
    case 7: { // a number replaced by an awkward one
        const std::size_t from = s.find_first_of("0123456789", rng.below(s.size() + 1));
        if (from == std::string::npos)
            break;
        const std::size_t to = std::min(s.find_first_not_of("0123456789.+-eE", from), s.size());
        s.replace(from, to - from, rng.oneIn(8) ? LongNumber(rng) : std::string(kNumbers[rng.below(std::size(kNumbers))]));
        break;
    }
    case 8: { // another line end
        const std::size_t from = s.find_first_of("\r\n", rng.below(s.size() + 1));
        const std::size_t at = from == std::string::npos ? Position(rng, s) : from;
        const std::size_t len = from == std::string::npos ? 0 : std::min(s.find_first_not_of("\r\n", at), s.size()) - at;
        s.replace(at, len, kLineEnds[rng.below(std::size(kLineEnds))]);
        break;
    }
    case 9:
        if (!t.dictionary.empty())
            s.insert(Position(rng, s), Pick(rng, t.dictionary));
        break;
    case 10: { // one long line
        static constexpr char kFill[] = {'x', '9', ',', '\0', ' ', '.', '\xff'};
        const std::size_t n = 64 + rng.below(std::max<std::size_t>(t.maxSize / 2, 64));
        s.insert(Position(rng, s), std::string(n, kFill[rng.below(sizeof kFill)]));
        break;
    }
    case 11: // cut short
        s.resize(rng.below(s.size() + 1));
        break;
    case 12: { // the whole again
        const std::string copy = s;
        for (std::size_t n = 1 + rng.below(3); n > 0 && s.size() < t.maxSize; --n)
            s += copy;
        break;
    }
    case 13: { // two lines swapped
        const std::size_t a = s.find('\n', rng.below(s.size() + 1));
        if (a == std::string::npos)
            break;
        const std::size_t b = s.find('\n', a + 1);
        if (b == std::string::npos)
            break;
        const std::size_t c = std::min(s.find('\n', b + 1), s.size());
        s = s.substr(0, a + 1) + s.substr(b + 1, c - b - 1) + "\n" + s.substr(a + 1, b - a - 1) + s.substr(c);
        break;
    }
    case 14: // a silence on the wire
        s.insert(Position(rng, s), kBurst);
        break;
    case 15: // letters in the other case
        for (std::size_t i = rng.below(s.size() + 1), n = rng.below(8); i < s.size() && n > 0; ++i, --n) {
            const char c = s[i];
            if (c >= 'a' && c <= 'z')
                s[i] = static_cast<char>(c - 'a' + 'A');
            else if (c >= 'A' && c <= 'Z')
                s[i] = static_cast<char>(c - 'A' + 'a');
        }
        break;
    default: // a number in the middle of nowhere
        s.insert(Position(rng, s), kNumbers[rng.below(std::size(kNumbers))]);
        break;
    }
}

// Inputs past the readers' chunks: many rows, or one line longer than a chunk.
std::string MakeHuge(const Target& t, Rng& rng)
{
    const std::size_t size = t.hugeSize / 2 + rng.below(t.hugeSize / 2);
    std::string s;
    if (rng.oneIn(3) || t.corpus.empty()) {
        s = "h\n" + std::string(size, rng.oneIn(2) ? '7' : 'x') + "\n1,2,3\n";
    } else {
        const std::string& unit = Pick(rng, t.corpus);
        s.reserve(size + unit.size());
        while (s.size() < size && !unit.empty())
            s += unit;
    }
    for (std::size_t n = rng.below(3); n > 0; --n)
        Mutate(s, t, rng);
    return s;
}

constexpr std::size_t kHugeOneIn = 4000;

} // namespace

[[noreturn]] void Fail(const std::string& what)
{
    throw Failure(what);
}

std::uint64_t Rng::next()
{
    std::uint64_t z = (m_state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::uint64_t Hash(std::string_view bytes)
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::uint64_t CaseSeed(std::uint64_t passSeed, std::string_view target, std::uint64_t index)
{
    Rng rng(passSeed ^ Hash(target) ^ (index * 0xd1342543de82ef95ULL));
    return rng.next();
}

std::string MakeInput(const Target& t, std::uint64_t seed)
{
    Rng rng(seed);
    if (t.hugeSize > 0 && rng.oneIn(kHugeOneIn))
        return MakeHuge(t, rng);
    std::string s;
    std::size_t rounds = 1 + rng.below(std::size_t(1) << rng.below(4));
    const std::size_t kind = rng.below(100);
    if (kind < 6 || t.corpus.empty()) {
        s = RandomBytes(rng, t.maxSize);
        rounds = rng.below(2);
    } else if (kind < 12 && !t.dictionary.empty()) {
        // Words of the language in a random order: commands, fields and line ends.
        for (std::size_t n = 1 + rng.below(24); n > 0; --n)
            s += rng.oneIn(4) ? std::string(kLineEnds[rng.below(std::size(kLineEnds))]) : Pick(rng, t.dictionary);
        rounds = rng.below(3);
    } else {
        s = Pick(rng, t.corpus);
        if (kind < 17)
            rounds = 0; // the corpus as it is: the well-formed path must hold its invariants too
    }
    for (; rounds > 0; --rounds)
        Mutate(s, t, rng);
    if (s.size() > t.maxSize)
        s.resize(t.maxSize);
    return s;
}

std::string MakeHugeInput(const Target& t, std::uint64_t seed)
{
    Rng rng(seed);
    return t.hugeSize > 0 ? MakeHuge(t, rng) : std::string();
}

std::vector<std::string_view> Bursts(std::string_view bytes)
{
    std::vector<std::string_view> out;
    for (;;) {
        const std::size_t mark = bytes.find(kBurst);
        out.push_back(bytes.substr(0, mark));
        if (mark == std::string_view::npos)
            return out;
        bytes.remove_prefix(mark + kBurst.size());
    }
}

std::string JoinBursts(const std::vector<std::string>& bursts)
{
    std::string out;
    for (std::size_t i = 0; i < bursts.size(); ++i)
        out += (i ? std::string(kBurst) : std::string()) + bursts[i];
    return out;
}

std::string Escape(std::string_view bytes, std::size_t limit)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\')
            out += {'\\', static_cast<char>(c)};
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
            if (i + 1 < bytes.size() && IsHexDigit(bytes[i + 1]))
                out += "\"\"";
        } else
            out += static_cast<char>(c);
    }
    if (bytes.size() > limit)
        out += "...";
    return out;
}

bool RunInput(const Target& target, std::string_view input, std::uint64_t seed, bool report)
{
    g_running.target = target.name.c_str();
    g_running.data = input.data();
    g_running.size = input.size();
    g_running.seed = seed;
    g_active = 1;
    std::string what;
    try {
        target.run(input);
    } catch (const Failure& failure) {
        what = failure.what();
    } catch (const std::exception& e) {
        what = std::string("exception: ") + e.what();
    } catch (...) {
        what = "unknown exception";
    }
    g_active = 0;
    if (what.empty())
        return true;
    if (report) {
        RawOut out;
        ReportRunning(out, "FUZZ FAILURE", what.c_str());
    }
    return false;
}

PassResult RunPass(const Target& target, const PassOptions& options)
{
    PassResult result;
    g_running.passSeed = options.seed;
    g_running.inPass = true;
    for (std::uint64_t i = 0; i < options.inputs; ++i) {
        const std::uint64_t seed = CaseSeed(options.seed, target.name, i);
        const std::string input = MakeInput(target, seed);
        g_running.index = i;
        if (!RunInput(target, input, seed, result.failures < static_cast<std::uint64_t>(options.reportLimit)))
            ++result.failures;
        ++result.inputs;
    }
    g_running.inPass = false;
    if (result.failures > static_cast<std::uint64_t>(options.reportLimit))
        std::fprintf(stderr, "FUZZ %s: %llu failures, the first %d reported\n", target.name.c_str(),
                     static_cast<unsigned long long>(result.failures), options.reportLimit);
    return result;
}

void InstallCrashReport()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    if (__sanitizer_set_death_callback)
        __sanitizer_set_death_callback(&ReportCrash);
    ::dl_iterate_phdr(&RegisterWithRuntime, nullptr);
    for (std::size_t i = 0; i < kCrashSignals.size(); ++i) {
        struct sigaction action{};
        action.sa_sigaction = &OnCrashSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        ::sigaction(kCrashSignals[i], &action, &g_previous[i]);
    }
}

std::optional<std::uint64_t> ParseSeed(std::string_view text)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<Replay> ReplayRequest()
{
    const char* env = std::getenv("TARNWELL_FUZZ_REPLAY");
    if (!env || !*env)
        return std::nullopt;
    const std::string_view text(env);
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto seed = ParseSeed(text.substr(colon + 1));
    if (!seed)
        return std::nullopt;
    return Replay{std::string(text.substr(0, colon)), *seed};
}

std::optional<std::uint64_t> SeedRequest()
{
    const char* env = std::getenv("TARNWELL_FUZZ_SEED");
    return env ? ParseSeed(env) : std::nullopt;
}

} // namespace fuzz
