#include <algorithm>
#include <optional>

#include "platform/AppendJournal.h"
#include "platform/AppendSystem.h"
#include "platform/FolderTree.h"
#include "platform/RunRecordSystem.h"

// Taking back a run's append, the same on every system: under the lock every
// appender takes, and only while the run's bytes are still the file's tail.
namespace platform {
namespace {

struct Opened {
    sys::AppendFileRef file{nullptr, &sys::CloseAppendFile};
    std::uint64_t size = 0;
};

Opened OpenLocked(const std::string& path, std::error_code& ec) {
    Opened opened;
    FolderTree tree;
    const Resolution resolved = tree.Resolve(path, LastLink::follow);
    if (!resolved.place) {
        ec = resolved.error ? resolved.error : std::make_error_code(std::errc::no_such_file_or_directory);
        return opened;
    }
    if (resolved.place->kind != EntryKind::file) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return opened;
    }
    FolderIdentity identity;
    bool created = false;
    opened.file = sys::OpenForAppend(*resolved.place, false, identity, created, ec);
    if (!opened.file) return opened;
    const std::optional<std::uint64_t> size = sys::SizeOf(*opened.file);
    if (!size) {
        ec = std::make_error_code(std::errc::io_error);
        opened.file.reset();
        return opened;
    }
    opened.size = *size;
    return opened;
}

std::error_code Checksums(sys::AppendFile& file, std::uint64_t from, std::uint64_t to,
                          std::vector<std::uint64_t>& checksums) {
    checksums.clear();
    std::string piece;
    for (std::uint64_t at = from; at < to; at += journal::kPieceBytes) {
        piece.assign(static_cast<std::size_t>(std::min(journal::kPieceBytes, to - at)), '\0');
        std::size_t have = 0;
        while (have < piece.size()) {
            std::size_t got = 0;
            if (const std::error_code ec =
                    sys::ReadAt(file, at + have, piece.data() + have, piece.size() - have, got)) {
                return ec;
            }
            if (got == 0) return std::make_error_code(std::errc::io_error);
            have += got;
        }
        checksums.push_back(journal::Checksum(piece));
    }
    return {};
}

}  // namespace

std::error_code ChecksumAppended(const std::string& path, std::uint64_t oldLength, std::uint64_t newLength,
                                 std::vector<std::uint64_t>& checksums) {
    std::error_code ec;
    Opened opened = OpenLocked(path, ec);
    if (!opened.file) return ec;
    if (opened.size < newLength || newLength < oldLength) return std::make_error_code(std::errc::invalid_argument);
    return Checksums(*opened.file, oldLength, newLength, checksums);
}

std::error_code CutAppendBack(const std::string& path, std::uint64_t oldLength, std::uint64_t newLength,
                              const std::vector<std::uint64_t>& checksums, AppendCut& outcome) {
    outcome = AppendCut::notTail;
    std::error_code ec;
    Opened opened = OpenLocked(path, ec);
    if (!opened.file) return ec;
    // Something appended after the run, or the file cut or rewritten since:
    // its lines are not the run's to take.
    if (opened.size == oldLength) outcome = AppendCut::cutAlready;
    if (opened.size != newLength || newLength < oldLength) return {};
    std::vector<std::uint64_t> present;
    if ((ec = Checksums(*opened.file, oldLength, newLength, present))) return ec;
    if (present != checksums) return {};
    if ((ec = sys::CutBack(*opened.file, oldLength))) return ec;
    outcome = AppendCut::cut;
    return {};
}

}  // namespace platform
