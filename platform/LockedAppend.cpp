#include "platform/LockedAppend.h"

#include <optional>
#include <tuple>
#include <utility>

#include "platform/AppendJournal.h"
#include "platform/AppendSystem.h"
#include "platform/FileSystem.h"
#include "platform/FolderTree.h"
#include "platform/System.h"

// How an append goes, the same on every system: the journal first, then the
// bytes, then the journal away; an unfinished append found in a journal is
// cut back while nothing follows it. The file itself is the system's
// (AppendSystem.h).
namespace platform {

struct LockedAppend::State {
    sys::AppendFileRef file{nullptr, &sys::CloseAppendFile};
    Place place;
    FolderIdentity identity;
    bool created = false;  // this Open made the file
    std::vector<std::string> notes;

    // Where the journal of an append to the file goes: beside it, or (where
    // that folder cannot be written) in the user's state folder.
    struct JournalPlace {
        FolderRef folder;
        std::string name;
    };
    JournalPlace Beside() const { return {place.folder, "." + place.name + std::string(journal::kSuffix)}; }
    JournalPlace InStateFolder(bool make) const {
        const std::string folder = sys::StateFolder(make);
        if (folder.empty()) return {};
        std::error_code ec;
        return {sys::OpenFolderAt(folder, false, ec),
                std::to_string(identity.device) + "-" + std::to_string(identity.inode) + std::string(journal::kSuffix)};
    }

    // The bytes from `offset` to the end, or nothing when they cannot all be read.
    std::optional<std::string> Tail(std::uint64_t offset, std::uint64_t size) {
        std::string bytes(static_cast<std::size_t>(size - offset), '\0');
        std::size_t have = 0;
        while (have < bytes.size()) {
            std::size_t got = 0;
            if (sys::ReadAt(*file, offset + have, bytes.data() + have, bytes.size() - have, got) || got == 0) {
                return std::nullopt;
            }
            have += got;
        }
        return bytes;
    }
};

LockedAppend::LockedAppend() = default;
LockedAppend::LockedAppend(LockedAppend&&) noexcept = default;
LockedAppend& LockedAppend::operator=(LockedAppend&&) noexcept = default;
LockedAppend::~LockedAppend() = default;

bool LockedAppend::IsOpen() const {
    return m_state != nullptr && m_state->file != nullptr;
}

void LockedAppend::Close() {
    m_state.reset();
}

std::vector<std::string> LockedAppend::TakeNotes() {
    return m_state ? std::exchange(m_state->notes, {}) : std::vector<std::string>{};
}

std::error_code LockedAppend::Open(const std::string& path, CreateIfMissing create) {
    Close();
    FolderTree tree;
    Resolution resolved = tree.Resolve(path, LastLink::follow);
    if (!resolved.place) return resolved.error;
    Place& place = *resolved.place;
    if (place.kind == EntryKind::folder) return std::make_error_code(std::errc::is_a_directory);
    if (place.kind == EntryKind::file && IsReadOnly(place)) return std::make_error_code(std::errc::permission_denied);
    if (place.kind != EntryKind::file && place.kind != EntryKind::special && create == CreateIfMissing::no) {
        return std::make_error_code(std::errc::no_such_file_or_directory);
    }
    auto state = std::make_unique<State>();
    std::error_code ec;
    state->file = sys::OpenForAppend(place, create == CreateIfMissing::yes, state->identity, state->created, ec);
    if (!state->file) return ec;
    state->place = std::move(place);
    m_state = std::move(state);
    RecoverUnfinishedAppend();
    return {};
}

void LockedAppend::RecoverUnfinishedAppend() {
    State& state = *m_state;
    for (const State::JournalPlace& at : {state.Beside(), state.InStateFolder(false)}) {
        if (!at.folder) continue;
        std::error_code ec;
        const std::optional<std::string> text = ReadFileBytes(Place{at.folder, at.name, {}, EntryKind::file}, ec);
        if (!text) continue;
        const std::optional<journal::Record> record = journal::Parse(*text);
        if (record && record->device == state.identity.device && record->inode == state.identity.inode) {
            const std::optional<std::uint64_t> size = sys::SizeOf(*state.file);
            if (!size) return;  // keep the journal for a later try
            // Shorter than before the append: the file was changed since; nothing to cut.
            if (*size > record->oldLength) {
                const std::optional<std::string> tail =
                    *size <= record->newLength ? state.Tail(record->oldLength, *size) : std::nullopt;
                if (*size <= record->newLength && !tail) return;  // keep the journal for a later try
                if (tail && journal::IsWhole(*record, *tail)) {
                    // The append went in whole; only its journal was left.
                } else if (tail && journal::IsOwnTail(*record, record->oldLength, *tail)) {
                    if (sys::CutBack(*state.file, record->oldLength)) return;  // keep the journal for a later try
                } else {
                    // Something was written after the interrupted append: its
                    // bytes are not this append's to cut.
                    state.notes.push_back("An interrupted append to '" + DisplayPath(state.place.path) +
                                          "' is followed by other lines; it was left as it is (" +
                                          std::to_string(*size - record->oldLength) + " bytes from byte " +
                                          std::to_string(record->oldLength) + ").");
                }
            }
        }
        // A torn journal (no append followed it), another file's, or one dealt with.
        sys::RemoveDurably(*at.folder, at.name);
    }
}

std::error_code LockedAppend::Append(std::string_view bytes, std::string_view prefixIfEmpty) {
    if (!IsOpen()) return std::make_error_code(std::errc::bad_file_descriptor);
    State& state = *m_state;
    const std::optional<std::uint64_t> size = sys::SizeOf(*state.file);
    if (!size) return std::make_error_code(std::errc::io_error);
    const std::uint64_t oldLength = *size;
    std::string data;
    if (oldLength == 0) data.append(prefixIfEmpty);
    data.append(bytes);
    if (data.empty()) return {};

    // Without any journal (no writable place for one) the append still goes
    // in: its lines matter more than the cut-back of a power cut in the middle.
    const std::string record =
        journal::Text(journal::Describe(state.identity.device, state.identity.inode, oldLength, data));
    std::optional<State::JournalPlace> journaled;
    for (const bool inStateFolder : {false, true}) {
        State::JournalPlace at = inStateFolder ? state.InStateFolder(true) : state.Beside();
        if (at.folder && !sys::WriteDurably(*at.folder, at.name, record)) {
            journaled = std::move(at);
            break;
        }
    }
    const std::error_code ec = sys::WriteAndSync(*state.file, oldLength, data);
    // The lock is held: nothing can follow the bytes just written.
    if (ec && sys::CutBack(*state.file, oldLength)) return ec;  // the journal stays: the next run cuts it back
    if (journaled) sys::RemoveDurably(*journaled->folder, journaled->name);
    if (ec && oldLength == 0 && state.created) {
        // A file made for these bytes alone is not left behind empty.
        std::ignore = RemoveFile(state.place);
        state.created = false;
    }
    return ec;
}

}  // namespace platform
