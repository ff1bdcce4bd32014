// Helpers shared by the tests: temporary folders and whole-file byte access.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace rawdat::test {

// A fresh empty folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::vector<std::uint8_t> readBytes(const std::string& path);
std::string readText(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void writeText(const std::string& path, const std::string& text);
// Names of the entries of a folder, sorted.
std::vector<std::string> listFolder(const std::filesystem::path& folder);

} // namespace rawdat::test
