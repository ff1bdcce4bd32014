#include "convert/batch.h"

#include "convert/headless_ui.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/platform.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <unordered_map>
#include <utility>

namespace fs = std::filesystem;

namespace rawdat {

std::string absolutePath(const std::string& given)
{
    std::error_code ec;
    const fs::path p = fs::absolute(platform::fsPath(given), ec);
    return ec ? given : platform::utf8(p);
}

namespace {

// In one pass: a line can name every output of a file.
void replaceAll(std::string& s, const std::string& from, const std::string& to)
{
    if (from.empty() || from == to)
        return;
    std::size_t at = s.find(from);
    if (at == std::string::npos)
        return;
    std::string out;
    std::size_t last = 0;
    for (; at != std::string::npos; at = s.find(from, last)) {
        out.append(s, last, at - last);
        out += to;
        last = at + from.size();
    }
    out.append(s, last);
    s = std::move(out);
}

} // namespace

std::string userMessage(const std::string& given, const std::string& path, std::string message)
{
    // The file named by the line, as the message may name it too: dropped there.
    for (const std::string* name : {&path, &given}) {
        if (name->empty())
            continue;
        if (message.rfind(*name + ": ", 0) == 0)
            message.erase(0, name->size() + 2);
        replaceAll(message, " (" + *name + ")", "");
        replaceAll(message, "(" + *name + ", ", "(");
    }
    if (!path.empty()) {
        if (fs::path(given).is_relative()) {
            std::string givenFolder = fs::path(given).parent_path().string();
            if (!givenFolder.empty())
                givenFolder += '/';
            const std::string folder = fs::path(path).parent_path().string();
            replaceAll(message, folder + "/", givenFolder);
            // Windows spells the folder of an absolute path with its own separator.
            if (fs::path::preferred_separator != '/')
                replaceAll(message, folder + static_cast<char>(fs::path::preferred_separator), givenFolder);
        }
    }
    return message;
}


namespace {

std::string fileName(const std::string& path)
{
    return fs::path(path).filename().string();
}

// A file of the batch, compared by its directory entry (the identity of its folder, symbolic links
// followed, and its name, without letter case where the folder ignores it) and, when it exists, by
// its own identity (device and inode), both taken once.
struct FileKey {
    std::string entry;
    std::optional<fsio::FileId> id;
};

// The keys of the files of a batch; each folder is looked at once.
class FileKeys {
public:
    FileKey of(const std::string& path, std::optional<fsio::FileId> id)
    {
        const fs::path p = fs::path(path).lexically_normal();
        const std::string folder = p.parent_path().string();
        auto it = folders_.find(folder);
        if (it == folders_.end())
            it = folders_.emplace(folder, fsio::folderInfo(folder)).first;
        const auto& info = it->second;
        if (!info) // no such folder: nothing can be written there, the path alone tells
            return {p.string(), id};
        std::string name = p.filename().string();
        if (info->ignoresCase)
            for (char& c : name)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c + 32);
        return {std::to_string(info->id.device) + ':' + std::to_string(info->id.inode) + '/' + name, id};
    }
    FileKey of(const std::string& path) { return of(path, fsio::fileId(path)); }

private:
    std::unordered_map<std::string, std::optional<fsio::FolderInfo>> folders_;
};

// Files of the batch, each with the item it belongs to (the first when several).
class FileIndex {
public:
    void add(const FileKey& key, std::size_t item)
    {
        entries_.emplace(key.entry, item);
        if (key.id)
            ids_.emplace(*key.id, item);
    }
    std::optional<std::size_t> find(const FileKey& key) const
    {
        if (const auto it = entries_.find(key.entry); it != entries_.end())
            return it->second;
        if (key.id)
            if (const auto it = ids_.find(*key.id); it != ids_.end())
                return it->second;
        return std::nullopt;
    }

private:
    std::unordered_map<std::string, std::size_t> entries_;
    std::map<fsio::FileId, std::size_t> ids_;
};

} // namespace

// Decides, before anything is written, what each file of the batch does: what it is, its
// outputs, and the refusals (an output that is an input or a calibration, an input that another
// input writes, two inputs that write one file, an output that exists and is not a regular file,
// a folder this process cannot write in) and, without --force, the files skipped because an output
// exists. `outputDir` is the -o folder as the user gave it.
void planBatch(std::vector<BatchItem>& items, bool force, const ConversionOptions& options,
               const std::string& outputDir)
{
    constexpr std::size_t kKeepWholeUpTo = 64 << 10;
    constexpr std::uint64_t kKeptBudget = 64 << 20;
    std::uint64_t kept = 0;
    FileKeys keys;
    FileIndex inputs, calibrations, outputsOf;
    std::map<std::string, std::pair<std::string, FileKey>> calibrationOf; // folder/base -> file found
    std::vector<FileKey> inputKeys(items.size());
    std::vector<std::vector<FileKey>> outputKeys(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (fsio::commitsStopped())
            return; // a stop signal: no file is started
        BatchItem& it = items[i];
        if (it.given.empty()) {
            it.path.clear();
            it.fail("empty file name");
            continue;
        }
        it.path = absolutePath(it.given);
        std::optional<Bytes> head;
        std::uint64_t size = 0;
        std::optional<fsio::FileId> id;
        try {
            // A small file is read whole, once, for the plan and its conversion, as long as the
            // files so kept stay within a budget.
            head = fsio::tryReadHead(it.path, std::max(kHeadSize, kRangeCountHead), &id, &size,
                                     kept < kKeptBudget ? kKeepWholeUpTo : 0);
        } catch (const std::exception& e) {
            it.fail(e.what()); // not a regular file
            continue;
        }
        inputKeys[i] = keys.of(it.path, id);
        inputs.add(inputKeys[i], i);
        const ContentKind kind = kindOf(it.path, head);
        std::error_code ec;
        if (kind == ContentKind::Unknown && !head && fs::status(it.path, ec).type() == fs::file_type::not_found) {
            it.fail("not found");
            continue;
        }
        if (kind != ContentKind::Dat && kind != ContentKind::Raw) {
            it.fail("not a DAT or RAW file (neither its first bytes nor its extension say which)");
            continue;
        }
        it.kind = kind == ContentKind::Dat ? FileKind::Dat : FileKind::Raw;
        // A RAW file's outputs depend on its count of ranges, read from the head already here.
        try {
            it.outputs = it.kind == FileKind::Raw && head
                             ? plannedOutputs(it.path, options, RawRangeCount(it.path, *head, size))
                             : plannedOutputs(it.kind, it.path, options);
        } catch (const Refusal& e) {
            it.fail(e.what()); // too many ranges
            continue;
        }
        if (it.kind == FileKind::Dat && head) {
            const std::string calName = TLitdat::datCalName(*head);
            const std::string key = fs::path(it.path).parent_path().string() + '/' + calibrationBase(calName);
            auto found = calibrationOf.find(key);
            if (found == calibrationOf.end()) {
                const std::string cal = calibrationOfDat(it.path, calName, options);
                found = calibrationOf.emplace(key, std::pair{cal, keys.of(cal)}).first;
            }
            it.calibration = found->second.first;
            calibrations.add(found->second.second, i);
        }
        for (const PlannedOutput& o : it.outputs) {
            outputKeys[i].push_back(keys.of(o.path));
            outputsOf.add(outputKeys[i].back(), i);
        }
        if (head && head->size() == size && size > kHeadSize) { // the whole file: its conversion's too
            kept += size;
            it.input = std::move(head);
        }
    }

    // The files that pass these checks claim their outputs; two that claim one file are both
    // refused, whatever the order of the command line.
    std::vector<std::size_t> running;
    std::map<std::string, bool> writable;
    for (std::size_t i = 0; i < items.size(); ++i) {
        BatchItem& it = items[i];
        if (it.state != BatchItem::State::Run)
            continue;
        const std::vector<FileKey>& outs = outputKeys[i];
        for (std::size_t o = 0; o < outs.size() && it.state == BatchItem::State::Run; ++o) {
            const std::string name = fileName(it.outputs[o].path);
            if (inputs.find(outs[o]))
                it.fail("its output " + name + " would replace an input; nothing written");
            else if (const auto k = calibrations.find(outs[o]))
                it.fail("its output " + name + " would replace the calibration " +
                        fileName(items[*k].calibration) + "; nothing written");
        }
        if (it.state != BatchItem::State::Run)
            continue;
        if (const auto k = outputsOf.find(inputKeys[i]); k && *k != i) {
            it.fail("it is an output of " + items[*k].given + " in this batch; nothing written");
            continue;
        }
        running.push_back(i);
    }
    std::unordered_map<std::string, std::vector<std::size_t>> claims; // entry -> files writing it
    for (const std::size_t i : running)
        for (const FileKey& k : outputKeys[i]) {
            auto& who = claims[k.entry];
            if (who.empty() || who.back() != i)
                who.push_back(i);
        }
    for (const std::size_t i : running) {
        BatchItem& it = items[i];
        for (std::size_t o = 0; o < outputKeys[i].size() && it.state == BatchItem::State::Run; ++o) {
            const auto& who = claims[outputKeys[i][o].entry];
            if (who.size() > 1)
                it.fail(fileName(it.outputs[o].path) + " is also written by " +
                        items[who[0] == i ? who[1] : who[0]].given + "; nothing written");
        }
        if (it.state != BatchItem::State::Run)
            continue;
        // Neither --force nor a rerun writes over a folder, a link or a device.
        for (const PlannedOutput& o : it.outputs)
            if (const auto what = fsio::nonRegularKindOf(o.path)) {
                it.fail(fileName(o.path) + " is " + *what + "; nothing written");
                break;
            }
        if (it.state != BatchItem::State::Run)
            continue;
        // Without --force a file is done once its first output is there: that one is put in
        // place last, so a run killed meanwhile never leaves it without the others. The others
        // are checked as they are put in place. (Every output that exists is a regular file by
        // now, so its key's identity says whether it exists.)
        if (!force && outputKeys[i][0].id) {
            it.state = BatchItem::State::Skipped;
            it.say("kept existing " + fileName(it.outputs[0].path) + " (use --force to replace)", true);
            it.finished = true;
            continue;
        }
        // The folders written in, each asked once.
        for (const PlannedOutput& o : it.outputs) {
            const std::string folder = fs::path(o.path).parent_path().string();
            auto [w, fresh] = writable.try_emplace(folder, true);
            if (fresh)
                w->second = fsio::canWriteIn(folder);
            if (!w->second) {
                const std::string shown = !outputDir.empty() ? outputDir : fs::path(it.given).parent_path().string();
                it.fail("cannot write in " + (shown.empty() ? std::string(".") : shown));
                break;
            }
        }
    }
}

// Converts one planned file with a fresh state, as the window would.
void convertBatchItem(BatchItem& it, bool force, const ConversionOptions& options)
{
    TRawDatState state;
    TLitdat lit;
    HeadlessUi ui(it.path, force);
    TConversion conv(state, lit, ui, options);
    std::optional<fsio::Preloaded> read;
    if (it.input)
        read.emplace(it.path, std::exchange(it.input, std::nullopt).value());
    bool ok = it.kind == FileKind::Dat ? conv.runDat() : conv.runRaw();
    if (ok && it.kind == FileKind::Dat && !ui.memo.empty() && ui.memo.back() == "file not opened") {
        ok = false;
        ui.error = fsio::whyNotReadable(it.path);
    }
    if (!ok && ui.error == fsio::Interrupted().what()) {
        it.state = BatchItem::State::NotRun;
        return;
    }
    for (const auto& n : ui.notices) // which files hold the ranges of a RAW file
        it.say(n, true);
    // An output that appeared after the plan, without --force: kept.
    for (const auto& k : ui.declined)
        it.say("kept existing " + fileName(k) + " (use --force to replace)", true);
    if (!ok) {
        it.fail(ui.error);
    } else {
        it.state = ui.declined.empty() ? BatchItem::State::Converted : BatchItem::State::Skipped;
        if (options.dryRun && it.state == BatchItem::State::Converted) {
            std::string names;
            for (const PlannedOutput& o : it.outputs)
                names += (names.empty() ? "" : ", ") + o.path;
            it.say("would write " + names, false);
        }
    }
}


} // namespace rawdat
