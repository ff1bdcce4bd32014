// The I/O floor of a batch conversion, for tools/bench-batch: for each input, what a converter
// cannot avoid doing, with no conversion at all. The input is read whole; each output is written
// from a template of the right size to a temporary beside it, flushed to the disk and renamed
// over its name, as the converter writes every file.
//
//   rawdat-io-floor TEMPLATE... -- INPUT...
//
// Each INPUT gets one output per TEMPLATE: INPUT with its extension replaced by the template's.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool readWhole(const char* path, std::vector<char>& bytes)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (ok && got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            ok = n > 0;
            got += ok ? static_cast<std::size_t>(n) : 0;
        }
    }
    ::close(fd);
    return ok;
}

bool writeReplacing(const std::string& path, const std::vector<char>& bytes)
{
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                    ::fdatasync(fd) == 0;
    return ::close(fd) == 0 && ok && ::rename(temporary.c_str(), path.c_str()) == 0;
}

std::string withExtensionOf(const std::string& input, const std::string& templ)
{
    const auto dot = input.find_last_of('.');
    const auto tdot = templ.find_last_of('.');
    return input.substr(0, dot) + (tdot == std::string::npos ? std::string() : templ.substr(tdot));
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> templates;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        templates.emplace_back(argv[i]);
    if (i == argc || templates.empty()) {
        std::fprintf(stderr, "usage: rawdat-io-floor TEMPLATE... -- INPUT...\n");
        return 2;
    }
    std::vector<std::vector<char>> outputs(templates.size());
    for (std::size_t t = 0; t < templates.size(); ++t)
        if (!readWhole(templates[t].c_str(), outputs[t])) {
            std::perror(templates[t].c_str());
            return 1;
        }
    std::vector<char> input;
    for (++i; i < argc; ++i) {
        if (!readWhole(argv[i], input)) {
            std::perror(argv[i]);
            return 1;
        }
        for (std::size_t t = 0; t < templates.size(); ++t)
            if (!writeReplacing(withExtensionOf(argv[i], templates[t]), outputs[t])) {
                std::perror(argv[i]);
                return 1;
            }
    }
    return 0;
}
