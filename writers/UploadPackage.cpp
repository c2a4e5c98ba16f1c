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

// A file that libzip reads while it writes the archive: read whole through
// the platform layer when libzip opens it, and let go when it closes it, so
// only one file is held at a time.
struct FileSource {
    std::string path;
    zip_uint64_t size = 0;
    std::string bytes;
    std::size_t offset = 0;
    UploadProblem* problem = nullptr;
    zip_error_t error{};
};

void NoteSourceProblem(FileSource& source, std::string reason) {
    if (source.problem->reason.empty()) *source.problem = {source.path, std::move(reason)};
    zip_error_set(&source.error, ZIP_ER_READ, 0);
}

zip_int64_t ReadFileSource(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto& source = *static_cast<FileSource*>(state);
    switch (command) {
        case ZIP_SOURCE_OPEN: {
            std::error_code ec;
            std::optional<std::string> bytes = platform::ReadFileBytes(source.path, ec);
            if (!bytes) {
                NoteSourceProblem(source, ec.message());
                return -1;
            }
            if (bytes->size() != source.size) {
                NoteSourceProblem(source, "the file changed while it was packed");
                return -1;
            }
            source.bytes = std::move(*bytes);
            source.offset = 0;
            return 0;
        }
        case ZIP_SOURCE_READ: {
            const std::size_t n = std::min<std::size_t>(length, source.bytes.size() - source.offset);
            if (n > 0) std::memcpy(data, source.bytes.data() + source.offset, n);
            source.offset += n;
            return static_cast<zip_int64_t>(n);
        }
        case ZIP_SOURCE_CLOSE:
            std::string().swap(source.bytes);
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
            st->size = source.size;
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

std::string ZipErrorText(zip_error_t* error) {
    const char* text = zip_error_strerror(error);
    return text != nullptr ? text : "the archive could not be written";
}

// Adds one entry; false (with the problem) when libzip refuses it.
bool AddEntry(zip_t* archive, const UploadEntry& entry, UploadProblem& problem) {
    const std::optional<platform::FileStamp> stamp = platform::ReadableFileStamp(entry.path);
    if (!stamp) {
        std::error_code ec;
        std::ignore = platform::ReadFileBytes(entry.path, ec);
        problem = {entry.path, ec ? ec.message() : "the file cannot be read"};
        return false;
    }
    auto* state = new FileSource{entry.path, static_cast<zip_uint64_t>(stamp->size), {}, 0, &problem, {}};
    zip_error_init(&state->error);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_function_create(ReadFileSource, state, &error);
    if (source == nullptr) {
        zip_error_fini(&state->error);
        delete state;
        problem = {entry.path, ZipErrorText(&error)};
        zip_error_fini(&error);
        return false;
    }
    zip_error_fini(&error);
    const zip_int64_t index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        problem = {entry.path, ZipErrorText(zip_get_error(archive))};
        return false;
    }
    const auto at = static_cast<zip_uint64_t>(index);
    if (zip_set_file_compression(archive, at, ZIP_CM_DEFLATE, 0) != 0 ||
        zip_file_set_dostime(archive, at, kDosTime, kDosDate, 0) != 0 ||
        zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX, kFileAttributes) != 0) {
        problem = {entry.path, ZipErrorText(zip_get_error(archive))};
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

std::optional<std::string> BuildUploadPackage(std::vector<UploadEntry> entries, UploadProblem& problem) {
    problem = {};
    std::sort(entries.begin(), entries.end(),
              [](const UploadEntry& a, const UploadEntry& b) { return a.name < b.name; });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!platform::IsValidUtf8(entries[i].name) || entries[i].name.empty()) {
            problem = {entries[i].path, "its name is not valid UTF-8"};
            return std::nullopt;
        }
        if (i > 0 && entries[i].name == entries[i - 1].name) {
            problem = {entries[i].path, "two files have the name '" + entries[i].name + "'"};
            return std::nullopt;
        }
    }
    // libzip leaves an archive without entries unwritten.
    if (entries.empty()) {
        problem = {{}, "there are no files to pack"};
        return std::nullopt;
    }

    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (buffer == nullptr) {
        problem = {{}, ZipErrorText(&error)};
        zip_error_fini(&error);
        return std::nullopt;
    }
    zip_t* archive = zip_open_from_source(buffer, ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        problem = {{}, ZipErrorText(&error)};
        zip_error_fini(&error);
        zip_source_free(buffer);
        return std::nullopt;
    }
    zip_error_fini(&error);
    // The archive is read back from the buffer once it is closed.
    zip_source_keep(buffer);

    bool added = true;
    for (const UploadEntry& entry : entries) {
        if (!AddEntry(archive, entry, problem)) {
            added = false;
            break;
        }
    }
    std::optional<std::string> bytes;
    if (!added) {
        zip_discard(archive);
    } else if (zip_close(archive) != 0) {
        if (problem.reason.empty()) problem = {{}, ZipErrorText(zip_get_error(archive))};
        zip_discard(archive);
    } else {
        bytes = ReadBack(buffer, problem);
    }
    zip_source_free(buffer);
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
void AddSchemaFiles(CourseFiles& files, const std::string& courseFolder, const std::string& schemaFolder) {
    const auto atRoot = [&](std::string_view name) {
        return std::find_if(files.entries.begin(), files.entries.end(), [&](const UploadEntry& entry) {
            return entry.name.find('/') == std::string::npos && platform::EqualsIgnoringCase(entry.name, name);
        });
    };
    const auto manifest = atRoot("imsmanifest.xml");
    if (manifest == files.entries.end()) return;
    const std::optional<std::string> text = platform::ReadFileBytes(manifest->path);
    if (!text) return;  // the archive cannot be built either, and says why
    for (const NamedSchemaFile& schema : SchemaFilesNamedBy(*text, schemaFolder)) {
        if (atRoot(schema.name) != files.entries.end()) continue;
        if (schema.path.empty()) {
            files.notes.push_back("The upload package of '" + EscapeLogPath(courseFolder) +
                                  "' lacks the schema file '" + EscapeLogName(schema.name) + "' its manifest names: '" +
                                  EscapeLogPath(schemaFolder) + "' does not hold it.\n");
            continue;
        }
        files.entries.push_back({schema.name, schema.path});
    }
}

}  // namespace

CourseFiles CollectCourseFiles(const std::string& courseFolder, const UploadRules& rules) {
    CourseFiles files;
    std::vector<std::string> realRoots;
    for (const std::string& root : rules.allowedRoots) {
        realRoots.push_back(platform::RealPath(root).value_or(platform::AbsolutePath(root)));
    }
    const auto leadsOut = [&](const std::string& path) {
        if (realRoots.empty()) return false;
        const std::optional<std::string> real = platform::RealPath(path);
        return !real || !InAnyOf(*real, realRoots);
    };
    const auto noteLeftOut = [&](const std::string& path, const std::string& why) {
        files.notes.push_back("'" + EscapeLogPath(path) + "' " + why + "; left out of the upload package.\n");
    };

    std::set<platform::FolderIdentity> entered;
    // (folder path, its name below the course folder)
    std::vector<std::pair<std::string, std::string>> pending = {{courseFolder, {}}};
    if (const auto identity = platform::IdentifyFolder(courseFolder)) entered.insert(*identity);
    while (!pending.empty()) {
        const auto [folder, prefix] = std::move(pending.back());
        pending.pop_back();
        std::error_code ec;
        const std::vector<platform::DirEntry> entries = platform::FindEntries(folder, "*.*", ec);
        if (ec) noteLeftOut(folder, "could not be listed (" + ec.message() + ")");
        for (const platform::DirEntry& entry : entries) {
            const std::string path = platform::JoinPath(folder, entry.name);
            const std::string name = prefix.empty() ? entry.name : prefix + "/" + entry.name;
            if (entry.isDirectory) {
                if (InAnyOf(path, rules.leftOutFolders)) continue;
                const auto identity = platform::IdentifyFolder(path);
                if (!identity || !entered.insert(*identity).second) continue;
                if (leadsOut(path)) {
                    noteLeftOut(path, "leads out of the starting folder");
                    continue;
                }
                pending.emplace_back(path, name);
                continue;
            }
            if (IsLeftoverTemporary(entries, entry)) continue;
            if (!rules.leftOutFileName.empty() && platform::EqualsIgnoringCase(entry.name, rules.leftOutFileName)) {
                continue;
            }
            if (leadsOut(path)) {
                noteLeftOut(path, "leads out of the starting folder");
                continue;
            }
            files.entries.push_back({name, path});
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

void WriteUploadPackages(const std::vector<CourseToUpload>& courses, const UploadOptions& options, RunReport& report) {
    if (courses.empty()) return;
    // A package is written only into the upload folder, never out of it through a link.
    BundleFiles files(report);
    // Made first, so that the confinement holds the folder as the kernel resolves it.
    if (!files.EnsureFolder(options.uploadFolder)) return;
    files.ConfineTo({options.uploadFolder}, "the upload packages folder");

    std::vector<std::string> courseFolders;
    for (const CourseToUpload& course : courses) courseFolders.push_back(course.courseFolder);
    std::vector<std::string> packageNames;
    for (const CourseToUpload& course : courses) {
        // Names are looked up regardless of letter case: a second package of the
        // same name would replace the first.
        const auto same = std::find_if(packageNames.begin(), packageNames.end(), [&](const std::string& name) {
            return platform::EqualsIgnoringCase(name, course.packageName);
        });
        if (same != packageNames.end()) {
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
        rules.leftOutFolders.push_back(options.uploadFolder);
        for (const std::string& other : courseFolders) {
            if (other != course.courseFolder && platform::IsWithin(other, course.courseFolder)) {
                rules.leftOutFolders.push_back(other);
            }
        }
        CourseFiles collected = CollectCourseFiles(course.courseFolder, rules);
        AddSchemaFiles(collected, course.courseFolder,
                       options.schemaFolder.empty() ? platform::ParentPath(options.uploadFolder) + "/schemas"
                                                    : options.schemaFolder);
        for (const std::string& note : collected.notes) report.AddProblem(note);

        const std::string zipPath = options.uploadFolder + "/" + course.packageName + ".zip";
        UploadProblem problem;
        std::optional<std::string> bytes = BuildUploadPackage(std::move(collected.entries), problem);
        if (!bytes) {
            const std::string where = problem.path.empty() ? "" : " ('" + EscapeLogPath(problem.path) + "')";
            report.AddProblem("No upload package was written for '" + EscapeLogPath(course.courseFolder) +
                              "': " + problem.reason + where + ".\n");
            continue;
        }
        // The folders of the package's path below the upload folder.
        bool folders = true;
        for (std::size_t slash = course.packageName.find('/'); folders && slash != std::string::npos;
             slash = course.packageName.find('/', slash + 1)) {
            folders = files.EnsureFolder(options.uploadFolder + "/" + course.packageName.substr(0, slash));
        }
        if (folders && files.Write(zipPath, *bytes)) {
            report.updatedList += "Upload package written: '" + EscapeLogPath(zipPath) + "'\n";
        }
    }
    files.Finish();
}
