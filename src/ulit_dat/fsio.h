// The one small file-system layer: whole-file reads of regular files of a bounded size, groups
// of outputs that replace their targets together, the test open of an existing file, and the
// case-insensitive look-up of a file in a folder. Errors carry the runtime's French texts and the
// file name.
//
// Writers build their file in memory and hand it to an OutputGroup: each output is written whole
// as a temporary in its target's folder, then commit() renames every temporary over its target.
// When a rename fails, the targets already replaced get their old bytes back. A failure at any
// point leaves every previous file byte for byte intact and no temporary behind.
#pragma once

#include "ulit_dat/binio.h"
#include "ulit_dat/errors.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rawdat::fsio {

// ---- inputs ----

// The largest file of a kind, checked before a file is read: "is N bytes; a KIND file is at most
// M bytes".
struct SizeLimit {
    std::uint64_t bytes;
    const char* kind;
};
inline constexpr SizeLimit kAnyInput{64u << 20, "rawdat input"};

// Reads the whole file opened for reading only. Only regular files are read: anything else that
// exists (a folder, a FIFO, a device, a socket) is refused with "not a regular file" without
// being waited on, and so is a file beyond `limit`. nullopt when the file cannot be opened
// (missing, no access); an error after the open raises InOutError.
std::optional<Bytes> tryReadFile(const std::string& path, SizeLimit limit = kAnyInput);
// As tryReadFile, but an open failure raises InOutError with the runtime's text.
Bytes readFile(const std::string& path, SizeLimit limit = kAnyInput);
struct FileId;
// The first `n` bytes of a regular file (fewer when it is shorter), under the same rules; `id`
// and `size`, when given, receive the identity and the size of the file read.
std::optional<Bytes> tryReadHead(const std::string& path, std::size_t n, std::optional<FileId>* id = nullptr,
                                 std::uint64_t* size = nullptr);

// ---- outputs ----

// Outputs replaced together. add() refuses at once a target that is not a regular file (a
// folder, a symbolic link, a device) or is marked read-only, and writes the bytes whole to a
// fresh temporary ".NAME.rawdat-XXXXXX.tmp" beside the target. commit() renames them over their
// targets in the order added; a replaced file keeps its permission bits. Destroyed without a
// commit, the group removes its temporaries and no target has changed.
class OutputGroup {
public:
    // DryRun: add() checks each target as it would and writes nothing; commit() puts nothing in
    // place. The converter's dry run goes through every step of a conversion this way.
    enum class Mode { Write, DryRun };
    explicit OutputGroup(Mode mode = Mode::Write) : dryRun_(mode == Mode::DryRun) {}
    ~OutputGroup();
    OutputGroup(const OutputGroup&) = delete;
    OutputGroup& operator=(const OutputGroup&) = delete;

    void add(const std::string& target, std::string_view bytes);
    void add(const std::string& target, const Bytes& bytes)
    {
        add(target, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    // A member filled by the caller in several steps (files updated in place): its temporary is
    // created empty; returns its path.
    const std::string& addEmpty(const std::string& target);
    // Puts every member in place, or (on any failure, or after stopCommits()) none: raises the
    // error and leaves every target as it was.
    void commit();

    std::size_t size() const { return members_.size(); }
    const std::string& target(std::size_t i) const { return members_[i].target; }

private:
    struct Member {
        std::string target;
        std::string temp;
        std::string backup; // the previous target, kept aside while the group commits
        std::FILE* file = nullptr;
        bool replaced = false;
    };
    Member& prepare(const std::string& target);
    void rollBack(std::size_t count);

    std::vector<Member> members_;
    bool dryRun_ = false;
    bool done_ = false;
};

// Refuses, as OutputGroup::add does, a target that exists and is not a regular file or is marked
// read-only; true when it exists.
bool checkReplaceable(const std::string& target);

// What `path` is when it exists and is not a regular file, the link itself not followed: "a
// folder", "a symbolic link", "a FIFO", "a socket" or "a device"; nullopt otherwise.
std::optional<std::string> nonRegularKindOf(const std::string& path);
// False when `folder` (the current folder when empty) exists and this process, by its effective
// user and groups, may not create files in it (or it is on a read-only file system). A folder
// that cannot be looked up gives true: writing in it then says why.
bool canWriteIn(const std::string& folder);
// Why `path` does not open for reading, in the runtime's text: the reason its look-up fails, or
// "Accès au fichier refusé" when it exists.
const char* whyNotReadable(const std::string& path);
// The runtime's text for the system error `e` (an errno value).
const char* errorText(int e);
// Opens each of the standard descriptors 0, 1 and 2 that is closed on /dev/null, so that no file
// the program opens later takes its place (and receives what is printed). False when one could
// not be opened.
bool openStandardStreams();

// A file's identity on its device, following symbolic links; nullopt when it does not exist.
struct FileId {
    std::uint64_t device;
    std::uint64_t inode;
    auto operator<=>(const FileId&) const = default;
};
std::optional<FileId> fileId(const std::string& path);
// The same file: the same absolute path, or the same device and inode.
bool sameFile(const std::string& a, const std::string& b);

// Replaces (or creates) `path` with `bytes`: a group of one.
void writeFileAtomic(const std::string& path, std::string_view bytes);
inline void writeFileAtomic(const std::string& path, const Bytes& bytes)
{
    writeFileAtomic(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// A file built in several steps (created, then updated in place) that replaces its target only
// once whole, with other outputs of the same group: the steps write to path(), a temporary in the
// target's folder; commit() puts the group in place.
class PendingFile {
public:
    explicit PendingFile(const std::string& target) : target_(target), temp_(group_.addEmpty(target)) {}
    const std::string& path() const { return temp_; }
    // Other outputs that are put in place with this one.
    OutputGroup& group() { return group_; }
    // Runs one step that writes path(); its input/output errors name the target, the file the
    // user knows.
    template <class Step>
    void step(Step&& write)
    {
        try {
            write();
        } catch (const InOutError& e) {
            rethrowNamingTarget(e);
        }
    }
    void commit() { group_.commit(); }

private:
    [[noreturn]] void rethrowNamingTarget(const InOutError& e) const;

    OutputGroup group_;
    std::string target_;
    std::string temp_;
};

// Raised by commit() once stopCommits() has been called: the group was discarded.
class Interrupted : public RawdatError {
public:
    Interrupted() : RawdatError("interrupted; nothing written") {}
};
// From now on no group commits: a commit in progress finishes, later ones are discarded. For the
// converter's signal handling.
void stopCommits();
bool commitsStopped();
// Removes every temporary this process has created and not yet renamed or removed.
void removeTemporaries();

// Updates an existing file in place at `offset` (the file is opened for reading and writing,
// never created). Used for formats whose records are filled one at a time.
void writeInPlace(const std::string& path, std::size_t offset, const Bytes& bytes);

// True when `path` names an existing regular file that opens for reading and writing.
bool opensForWriting(const std::string& path);
// True when `path` names an existing regular file that opens for reading.
bool opensForReading(const std::string& path);

// `name` in `folder`: the exact name if it exists, else the first entry (in name order) whose
// name differs only in ASCII letter case, else the exact name (which then does not exist).
std::string findFileIgnoringCase(const std::string& folder, const std::string& name);

// Test hook for write-fault injection: the k-th file operation (create, write, flush, close,
// keeping a previous file aside, rename) from now on fails as a full disk would; 0 switches it
// off. Per thread.
namespace testing {
void failOperation(int k);
int operationsCounted();
} // namespace testing

} // namespace rawdat::fsio
