// The main of a fuzzer built as an ordinary program: runs LLVMFuzzerTestOneInput once for every
// file it is given and for every file of every folder it is given (in name order), and says how
// many it ran. A fault aborts the process, which fails its CTest test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

bool runFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", p.c_str());
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // A copy of exactly the input's size, so that AddressSanitizer sees a read past its end.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.data(), input.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t ran = 0;
    for (int a = 1; a < argc; ++a) {
        const fs::path arg(argv[a]);
        std::vector<fs::path> files;
        if (fs::is_directory(arg)) {
            for (const auto& e : fs::directory_iterator(arg))
                if (e.is_regular_file())
                    files.push_back(e.path());
            std::sort(files.begin(), files.end());
            if (files.empty()) {
                std::fprintf(stderr, "%s holds no input\n", arg.c_str());
                return 1;
            }
        } else {
            files.push_back(arg);
        }
        for (const auto& f : files) {
            if (!runFile(f))
                return 1;
            ++ran;
        }
    }
    std::printf("%zu inputs ran without a fault\n", ran);
    return ran > 0 ? 0 : 1;
}
