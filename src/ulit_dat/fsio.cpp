#include "ulit_dat/fsio.h"

#include "ulit_dat/errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace rawdat::fsio {

namespace {

thread_local int tFailAt = 0;
thread_local int tOpsCounted = 0;

// Counts one file operation; true when fault injection makes this one fail.
bool injectedFault()
{
    ++tOpsCounted;
    if (tFailAt > 0 && tOpsCounted == tFailAt) {
        errno = ENOSPC;
        return true;
    }
    return false;
}

const char* textForErrno(int e)
{
    switch (e) {
    case ENOENT: return iotext::kNotFound;
    case ENOTDIR: return iotext::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case EBUSY: return iotext::kAccessDenied;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG: return iotext::kDiskFull;
    case ENAMETOOLONG:
    case EINVAL: return iotext::kBadFileName;
    case EMFILE:
    case ENFILE: return iotext::kTooManyOpen;
    default: return iotext::kIoError;
    }
}

[[noreturn]] void fail(int e, const std::string& path) { throw InOutError(textForErrno(e), path); }

bool isReadOnlyFile(const fs::path& p)
{
    std::error_code ec;
    const auto st = fs::status(p, ec);
    if (ec || !fs::is_regular_file(st))
        return false;
    const auto w = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    return (st.permissions() & w) == fs::perms::none;
}

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f)
            std::fclose(f);
    }
};

std::atomic<unsigned> gTempCounter{0};

} // namespace

std::optional<Bytes> tryReadFile(const std::string& path)
{
    std::error_code ec;
    if (fs::is_directory(path, ec))
        return std::nullopt;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return std::nullopt;
    std::unique_ptr<std::FILE, FileCloser> guard(f);
    Bytes out;
    std::uint8_t buf[65536];
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, f);
        out.insert(out.end(), buf, buf + n);
        if (n < sizeof buf) {
            if (std::ferror(f))
                fail(errno ? errno : EIO, path);
            break;
        }
    }
    return out;
}

Bytes readFile(const std::string& path)
{
    std::error_code ec;
    if (fs::is_directory(path, ec))
        fail(EACCES, path);
    errno = 0;
    auto bytes = tryReadFile(path);
    if (!bytes)
        fail(errno ? errno : ENOENT, path);
    return std::move(*bytes);
}

void writeFileAtomic(const std::string& path, std::string_view bytes)
{
    const fs::path target(path);
    std::error_code ec;
    if (fs::is_directory(target, ec))
        fail(EISDIR, path);
    if (isReadOnlyFile(target))
        fail(EACCES, path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string tempName = ".";
    tempName += target.filename().string();
    tempName += ".tmp";
    tempName += std::to_string(++gTempCounter);
    const fs::path temp = folder / tempName;

    if (injectedFault())
        fail(errno, path);
    std::FILE* f = std::fopen(temp.c_str(), "wbx");
    if (!f) {
        const int e = errno;
        // A name too long for the system shows in the temporary name first: report the target.
        fail(e, path);
    }
    auto discard = [&](int e) {
        std::fclose(f);
        fs::remove(temp, ec);
        fail(e, path);
    };
    if (!bytes.empty()) {
        if (injectedFault())
            discard(errno);
        if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
            discard(errno ? errno : EIO);
    }
    if (injectedFault() || std::fflush(f) != 0)
        discard(errno ? errno : EIO);
    const bool closeFault = injectedFault();
    const int closeErr = closeFault ? errno : 0;
    if (std::fclose(f) != 0 || closeFault) {
        const int e = closeFault ? closeErr : (errno ? errno : EIO);
        fs::remove(temp, ec);
        fail(e, path);
    }
    if (injectedFault()) {
        const int e = errno;
        fs::remove(temp, ec);
        fail(e, path);
    }
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        fail(ec.value() ? ec.value() : EIO, path);
    }
}

void writeInPlace(const std::string& path, std::size_t offset, const Bytes& bytes)
{
    if (isReadOnlyFile(path))
        fail(EACCES, path);
    if (injectedFault())
        fail(errno, path);
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f)
        fail(errno, path);
    std::unique_ptr<std::FILE, FileCloser> guard(f);
    if (injectedFault() || std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        fail(errno ? errno : EIO, path);
    if (injectedFault() || std::fflush(f) != 0)
        fail(errno ? errno : EIO, path);
    const bool closeFault = injectedFault();
    if (std::fclose(guard.release()) != 0 || closeFault)
        fail(closeFault ? ENOSPC : (errno ? errno : EIO), path);
}

namespace {
// Whether `path` is a regular file that std::fopen opens with `mode`.
bool opensWith(const std::string& path, const char* mode)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return false;
    std::FILE* f = std::fopen(path.c_str(), mode);
    if (!f)
        return false;
    std::fclose(f);
    return true;
}
} // namespace

bool opensForWriting(const std::string& path) { return !isReadOnlyFile(path) && opensWith(path, "r+b"); }

bool opensForReading(const std::string& path) { return opensWith(path, "rb"); }

std::string findFileIgnoringCase(const std::string& folder, const std::string& name)
{
    const fs::path dir = folder.empty() ? fs::path(".") : fs::path(folder);
    const fs::path exact = dir / name;
    std::error_code ec;
    if (fs::exists(exact, ec))
        return exact.string();
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : char(c); });
        return s;
    };
    const std::string want = lower(name);
    std::string best;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string n = it->path().filename().string();
        if (lower(n) == want && (best.empty() || n < best))
            best = n;
    }
    return best.empty() ? exact.string() : (dir / best).string();
}

namespace testing {
void failOperation(int k)
{
    tFailAt = k;
    tOpsCounted = 0;
}
int operationsCounted() { return tOpsCounted; }
} // namespace testing

} // namespace rawdat::fsio
