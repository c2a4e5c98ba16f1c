#include "writers/BundleFiles.h"

#include <tuple>

#include "platform/FileSystem.h"

bool BundleFiles::Write(const std::string& path, std::string_view bytes) {
    if (const std::error_code ec = platform::ReplaceFileSafely(path, bytes)) {
        NoteFailure("write", path, ec);
        return false;
    }
    return true;
}

bool BundleFiles::Copy(const std::string& source, const std::string& destination) {
    if (const std::error_code ec = platform::CopyFileOver(source, destination)) {
        if (platform::IsRegularFile(source)) NoteFailure("copy to", destination, ec);
        return false;
    }
    return true;
}

bool BundleFiles::Delete(const std::string& path) {
    if (const std::error_code ec = platform::RemoveFile(path)) {
        NoteFailure("delete", path, ec);
        return false;
    }
    return true;
}

bool BundleFiles::EnsureFolder(const std::string& path) {
    if (platform::FindFirst(path)) return true;
    if (const std::error_code ec = platform::CreateFolder(path)) {
        NoteFailure("create the folder", path, ec);
        return false;
    }
    return true;
}

void BundleFiles::MakeWritable(const std::string& path) {
    if (platform::IsRegularFile(path)) std::ignore = platform::ClearReadOnly(path);
}

std::optional<std::string> BundleFiles::Read(const std::string& path, std::error_code& ec) {
    return platform::ReadFileBytes(path, ec);
}

bool BundleFiles::Exists(const std::string& path) { return platform::FindFirst(path); }

void BundleFiles::NoteFailure(const std::string& action, const std::string& path, std::error_code ec) {
    m_report.AddProblem("Could not " + action + " '" + path + "': " + ec.message() + ".\n");
}
