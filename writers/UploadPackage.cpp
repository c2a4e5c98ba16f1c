#include "writers/UploadPackage.h"

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <tuple>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "writers/BundleFiles.h"
#include "writers/Escape.h"
#include "writers/NormaliseTextFile.h"
#include "writers/OptionalWriters.h"
#include "writers/SchemaCheck.h"

namespace {

// 1980-01-01 00:00, the earliest date the format holds.
constexpr zip_uint16_t kDosTime = 0;
constexpr zip_uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;
constexpr zip_uint32_t kFileAttributes = 0100644u << 16;  // a regular file, rw-r--r--

// A file that libzip reads while it writes the archive: opened when libzip
// opens it, read in pieces, and closed when libzip closes it, so only one
// file is open at a time and none is held in memory.
struct FileSource {
    UploadEntry entry;
    const OpenUploadEntry* open = nullptr;
    platform::ReadableFile file;
    std::uint64_t offset = 0;
    UploadProblem* problem = nullptr;
    zip_error_t error{};
};

void NoteSourceProblem(FileSource& source, std::string reason) {
    if (source.problem->reason.empty()) *source.problem = {source.entry.path, std::move(reason)};
    zip_error_set(&source.error, ZIP_ER_READ, 0);
}

zip_int64_t ReadFileSource(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto& source = *static_cast<FileSource*>(state);
    switch (command) {
        case ZIP_SOURCE_OPEN: {
            std::error_code ec;
            source.file = (*source.open)(source.entry, ec);
            if (!source.file) {
                NoteSourceProblem(source, ec.message());
                return -1;
            }
            // The file checked when the package was gathered, unchanged.
            const platform::FileStamp& was = source.entry.stamp;
            const platform::FileStamp& now = source.file.Stamp();
            if (now.size != was.size || now.device != was.device || now.inode != was.inode ||
                now.modifiedNanoseconds != was.modifiedNanoseconds) {
                source.file = {};
                NoteSourceProblem(source, "the file changed while it was packed");
                return -1;
            }
            source.offset = 0;
            return 0;
        }
        case ZIP_SOURCE_READ: {
            const std::uint64_t left = static_cast<std::uint64_t>(source.entry.stamp.size) - source.offset;
            std::size_t got = 0;
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, left));
            if (want == 0) return 0;
            if (const std::error_code ec = source.file.ReadAt(source.offset, static_cast<char*>(data), want, got)) {
                NoteSourceProblem(source, ec.message());
                return -1;
            }
            if (got == 0) {
                NoteSourceProblem(source, "the file changed while it was packed");
                return -1;
            }
            source.offset += got;
            return static_cast<zip_int64_t>(got);
        }
        case ZIP_SOURCE_CLOSE:
            source.file = {};
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
            st->size = static_cast<zip_uint64_t>(source.entry.stamp.size);
            st->comp_method = ZIP_CM_STORE;
            st->encryption_method = ZIP_EM_NONE;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&source.error, data, length);
        case ZIP_SOURCE_FREE:
            zip_error_fini(&source.error);
            delete &source;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            zip_error_set(&source.error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
    }
}

// The archive libzip writes, put straight into a staged file: it writes in
// order and seeks back to finish each entry's header.
struct StagedTarget {
    platform::StagedWriter* out = nullptr;
    std::uint64_t end = 0;     // how far it has written
    std::uint64_t readAt = 0;  // where a read goes on
    zip_error_t error{};
};

zip_int64_t Failed(StagedTarget& target, std::error_code ec) {
    zip_error_set(&target.error, ZIP_ER_WRITE, ec.value());
    return -1;
}

zip_int64_t StagedTargetCommand(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto& target = *static_cast<StagedTarget*>(state);
    platform::StagedWriter& out = *target.out;
    switch (command) {
        case ZIP_SOURCE_BEGIN_WRITE:
            target.end = 0;
            if (const std::error_code ec = out.Seek(0)) return Failed(target, ec);
            return 0;
        case ZIP_SOURCE_WRITE: {
            if (const std::error_code ec = out.Write({static_cast<const char*>(data), length})) {
                return Failed(target, ec);
            }
            target.end = std::max(target.end, out.Tell());
            return static_cast<zip_int64_t>(length);
        }
        case ZIP_SOURCE_SEEK_WRITE: {
            const zip_int64_t at = zip_source_seek_compute_offset(out.Tell(), target.end, data, length, &target.error);
            if (at < 0) return -1;
            if (const std::error_code ec = out.Seek(static_cast<std::uint64_t>(at))) return Failed(target, ec);
            return 0;
        }
        case ZIP_SOURCE_TELL_WRITE:
            return static_cast<zip_int64_t>(out.Tell());
        case ZIP_SOURCE_COMMIT_WRITE:
        case ZIP_SOURCE_ROLLBACK_WRITE:  // the staged file is dropped by whoever staged it
        case ZIP_SOURCE_REMOVE:
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_OPEN:
            target.readAt = 0;
            return 0;
        case ZIP_SOURCE_READ: {
            std::size_t got = 0;
            if (const std::error_code ec = out.ReadAt(target.readAt, static_cast<char*>(data), length, got)) {
                return Failed(target, ec);
            }
            target.readAt += got;
            return static_cast<zip_int64_t>(got);
        }
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t at =
                zip_source_seek_compute_offset(target.readAt, target.end, data, length, &target.error);
            if (at < 0) return -1;
            target.readAt = static_cast<std::uint64_t>(at);
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return static_cast<zip_int64_t>(target.readAt);
        case ZIP_SOURCE_STAT: {
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->valid = ZIP_STAT_SIZE;
            st->size = target.end;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&target.error, data, length);
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                                  ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_COMMIT_WRITE,
                                                  ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_SEEK_WRITE,
                                                  ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, ZIP_SOURCE_SUPPORTS, -1);
        default:
            zip_error_set(&target.error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
    }
}

// A zip archive read in place from an open file, for the entries it holds.
struct ZipFileSource {
    const platform::ReadableFile* file = nullptr;
    std::uint64_t at = 0;
    zip_error_t error{};
};

zip_int64_t ZipFileSourceCommand(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto& source = *static_cast<ZipFileSource*>(state);
    switch (command) {
        case ZIP_SOURCE_OPEN:
            source.at = 0;
            return 0;
        case ZIP_SOURCE_READ: {
            std::size_t got = 0;
            if (const std::error_code ec = source.file->ReadAt(source.at, static_cast<char*>(data), length, got)) {
                zip_error_set(&source.error, ZIP_ER_READ, ec.value());
                return -1;
            }
            source.at += got;
            return static_cast<zip_int64_t>(got);
        }
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t at =
                zip_source_seek_compute_offset(source.at, source.file->Size(), data, length, &source.error);
            if (at < 0) return -1;
            source.at = static_cast<std::uint64_t>(at);
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return static_cast<zip_int64_t>(source.at);
        case ZIP_SOURCE_STAT: {
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->valid = ZIP_STAT_SIZE;
            st->size = source.file->Size();
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&source.error, data, length);
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                                  ZIP_SOURCE_SUPPORTS, -1);
        default:
            zip_error_set(&source.error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
    }
}

std::string ZipErrorText(zip_error_t* error) {
    const char* text = zip_error_strerror(error);
    return text != nullptr ? text : "the archive could not be written";
}

// Adds one entry; false (with the problem) when libzip refuses it.
bool AddEntry(zip_t* archive, UploadEntry entry, const OpenUploadEntry& open, UploadProblem& problem) {
    if (entry.stamp.size < 0) {
        // Not looked at yet: the file as it is now is the one to pack.
        std::error_code ec;
        const platform::ReadableFile file = open(entry, ec);
        if (!file) {
            problem = {entry.path, ec ? ec.message() : "the file cannot be read"};
            return false;
        }
        entry.stamp = file.Stamp();
    }
    const std::string name = entry.name;
    const std::string path = entry.path;
    auto* state = new FileSource{std::move(entry), &open, {}, 0, &problem, {}};
    zip_error_init(&state->error);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_function_create(ReadFileSource, state, &error);
    if (source == nullptr) {
        zip_error_fini(&state->error);
        delete state;
        problem = {path, ZipErrorText(&error)};
        zip_error_fini(&error);
        return false;
    }
    zip_error_fini(&error);
    const zip_int64_t index = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        problem = {path, ZipErrorText(zip_get_error(archive))};
        return false;
    }
    const auto at = static_cast<zip_uint64_t>(index);
    if (zip_set_file_compression(archive, at, ZIP_CM_DEFLATE, 0) != 0 ||
        zip_file_set_dostime(archive, at, kDosTime, kDosDate, 0) != 0 ||
        zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX, kFileAttributes) != 0) {
        problem = {path, ZipErrorText(zip_get_error(archive))};
        return false;
    }
    return true;
}

// The finished archive held by `buffer`.
std::optional<std::string> ReadBack(zip_source_t* buffer, UploadProblem& problem) {
    zip_stat_t st;
    if (zip_source_stat(buffer, &st) != 0 || (st.valid & ZIP_STAT_SIZE) == 0 || zip_source_open(buffer) != 0) {
        problem = {{}, ZipErrorText(zip_source_error(buffer))};
        return std::nullopt;
    }
    std::string bytes(st.size, '\0');
    const zip_int64_t read = zip_source_read(buffer, bytes.data(), st.size);
    zip_source_close(buffer);
    if (read < 0 || static_cast<zip_uint64_t>(read) != st.size) {
        problem = {{}, ZipErrorText(zip_source_error(buffer))};
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

namespace {

// Sorts the entries and refuses what cannot be packed faithfully.
bool PrepareEntries(std::vector<UploadEntry>& entries, UploadProblem& problem) {
    problem = {};
    std::sort(entries.begin(), entries.end(),
              [](const UploadEntry& a, const UploadEntry& b) { return a.name < b.name; });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!platform::IsValidUtf8(entries[i].name) || entries[i].name.empty()) {
            problem = {entries[i].path, "its name is not valid UTF-8"};
            return false;
        }
        if (const std::string why = WhyUnsafeEntryName(entries[i].name); !why.empty()) {
            problem = {entries[i].path, "an unzip on Windows would put it elsewhere: its name " + why.substr(3)};
            return false;
        }
        if (i > 0 && entries[i].name == entries[i - 1].name) {
            problem = {entries[i].path, "two files have the name '" + entries[i].name + "'"};
            return false;
        }
    }
    // libzip leaves an archive without entries unwritten.
    if (entries.empty()) {
        problem = {{}, "there are no files to pack"};
        return false;
    }
    return true;
}

// Writes the archive of the prepared `entries` into `target` (kept by the caller).
bool BuildInto(zip_source_t* target, const std::vector<UploadEntry>& entries, const OpenUploadEntry& open,
               UploadProblem& problem) {
    zip_error_t error;
    zip_error_init(&error);
    zip_t* archive = zip_open_from_source(target, ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        problem = {{}, ZipErrorText(&error)};
        zip_error_fini(&error);
        return false;
    }
    zip_error_fini(&error);
    // zip_close lets go of the target: the caller still holds it.
    zip_source_keep(target);
    for (const UploadEntry& entry : entries) {
        if (!AddEntry(archive, entry, open, problem)) {
            zip_discard(archive);
            return false;
        }
    }
    if (zip_close(archive) != 0) {
        if (problem.reason.empty()) problem = {{}, ZipErrorText(zip_get_error(archive))};
        zip_discard(archive);
        return false;
    }
    return true;
}

platform::ReadableFile OpenByPath(const UploadEntry& entry, std::error_code& ec) {
    platform::FolderTree tree;
    const platform::Resolution resolution = tree.Resolve(entry.path);
    if (!resolution.place) {
        ec = resolution.error ? resolution.error : std::make_error_code(std::errc::no_such_file_or_directory);
        return {};
    }
    return platform::ReadableFile::Open(*resolution.place, ec);
}

}  // namespace

std::error_code WriteUploadPackage(std::vector<UploadEntry> entries, const OpenUploadEntry& open,
                                   platform::StagedWriter& out, UploadProblem& problem) {
    if (!PrepareEntries(entries, problem)) return std::make_error_code(std::errc::invalid_argument);
    StagedTarget state{&out, 0, 0, {}};
    zip_error_init(&state.error);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* target = zip_source_function_create(StagedTargetCommand, &state, &error);
    bool built = false;
    if (target == nullptr) {
        problem = {{}, ZipErrorText(&error)};
    } else {
        built = BuildInto(target, entries, open, problem);
        zip_source_free(target);
    }
    zip_error_fini(&error);
    zip_error_fini(&state.error);
    return built ? std::error_code{} : std::make_error_code(std::errc::io_error);
}

std::optional<std::string> BuildUploadPackage(std::vector<UploadEntry> entries, UploadProblem& problem) {
    if (!PrepareEntries(entries, problem)) return std::nullopt;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (buffer == nullptr) {
        problem = {{}, ZipErrorText(&error)};
        zip_error_fini(&error);
        return std::nullopt;
    }
    zip_error_fini(&error);
    const OpenUploadEntry open = OpenByPath;
    std::optional<std::string> bytes;
    if (BuildInto(buffer, entries, open, problem)) bytes = ReadBack(buffer, problem);
    zip_source_free(buffer);
    return bytes;
}

std::optional<std::string> ReadZipEntry(const platform::ReadableFile& zip, const std::string& name,
                                        std::uint64_t limit) {
    ZipFileSource state{&zip, 0, {}};
    zip_error_init(&state.error);
    zip_error_t error;
    zip_error_init(&error);
    std::optional<std::string> bytes;
    zip_source_t* source = zip_source_function_create(ZipFileSourceCommand, &state, &error);
    zip_t* archive = source != nullptr ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    if (archive == nullptr) {
        if (source != nullptr) zip_source_free(source);
    } else {
        zip_stat_t st;
        if (zip_stat(archive, name.c_str(), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) != 0 && st.size <= limit) {
            if (zip_file_t* file = zip_fopen(archive, name.c_str(), 0)) {
                std::string text(static_cast<std::size_t>(st.size), '\0');
                if (zip_fread(file, text.data(), st.size) == static_cast<zip_int64_t>(st.size)) bytes = std::move(text);
                zip_fclose(file);
            }
        }
        zip_discard(archive);
    }
    zip_error_fini(&error);
    zip_error_fini(&state.error);
    return bytes;
}

namespace {

bool InAnyOf(const std::string& path, const std::vector<std::string>& folders) {
    return std::any_of(folders.begin(), folders.end(),
                       [&](const std::string& folder) { return platform::IsWithin(path, folder); });
}

// A temporary file of an interrupted write: the safe replacement's, or the
// normaliser's "<name>_temp" beside its file.
bool IsLeftoverTemporary(const std::vector<platform::DirEntry>& entries, const platform::DirEntry& entry) {
    if (platform::IsSafeReplaceTempName(entry.name)) return true;
    const std::string_view suffix = kNormaliserTempSuffix;
    if (entry.name.size() <= suffix.size() || !entry.name.ends_with(suffix)) return false;
    const std::string original = entry.name.substr(0, entry.name.size() - suffix.size());
    return std::any_of(entries.begin(), entries.end(),
                       [&](const platform::DirEntry& other) { return !other.isDirectory && other.name == original; });
}

// Adds the schema files the course's manifest names at the package root.
void AddSchemaFiles(CourseFiles& files, const std::string& courseFolder, const std::string& schemaFolder,
                    const std::optional<std::string>& manifestText, std::vector<std::string>& notes) {
    const auto atRoot = [&](std::string_view name) {
        return std::find_if(files.entries.begin(), files.entries.end(), [&](const UploadEntry& entry) {
            return entry.name.find('/') == std::string::npos && platform::EqualsIgnoringCase(entry.name, name);
        });
    };
    if (!manifestText) return;
    for (const NamedSchemaFile& schema : SchemaFilesNamedBy(*manifestText, schemaFolder)) {
        if (atRoot(schema.name) != files.entries.end()) continue;
        if (schema.path.empty()) {
            notes.push_back("The upload package of '" + EscapeLogPath(courseFolder) + "' lacks the schema file '" +
                            EscapeLogName(schema.name) + "' its manifest names: '" + EscapeLogPath(schemaFolder) +
                            "' does not hold it.\n");
            continue;
        }
        files.entries.push_back({schema.name, schema.path});
    }
}

// Whether a file with `access` lets read it everyone a package with the
// bits `mode`, owned by `owner`, would let read it.
std::uint32_t NarrowedMode(std::uint32_t mode, const platform::FileOwner& owner, const platform::FileAccess& access) {
    const bool othersRead = (access.mode & 04) != 0;
    const bool groupRead = othersRead || ((access.mode & 040) != 0 && access.owner.group == owner.group);
    if (!othersRead) mode &= ~07u;
    if (!groupRead) mode &= ~070u;
    return mode;
}

}  // namespace

CourseFiles CollectCourseFiles(const std::string& courseFolder, const UploadRules& rules) {
    CourseFiles files;
    const auto noteLeftOut = [&](const std::string& path, const std::string& why) {
        files.notes.push_back("'" + EscapeLogPath(path) + "' " + why + "; left out of the upload package.\n");
    };
    // Every file is reached through the folders that hold it, so that a name
    // swapped for a link after it was looked at is not followed.
    platform::FolderTree tree;
    std::ignore = tree.ConfineTo(rules.allowedRoots);
    const auto openFolder = [&](const std::string& path) -> platform::FolderRef {
        std::error_code ec;
        std::optional<platform::LinkOut> out;
        platform::FolderRef folder = tree.OpenFolder(path, ec, &out);
        if (out) {
            noteLeftOut(path, "leads out of the starting folder");
        } else if (!folder) {
            noteLeftOut(path, "could not be listed (" + ec.message() + ")");
        }
        return folder;
    };

    const platform::FolderRef top = openFolder(courseFolder);
    if (!top) return files;
    files.owner = platform::OwnerOf(*top);
    std::set<platform::FolderIdentity> entered = {top->Identity()};
    // (folder path, its name below the course folder)
    std::vector<std::pair<std::string, std::string>> pending = {{courseFolder, {}}};
    while (!pending.empty()) {
        const auto [folderPath, prefix] = std::move(pending.back());
        pending.pop_back();
        const platform::FolderRef folder = folderPath == courseFolder ? top : openFolder(folderPath);
        if (!folder) continue;
        std::error_code ec;
        const std::vector<platform::DirEntry>* listed = platform::ListFolder(*folder, ec);
        if (listed == nullptr) {
            noteLeftOut(folderPath, "could not be listed (" + ec.message() + ")");
            continue;
        }
        const std::vector<platform::DirEntry> entries = *listed;
        for (const platform::DirEntry& entry : entries) {
            const std::string path = platform::JoinPath(folderPath, entry.name);
            const std::string name = prefix.empty() ? entry.name : prefix + "/" + entry.name;
            if (entry.isDirectory) {
                if (InAnyOf(path, rules.leftOutFolders)) continue;
                const platform::FolderRef inner = openFolder(path);
                if (!inner || !entered.insert(inner->Identity()).second) continue;
                pending.emplace_back(path, name);
                continue;
            }
            if (IsLeftoverTemporary(entries, entry)) continue;
            if (!rules.leftOutFileName.empty() && platform::EqualsIgnoringCase(entry.name, rules.leftOutFileName)) {
                continue;
            }
            const platform::Resolution resolution = tree.Resolve(path);
            if (resolution.out) {
                noteLeftOut(path, "leads out of the starting folder");
                continue;
            }
            std::error_code openError = resolution.error;
            platform::ReadableFile file;
            if (resolution.place) file = platform::ReadableFile::Open(*resolution.place, openError);
            if (!file) {
                noteLeftOut(path, "could not be read (" + openError.message() + ")");
                continue;
            }
            if (files.owner && !platform::OwnerCanRead(*files.owner, *resolution.place, file)) {
                noteLeftOut(path, "cannot be read by the owner of '" + EscapeLogPath(courseFolder) + "'");
                continue;
            }
            if (files.owner) {
                if (const std::optional<platform::FileAccess> access = platform::AccessOf(file)) {
                    files.packageMode = NarrowedMode(files.packageMode, *files.owner, *access);
                }
            }
            files.entries.push_back({name, path, file.Stamp()});
        }
    }
    return files;
}

bool HasUploadPackages() {
    return true;
}

std::string UploadPackageName(const std::string& courseFolder, const std::string& base) {
    std::string start = base;
    while (start.size() > 1 && start.back() == '/') start.pop_back();
    if (courseFolder != start && platform::IsWithin(courseFolder, start)) {
        return courseFolder.substr(start == "/" ? 1 : start.size() + 1);
    }
    return platform::LastComponent(courseFolder);
}

namespace {

// Reads the files of packages through the folders that hold them, confined
// to the allowed roots.
class PackageReader {
public:
    explicit PackageReader(const std::vector<std::string>& roots) { std::ignore = m_tree.ConfineTo(roots); }

    platform::ReadableFile Open(const UploadEntry& entry, std::error_code& ec) {
        const platform::Resolution resolution = m_tree.Resolve(entry.path);
        if (resolution.out) {
            ec = std::make_error_code(std::errc::permission_denied);
            return {};
        }
        if (!resolution.place) {
            ec = resolution.error ? resolution.error : std::make_error_code(std::errc::no_such_file_or_directory);
            return {};
        }
        return platform::ReadableFile::Open(*resolution.place, ec);
    }

    // The content of the package's file `name` at its root, when it holds one.
    std::optional<std::string> ReadAtRoot(const std::vector<UploadEntry>& entries, std::string_view name) {
        for (const UploadEntry& entry : entries) {
            if (entry.name != name) continue;
            std::error_code ec;
            const platform::ReadableFile file = Open(entry, ec);
            if (!file || file.Stamp() != entry.stamp) return std::nullopt;
            return file.ReadAll(ec);
        }
        return std::nullopt;
    }

private:
    platform::FolderTree m_tree;
};

// The identifiers of the package file `name` in the zip `zip`.
void AddIdentifiersOf(const platform::ReadableFile& zip, const std::string& name, PackageIdentifiers& ids) {
    constexpr std::uint64_t kLimit = 64u << 20;  // far more than any manifest
    const std::optional<std::string> text = ReadZipEntry(zip, name, kLimit);
    if (!text) return;
    if (const std::optional<PackageFileFacts> facts = ReadPackageFile(*text)) {
        const PackageIdentifiers& found = facts->identifiers;
        ids.manifest.insert(ids.manifest.end(), found.manifest.begin(), found.manifest.end());
        ids.organizations.insert(ids.organizations.end(), found.organizations.begin(), found.organizations.end());
        ids.items.insert(ids.items.end(), found.items.begin(), found.items.end());
        ids.resources.insert(ids.resources.end(), found.resources.begin(), found.resources.end());
        ids.activities.insert(ids.activities.end(), found.activities.begin(), found.activities.end());
    }
}

}  // namespace

std::vector<GatheredPackage> WriteUploadPackages(const std::vector<CourseToUpload>& courses,
                                                 const UploadOptions& options, RunReport& runReport) {
    std::vector<GatheredPackage> gathered;
    if (courses.empty()) return gathered;
    // Notes gather here first: a package the archive refuses is named once,
    // with its reason, not also as a failed write.
    RunReport report;
    // A package is written only into the upload folder, never out of it through a link.
    BundleFiles files(report);
    if (options.run != nullptr) files.Join(*options.run);
    if (options.zip) {
        // Made first, so that the confinement holds the folder as the kernel resolves it.
        if (!files.EnsureFolder(options.uploadFolder)) {
            runReport.updatedList += report.updatedList;
            runReport.problemNotes += report.problemNotes;
            return gathered;
        }
        files.ConfineTo({options.uploadFolder}, "the upload packages folder");
    }
    PackageReader reader(options.allowedRoots);
    const OpenUploadEntry open = [&](const UploadEntry& entry, std::error_code& ec) { return reader.Open(entry, ec); };
    // The bits and owner each written package gets once it is in place.
    struct Written {
        std::string zipPath;
        std::optional<platform::FileOwner> owner;
        std::uint32_t mode = 0644;
        std::vector<std::string> schemaNotes;
    };
    std::vector<Written> written;

    std::vector<std::string> courseFolders;
    for (const CourseToUpload& course : courses) courseFolders.push_back(course.courseFolder);
    std::vector<std::string> packageNames;
    for (const CourseToUpload& course : courses) {
        // Names are looked up regardless of letter case: a second package of the
        // same name would replace the first.
        const auto same = std::find_if(packageNames.begin(), packageNames.end(), [&](const std::string& name) {
            return platform::EqualsIgnoringCase(name, course.packageName);
        });
        if (options.zip && same != packageNames.end()) {
            report.AddProblem(
                "No upload package was written for '" + EscapeLogPath(course.courseFolder) +
                "': its name differs only in letter case from that of '" +
                EscapeLogPath(courses[static_cast<std::size_t>(same - packageNames.begin())].courseFolder) + "'.\n");
            packageNames.emplace_back();
            continue;
        }
        packageNames.push_back(course.packageName);
        UploadRules rules;
        rules.allowedRoots = options.allowedRoots;
        if (options.leaveOutCourseBmp) rules.leftOutFileName = course.courseID + ".bmp";
        if (options.zip) rules.leftOutFolders.push_back(options.uploadFolder);
        for (const std::string& other : courseFolders) {
            if (other != course.courseFolder && platform::IsWithin(other, course.courseFolder)) {
                rules.leftOutFolders.push_back(other);
            }
        }
        CourseFiles collected = CollectCourseFiles(course.courseFolder, rules);
        // Named only for a package that is written.
        std::vector<std::string> schemaNotes;
        GatheredPackage package;
        package.courseFolder = course.courseFolder;
        package.packageName = options.zip ? course.packageName + ".zip" : course.courseFolder;
        package.package.manifest = reader.ReadAtRoot(collected.entries, "imsmanifest.xml");
        package.package.activities = reader.ReadAtRoot(collected.entries, "tincan.xml");
        AddSchemaFiles(collected, course.courseFolder,
                       options.schemaFolder.empty() ? platform::ParentPath(options.uploadFolder) + "/schemas"
                                                    : options.schemaFolder,
                       package.package.manifest, schemaNotes);
        for (const std::string& note : collected.notes) report.AddProblem(note);
        for (const UploadEntry& entry : collected.entries) {
            package.package.names.push_back(entry.name);
            if (entry.stamp.size > 0) package.package.bytes += static_cast<std::uint64_t>(entry.stamp.size);
        }
        if (!options.zip) {
            gathered.push_back(std::move(package));
            continue;
        }

        const std::string zipPath = options.uploadFolder + "/" + course.packageName + ".zip";
        std::error_code ec;
        if (const platform::ReadableFile earlier = files.Open(zipPath, ec)) {
            PackageIdentifiers ids;
            AddIdentifiersOf(earlier, "imsmanifest.xml", ids);
            AddIdentifiersOf(earlier, "tincan.xml", ids);
            package.earlier = ids;
        }
        // The folders of the package's path below the upload folder.
        bool folders = true;
        for (std::size_t slash = course.packageName.find('/'); folders && slash != std::string::npos;
             slash = course.packageName.find('/', slash + 1)) {
            folders = files.EnsureFolder(options.uploadFolder + "/" + course.packageName.substr(0, slash));
        }
        if (!folders) continue;
        UploadProblem problem;
        std::uint64_t size = 0;
        const struct {
            std::size_t text;
            int notes;
            std::size_t paths;
        } mark{report.updatedList.size(), report.problemNotes, report.problemPaths.size()};
        const bool staged = files.WriteWith(zipPath, [&](platform::StagedWriter& out) {
            const std::error_code built = WriteUploadPackage(collected.entries, open, out, problem);
            size = out.Tell();
            return built;
        });
        if (!staged) {
            if (problem.reason.empty()) continue;  // the write itself failed, and is noted
            report.updatedList.resize(mark.text);
            report.problemNotes = mark.notes;
            report.problemPaths.resize(mark.paths);
            const std::string where = problem.path.empty() ? "" : " ('" + EscapeLogPath(problem.path) + "')";
            report.AddProblem("No upload package was written for '" + EscapeLogPath(course.courseFolder) +
                              "': " + problem.reason + where + ".\n");
            continue;
        }
        package.package.bytes = size;
        report.updatedList += "Upload package written: '" + EscapeLogPath(zipPath) + "'\n";

        written.push_back({zipPath, collected.owner, collected.packageMode, std::move(schemaNotes)});
        gathered.push_back(std::move(package));
    }
    files.Finish();
    // The package belongs to its course's owner, and lets read it no one who
    // could not read all its files.
    for (const Written& zip : written) {
        if (!files.Exists(zip.zipPath)) continue;  // not put in place: that is noted
        for (const std::string& note : zip.schemaNotes) report.AddProblem(note);
        if (const std::error_code ec = files.GiveTo(zip.zipPath, zip.owner, zip.mode)) {
            report.AddProblem("The upload package '" + EscapeLogPath(zip.zipPath) +
                              "' could not be given its course's owner and permissions (" + ec.message() + ").\n");
        }
    }
    runReport.updatedList += report.updatedList;
    runReport.problemNotes += report.problemNotes;
    runReport.problemPaths.insert(runReport.problemPaths.end(), report.problemPaths.begin(), report.problemPaths.end());
    runReport.problems.insert(runReport.problems.end(), report.problems.begin(), report.problems.end());
    if (options.run != nullptr) options.run->AddChanges(files.Changes());
    return gathered;
}
