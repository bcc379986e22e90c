// A plain main for the libFuzzer targets, so that they build with any
// compiler and run in the test suite: feeds each given file (or every file
// of a given folder) through LLVMFuzzerTestOneInput, then a number of
// variations of them made by a seeded generator (the same every run).
//   fuzz_x [-runs=N] [-seed=S] [-max_len=L] FILE|FOLDER...
// A target that finds a fault stops the program (trap, abort or crash);
// the input it was running is printed in hexadecimal on stderr first.

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

typedef std::vector<uint8_t> Bytes;

const uint8_t *g_input = nullptr;
size_t g_inputSize = 0;

void onFault(int sig)
{
    static const char hex[] = "0123456789abcdef";
    static const char head[] = "fuzz: a check failed on the input (hex):\n";
    ssize_t ignored = write(2, head, sizeof head - 1);
    for (size_t i = 0; i < g_inputSize; ++i) {
        const char pair[2] = {hex[g_input[i] >> 4], hex[g_input[i] & 15]};
        ignored = write(2, pair, 2);
    }
    ignored = write(2, "\n", 1);
    (void)ignored;
    signal(sig, SIG_DFL);
    raise(sig);
}

void run(const Bytes &input)
{
    // A copy of exactly the input's size, as libFuzzer hands it over.
    uint8_t *copy = static_cast<uint8_t *>(std::malloc(input.size() + 1));
    if (!input.empty())
        std::memcpy(copy, input.data(), input.size());
    g_input = copy;
    g_inputSize = input.size();
    LLVMFuzzerTestOneInput(copy, input.size());
    std::free(copy);
}

bool readFile(const std::string &path, Bytes *out)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out->insert(out->end(), buf, buf + n);
    std::fclose(f);
    return true;
}

// The file, or the files of the folder in name order.
bool collect(const std::string &path, std::vector<Bytes> *corpus)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        corpus->emplace_back();
        return readFile(path, &corpus->back());
    }
    std::vector<std::string> names;
    if (DIR *d = opendir(path.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(path + "/" + e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const std::string &n : names)
        if (!collect(n, corpus))
            return false;
    return true;
}

struct Random {
    uint64_t state;
    uint64_t next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return n ? size_t(next() % n) : 0; }
};

// One to four changes of the kinds a fuzzer makes: bits flipped, bytes set
// to random or telling values, bytes inserted, removed or repeated, the end
// cut off, a piece of another input spliced in.
Bytes vary(const std::vector<Bytes> &corpus, Random &r, size_t maxLen)
{
    static const uint8_t telling[] = {0, 1, 0x7f, 0x80, 0xff, '\r', '\n', ',', ':', '"', '\\', '=', ';', '%'};
    Bytes b = corpus.empty() ? Bytes() : corpus[r.below(corpus.size())];
    for (int changes = 1 + int(r.below(4)); changes > 0; --changes) {
        const size_t at = r.below(b.size() + 1);
        switch (r.below(8)) {
        case 0:
            if (at < b.size())
                b[at] ^= uint8_t(1u << r.below(8));
            break;
        case 1:
            if (at < b.size())
                b[at] = uint8_t(r.next());
            break;
        case 2:
            if (at < b.size())
                b[at] = telling[r.below(sizeof telling)];
            break;
        case 3:
            b.insert(b.begin() + at, 1 + r.below(4), uint8_t(r.next()));
            break;
        case 4:
            b.erase(b.begin() + at, b.begin() + at + r.below(b.size() - at + 1));
            break;
        case 5: {
            const size_t len = r.below(b.size() - at + 1);
            const Bytes piece(b.begin() + at, b.begin() + at + len);
            b.insert(b.begin() + r.below(b.size() + 1), piece.begin(), piece.end());
            break;
        }
        case 6:
            b.resize(at);
            break;
        default:
            if (!corpus.empty()) {
                const Bytes &other = corpus[r.below(corpus.size())];
                const size_t from = r.below(other.size() + 1);
                b.insert(b.begin() + at, other.begin() + from, other.begin() + from + r.below(other.size() - from + 1));
            }
            break;
        }
    }
    if (b.size() > maxLen)
        b.resize(maxLen);
    return b;
}

} // namespace

int main(int argc, char **argv)
{
    long runs = 0;
    uint64_t seed = 1;
    size_t maxLen = 4096;
    std::vector<Bytes> corpus;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.compare(0, 6, "-runs=") == 0) {
            runs = std::atol(a.c_str() + 6);
        } else if (a.compare(0, 6, "-seed=") == 0) {
            seed = std::strtoull(a.c_str() + 6, nullptr, 10);
        } else if (a.compare(0, 9, "-max_len=") == 0) {
            maxLen = size_t(std::atol(a.c_str() + 9));
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "%s: unknown option %s\n", argv[0], a.c_str());
            return 2;
        } else if (!collect(a, &corpus)) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], a.c_str());
            return 2;
        }
    }
    for (int sig : {SIGILL, SIGTRAP, SIGABRT, SIGSEGV, SIGBUS, SIGFPE})
        signal(sig, onFault);

    run(Bytes());
    for (const Bytes &input : corpus)
        run(input);
    Random r{seed};
    for (long i = 0; i < runs; ++i)
        run(vary(corpus, r, maxLen));
    std::printf("%s: %zu inputs and %ld variations, no failure\n", argv[0], corpus.size() + 1, runs);
    return 0;
}
