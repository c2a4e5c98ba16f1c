#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// The file system as the course tools expect it: names found regardless of
// letter case, folders listed in a fixed order, a read-only attribute, and
// files replaced so that an interruption never leaves a truncated file.
// Paths use "/" and carry no trailing separator. No call throws.
namespace platform {

struct DirEntry {
    std::string name;
    bool isDirectory = false;
};

struct LocalDate {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;    // 1-31
};

// `path` with each component that does not exist as spelled replaced by an
// existing entry whose name differs only in letter case (the first in listing
// order). Components from the first one that matches nothing stay as given.
std::string ResolveCase(const std::string& path);
// ResolveCase for a path just found missing as spelled, without looking at it again.
std::string ResolveMissingCase(const std::string& path);

// What a path names, a link at its end not followed.
enum class EntryKind { missing, file, folder, link, special };
struct PathEntry {
    std::string resolved;  // the path as ResolveCase spells it
    EntryKind kind = EntryKind::missing;
};
// One look at a path: its spelling on disk and what is there.
PathEntry InspectPath(const std::string& path);

// A find-first query on the path itself: true when a file or folder of that
// name exists. The file-system root finds nothing.
bool FindFirst(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);

// Entries of `folder` whose names match the wildcard `pattern` ("*", "?";
// "*.*" matches every name) regardless of letter case, sorted by their
// upper-cased names code point by code point. "." and ".." are left out;
// a folder that cannot be listed gives nothing. Links to folders count as folders.
std::vector<DirEntry> FindEntries(const std::string& folder, std::string_view pattern);
// The same, with the reason when the folder cannot be listed.
std::vector<DirEntry> FindEntries(const std::string& folder, std::string_view pattern, std::error_code& ec);
// The same for a path whose last component is the pattern ("dir/*.css").
std::vector<DirEntry> FindEntries(const std::string& patternPath);

bool MatchesWildcard(std::string_view name, std::string_view pattern);
// Orders names as the listing does: negative, zero or positive.
int CompareNames(std::string_view a, std::string_view b);

// Device and inode of a folder, to avoid entering one twice through links.
struct FolderIdentity {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    bool operator<(const FolderIdentity& o) const {
        return device < o.device || (device == o.device && inode < o.inode);
    }
    bool operator==(const FolderIdentity&) const = default;
};
std::optional<FolderIdentity> IdentifyFolder(const std::string& path);

// Errors of this layer that the system's error numbers do not name.
enum class FileError {
    notRegularFile = 1,
    leadsOut,  // a link on the way leads out of the folders a run is confined to
};
[[nodiscard]] std::error_code MakeError(FileError error);

// Whole content of a regular file, or nothing with the reason. The buffer
// never grows past the file's size and a small constant: a file that keeps
// growing while it is read gives file_too_large.
std::optional<std::string> ReadFileBytes(const std::string& path, std::error_code& ec);
std::optional<std::string> ReadFileBytes(const std::string& path);
// True when the file exists, is a regular file and can be opened for reading.
bool CanOpenForReading(const std::string& path);

// Replaces (or creates) the file with `bytes`, durably: the new content is
// on the disk before it takes the file's name, so the file holds its old bytes
// or its new ones whatever interrupts the write. The new file keeps the old
// one's owner, group, permission bits and extended attributes as far as the
// process may set them (a FileTransaction reports what it could not keep).
// Fails with permission_denied on a read-only file, as opening it for writing
// would. Each call waits for the disk: many files go through a FileTransaction.
[[nodiscard]] std::error_code ReplaceFileSafely(const std::string& path, std::string_view bytes);

// Copies the regular file `source` over `destination` (the overwriting copy),
// durably as above: the destination gets the source's bytes, permission bits
// and last-write time. Fails on a read-only destination or a missing
// destination folder.
[[nodiscard]] std::error_code CopyFileOver(const std::string& source, const std::string& destination);

// Deletes a file; a missing file is no error; a read-only file is refused.
// A temporary file of this program's that a run still going holds stays
// (see RemoveStaleTempFiles), and that is no error either.
[[nodiscard]] std::error_code RemoveFile(const std::string& path);

// Creates one folder; its parent must exist.
[[nodiscard]] std::error_code CreateFolder(const std::string& path);

// Whether a new file can be created (and removed again) in `folder`: the one
// test that holds for permission bits, ACLs, read-only mounts and root alike.
// The probe has a temporary file's name, so one left by a killed run is
// cleaned up as such.
bool CanCreateFileIn(const std::string& folder);

// Read-only attribute: set when the owner has no write permission.
bool IsReadOnly(const std::string& path);
// Adds the owner's write bit; other bits and the time stamps stay.
[[nodiscard]] std::error_code ClearReadOnly(const std::string& path);

// What tells a file read earlier from a changed one: size, last-write time and
// inode (a file replaced by rename gets a new one).
struct FileStamp {
    long long size = -1;
    long long modifiedNanoseconds = 0;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    bool operator==(const FileStamp&) const = default;
};
// The stamp of a file that can be opened for reading; nothing otherwise.
std::optional<FileStamp> ReadableFileStamp(const std::string& path);

// Last-write time of a file as a local calendar date.
std::optional<LocalDate> LastWriteLocalDate(const std::string& path);

// Whether an existing file can be opened for writing (it is not created).
[[nodiscard]] std::error_code OpenExistingForWriting(const std::string& path);

// Appends to an existing file only (never creates it), in place and under
// the file's lock (see LockedAppend): the file ends with all of its old bytes
// and either all of the new ones or none, and two runs at once keep both.
[[nodiscard]] std::error_code AppendToExistingFile(const std::string& path, std::string_view bytes);

// Appends `text` (UTF-8) as UTF-16LE with every LF written as CR LF, as
// above. A file that is created (or found empty) starts with the byte-order mark.
[[nodiscard]] std::error_code AppendUtf16LeText(const std::string& path, std::string_view text);

// `text` (UTF-8) as UTF-16LE with every LF written as CR LF, without byte-order mark.
std::string EncodeUtf16LeText(std::string_view text);

// The bytes a UTF-8 text stream writes: byte-order mark, every LF as CR LF.
std::string EncodeUtf8TextStream(std::string_view text);

// True for the names of the temporary files ReplaceFileSafely and CopyFileOver
// write beside their targets.
bool IsSafeReplaceTempName(std::string_view name);
// Deletes such temporary files left in `folder` by an interrupted run. A file
// whose lock a run that is still going holds is its file in flight, and stays.
void RemoveStaleTempFiles(const std::string& folder);
// The same for one such file; a file in flight stays and is no error.
[[nodiscard]] std::error_code RemoveStaleTempFile(const std::string& path);

// The path with every link, "." and ".." resolved as the kernel resolves
// them; nothing when a component is missing (a dangling link, for one).
std::optional<std::string> RealPath(const std::string& path);
// Whether the entry itself (not what it names) is a symbolic link.
bool IsLink(const std::string& path);
// What a link names, resolved against the link's folder by name (for a
// dangling link); nothing when `path` is no link.
std::optional<std::string> LinkTarget(const std::string& path);
// Whether `path` is `folder` or lies below it, by whole components.
bool IsWithin(std::string_view path, std::string_view folder);

std::string ParentPath(const std::string& path);
std::string LastComponent(const std::string& path);
std::string JoinPath(const std::string& folder, std::string_view name);

}  // namespace platform

namespace platform {
// An absolute form of `path` (relative to the current folder), with "." and
// ".." components resolved by name and no trailing "/".
std::string AbsolutePath(const std::string& path);

// `path` spelled as the system shows paths to its users, for the patch log
// and the message boxes: unchanged on Linux; on Windows with backslashes and
// the drive letter as given.
std::string DisplayPath(const std::string& path);
// The program's own spelling of a path the user or the system spelt natively.
std::string PathFromDisplay(const std::string& path);
}  // namespace platform
