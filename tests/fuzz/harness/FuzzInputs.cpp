#include "fuzz/harness/FuzzHarness.h"

#include <algorithm>
#include <iterator>

// Making inputs: a corpus entry mutated a few times, words of the input's language in a random
// order, random bytes, and now and then a huge one.
namespace fuzz {

namespace {

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
    case 0: return std::string(1, '1').append(n, '0');
    case 1: return std::string("0.").append(n, '0').append(1, '1');
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

} // namespace fuzz
