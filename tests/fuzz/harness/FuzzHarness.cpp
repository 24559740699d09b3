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

// Running inputs and telling what broke: in the process (a broken invariant, an exception) or as
// the process dies (a signal, a sanitizer's report).

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
    bool hasSeed = false;
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
    if (g_running.hasSeed) {
        out.text(", seed ");
        out.hex(g_running.seed);
    } else {
        out.text(", a fixed input");
    }
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
    if (g_running.hasSeed) {
        out.text("\n  replay: TARNWELL_FUZZ_REPLAY=");
        out.text(g_running.target);
        out.put(':');
        out.hex(g_running.seed);
    }
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

} // namespace

[[noreturn]] void Fail(const std::string& what)
{
    throw Failure(what);
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

bool RunInput(const Target& target, std::string_view input, std::optional<std::uint64_t> seed, bool report)
{
    g_running.target = target.name.c_str();
    g_running.data = input.data();
    g_running.size = input.size();
    g_running.seed = seed.value_or(0);
    g_running.hasSeed = seed.has_value();
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
