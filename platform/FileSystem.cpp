#include "platform/FileSystem.h"

#include <algorithm>
#include <tuple>

#include "platform/FileTransaction.h"
#include "platform/FolderListings.h"
#include "platform/FolderTree.h"
#include "platform/LockedAppend.h"
#include "platform/System.h"
#include "platform/Text.h"

// The parts of the file-system layer that are the same on every system: path
// text, wildcards, name order and case resolution on top of the listings.
namespace platform {
namespace {

constexpr std::string_view kTempPrefix = ".quarvel-";
constexpr std::string_view kTempSuffix = ".tmp";

bool MatchFrom(std::string_view name, std::size_t n, std::string_view pattern, std::size_t p) {
    while (p < pattern.size()) {
        const char pc = pattern[p];
        if (pc == '*') {
            while (p < pattern.size() && pattern[p] == '*') ++p;
            if (p == pattern.size()) return true;
            for (std::size_t k = n; k <= name.size(); ++k) {
                if (MatchFrom(name, k, pattern, p)) return true;
            }
            return false;
        }
        if (n >= name.size()) return false;
        std::size_t nn = n, pp = p;
        const char32_t a = NextCodePoint(name, nn);
        const char32_t b = NextCodePoint(pattern, pp);
        if (b != '?' && ToUpperCodePoint(a) != ToUpperCodePoint(b)) return false;
        n = nn;
        p = pp;
    }
    return n == name.size();
}

}  // namespace

const std::error_category& FileCategory() {
    class Category final : public std::error_category {
    public:
        const char* name() const noexcept override { return "quarvel-file"; }
        std::string message(int value) const override {
            switch (static_cast<FileError>(value)) {
                case FileError::notRegularFile:
                    return "not a regular file";
                case FileError::leadsOut:
                    return "a link on the way leads out of the folders the run may change";
            }
            return "unknown file error";
        }
    };
    static const Category category;
    return category;
}

std::error_code MakeError(FileError error) {
    return {static_cast<int>(error), FileCategory()};
}

bool IsWithin(std::string_view path, std::string_view folder) {
    // A root ends in its "/": everything below it starts with it.
    if (!folder.empty() && folder.back() == '/') return path.substr(0, folder.size()) == folder;
    return path.substr(0, folder.size()) == folder && (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string ParentPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    const std::size_t root = sys::RootLength(path);
    if (slash < root) return path.substr(0, root);
    return path.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, std::string_view name) {
    std::string out = folder;
    if (out.empty() || out.back() != '/') out.push_back('/');
    out.append(name);
    return out;
}

int CompareNames(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t x = ToUpperCodePoint(NextCodePoint(a, i));
        const char32_t y = ToUpperCodePoint(NextCodePoint(b, j));
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return a.compare(b);  // names equal but for case: a fixed order all the same
}

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
    if (pattern == "*" || pattern == "*.*") return true;
    return MatchFrom(name, 0, pattern, 0);
}

std::string ResolveMissingCase(const std::string& path) {
    // Usually only the last name is missing as spelled: look in its folder alone.
    const std::size_t root = sys::RootLength(path);
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash + 1 < path.size()) {
        const std::string parent = slash < root ? path.substr(0, root) : path.substr(0, slash);
        const std::string_view name = std::string_view(path).substr(slash + 1);
        if (const auto found = listings::LookUpNameIgnoringCase(parent, name)) {
            if (name == "." || name == "..") return path;
            return found->empty() ? path : JoinPath(parent, *found);
        }
    }
    std::string current = path.substr(0, root);
    std::size_t pos = root;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        const std::string_view component(path.data() + pos, end - pos);
        pos = end + 1;
        if (component.empty()) continue;
        std::string candidate = current.empty() ? std::string(component) : JoinPath(current, component);
        if (component == "." || component == ".." || sys::LookAt(candidate)) {
            current = std::move(candidate);
            continue;
        }
        const std::string found = listings::FindNameIgnoringCase(current.empty() ? "." : current, component);
        if (found.empty()) {
            // Nothing of that name: the rest of the path stays as given.
            current = std::move(candidate);
            if (pos <= path.size()) current = JoinPath(current, std::string_view(path).substr(pos));
            return current;
        }
        current = current.empty() ? found : JoinPath(current, found);
    }
    return current;
}

std::string ResolveCase(const std::string& path) {
    if (path.empty() || sys::LookAt(path)) return path;
    return ResolveMissingCase(path);
}

PathEntry InspectPath(const std::string& path) {
    PathEntry entry;
    if (path.empty()) return entry;
    if (const std::optional<EntryKind> kind = sys::LookAt(path)) {
        entry.resolved = path;
        entry.kind = *kind;
        return entry;
    }
    entry.resolved = ResolveMissingCase(path);
    if (entry.resolved != path) entry.kind = sys::LookAt(entry.resolved).value_or(EntryKind::missing);
    return entry;
}

bool FindFirst(const std::string& path) {
    if (path.empty() || path.find_first_not_of('/', sys::RootLength(path)) == std::string::npos) return false;
    return sys::LookAt(ResolveCase(path)).has_value();
}

std::vector<DirEntry> FindEntries(const std::string& folder, std::string_view pattern) {
    std::error_code ec;
    return FindEntries(folder, pattern, ec);
}

std::vector<DirEntry> FindEntries(const std::string& folder, std::string_view pattern, std::error_code& ec) {
    ec.clear();
    std::vector<DirEntry> entries;
    const std::string resolved = ResolveCase(folder);
    const std::vector<DirEntry>* listing = listings::List(resolved);
    if (listing == nullptr) {
        ec = sys::ListError(resolved);  // ask again for the reason the listing gave none
        return entries;
    }
    for (const DirEntry& entry : *listing) {
        if (MatchesWildcard(entry.name, pattern)) entries.push_back(entry);
    }
    return entries;
}

std::vector<DirEntry> FindEntries(const std::string& patternPath) {
    return FindEntries(ParentPath(patternPath), LastComponent(patternPath));
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
    std::error_code ec;
    return ReadFileBytes(path, ec);
}

namespace {

// Where `path` leads as the system resolves it, held for one operation.
std::optional<Place> PlaceOf(const std::string& path, LastLink last, std::error_code& ec) {
    FolderTree tree;
    Resolution resolved = tree.Resolve(path, last);
    ec = resolved.error;
    return std::move(resolved.place);
}

}  // namespace

std::optional<std::string> ReadFileBytes(const std::string& path, std::error_code& ec) {
    const std::optional<Place> place = PlaceOf(path, LastLink::follow, ec);
    if (!place) return std::nullopt;
    if (place->kind == EntryKind::missing) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return std::nullopt;
    }
    return ReadFileBytes(*place, ec);
}

std::error_code RemoveFile(const std::string& path) {
    std::error_code ec;
    const std::optional<Place> place = PlaceOf(path, LastLink::keep, ec);
    if (!place) return ec == std::errc::no_such_file_or_directory ? std::error_code{} : ec;
    return RemoveFile(*place);
}

std::error_code CreateFolder(const std::string& path) {
    std::error_code ec;
    const std::optional<Place> place = PlaceOf(path, LastLink::keep, ec);
    if (!place) return ec;
    // An existing entry of that name is not made again.
    if (place->kind != EntryKind::missing) return std::make_error_code(std::errc::file_exists);
    return CreateFolder(*place);
}

std::optional<FileStamp> ReadableFileStamp(const std::string& path) {
    std::error_code ec;
    const std::optional<Place> place = PlaceOf(path, LastLink::follow, ec);
    if (!place || place->kind != EntryKind::file) return std::nullopt;
    const ReadableFile file = ReadableFile::Open(*place, ec);
    if (!file) return std::nullopt;
    return file.Stamp();
}

bool CanOpenForReading(const std::string& path) {
    return ReadableFileStamp(path).has_value();
}

bool IsReadOnly(const std::string& path) {
    std::error_code ec;
    const std::optional<Place> place = PlaceOf(path, LastLink::follow, ec);
    return place && IsReadOnly(*place);
}

std::error_code ClearReadOnly(const std::string& path) {
    std::error_code ec;
    const std::optional<Place> place = PlaceOf(path, LastLink::follow, ec);
    if (!place) return ec;
    return ClearReadOnly(*place);
}

namespace {

// A transaction of one file, committed at once: the file waits for its own
// durability alone.
std::error_code CommitOne(FileTransaction& transaction, std::error_code staged) {
    if (staged) return staged;
    const std::vector<CommitFailure> failures = transaction.Commit();
    return failures.empty() ? std::error_code{} : failures.front().error;
}

}  // namespace

std::error_code ReplaceFileSafely(const std::string& path, std::string_view bytes) {
    FileTransaction transaction;
    return CommitOne(transaction, transaction.Stage(path, bytes));
}

std::error_code CopyFileOver(const std::string& source, const std::string& destination) {
    FileTransaction transaction;
    return CommitOne(transaction, transaction.StageCopy(destination, source));
}

std::error_code AppendToExistingFile(const std::string& path, std::string_view bytes) {
    LockedAppend file;
    if (const std::error_code ec = file.Open(path, CreateIfMissing::no)) return ec;
    return file.Append(bytes);
}

std::error_code AppendUtf16LeText(const std::string& path, std::string_view text) {
    LockedAppend file;
    if (const std::error_code ec = file.Open(path, CreateIfMissing::yes)) return ec;
    return file.Append(EncodeUtf16LeText(text), "\xFF\xFE");
}

std::string EncodeUtf16LeText(std::string_view text) {
    return Utf8ToUtf16Le(ReplaceAll(text, "\n", "\r\n"));
}

std::string EncodeUtf8TextStream(std::string_view text) {
    return "\xEF\xBB\xBF" + ReplaceAll(text, "\n", "\r\n");
}

bool IsSafeReplaceTempName(std::string_view name) {
    if (name.size() != kTempPrefix.size() + 6 + kTempSuffix.size()) return false;
    if (name.substr(0, kTempPrefix.size()) != kTempPrefix) return false;
    if (name.substr(name.size() - kTempSuffix.size()) != kTempSuffix) return false;
    const std::string_view middle = name.substr(kTempPrefix.size(), 6);
    return std::all_of(middle.begin(), middle.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

std::string AbsolutePath(const std::string& path) {
    const std::string full = sys::AbsoluteSpelling(path);
    const std::size_t root = sys::RootLength(full);
    std::vector<std::string_view> parts;
    std::string_view rest = std::string_view(full).substr(root);
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out = root > 0 ? full.substr(0, root) : std::string("/");
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out.push_back('/');
        out.append(parts[i]);
    }
    return out;
}

std::string DisplayPath(const std::string& path) {
    return sys::NativeSpelling(path);
}

std::string PathFromDisplay(const std::string& path) {
    return sys::ProgramSpelling(path);
}

}  // namespace platform
