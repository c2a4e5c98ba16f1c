#include "platform/LockedAppend.h"

#include <algorithm>
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

    // The append in hand, from BeginAppend to its end.
    struct Ongoing {
        std::uint64_t oldLength = 0;
        journal::Record record;
        std::uint64_t written = 0;  // of its bytes
        std::string batch;          // given, not yet written
        std::optional<JournalPlace> journaled;
    };
    std::optional<Ongoing> ongoing;

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

namespace {

// An append is written a batch at a time, each a whole number of journal
// pieces, so that every piece is checked whole against its measure before it
// goes in; each batch costs one wait for the disk.
constexpr std::size_t kBatchBytes = std::size_t{256} * journal::kPieceBytes;

}  // namespace

void AppendMeasure::Add(std::string_view bytes) {
    m_length += bytes.size();
    while (!bytes.empty()) {
        // A whole piece is summed up once more bytes follow it: an append of
        // one piece keeps its bytes, as its journal does.
        if (m_piece.size() == journal::kPieceBytes) {
            m_pieces.push_back(journal::Checksum(m_piece));
            m_piece.clear();
        }
        const std::size_t take = std::min<std::size_t>(journal::kPieceBytes - m_piece.size(), bytes.size());
        m_piece.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
    }
}

LockedAppend::LockedAppend() = default;
LockedAppend::LockedAppend(LockedAppend&&) noexcept = default;
LockedAppend& LockedAppend::operator=(LockedAppend&& other) noexcept {
    if (this != &other) {
        Close();
        m_state = std::move(other.m_state);
    }
    return *this;
}
LockedAppend::~LockedAppend() {
    Close();
}

bool LockedAppend::IsOpen() const {
    return m_state != nullptr && m_state->file != nullptr;
}

void LockedAppend::Close() {
    // An append left unfinished is cut back.
    if (IsOpen() && m_state->ongoing) std::ignore = EndAppend(std::make_error_code(std::errc::operation_canceled));
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
    const std::optional<std::uint64_t> size = sys::SizeOf(*m_state->file);
    if (!size) return std::make_error_code(std::errc::io_error);
    if (*size != 0) prefixIfEmpty = {};
    AppendMeasure measure;
    measure.Add(prefixIfEmpty);
    measure.Add(bytes);
    std::error_code ec = BeginAppend(measure);
    if (!ec) ec = AppendMore(prefixIfEmpty);
    if (!ec) ec = AppendMore(bytes);
    return ec ? ec : FinishAppend();
}

std::error_code LockedAppend::BeginAppend(const AppendMeasure& measure) {
    if (!IsOpen()) return std::make_error_code(std::errc::bad_file_descriptor);
    State& state = *m_state;
    if (state.ongoing) return std::make_error_code(std::errc::invalid_argument);
    const std::optional<std::uint64_t> size = sys::SizeOf(*state.file);
    if (!size) return std::make_error_code(std::errc::io_error);
    State::Ongoing ongoing;
    ongoing.oldLength = *size;
    ongoing.record = journal::Record{state.identity.device,    state.identity.inode, *size,
                                     *size + measure.m_length, measure.m_pieces,     std::nullopt};
    if (!measure.m_piece.empty()) ongoing.record.pieces.push_back(journal::Checksum(measure.m_piece));
    if (measure.m_length <= journal::kPieceBytes) ongoing.record.bytes = measure.m_piece;

    // Without any journal (no writable place for one) the append still goes
    // in: its lines matter more than the cut-back of a power cut in the middle.
    if (measure.m_length > 0) {
        const std::string record = journal::Text(ongoing.record);
        for (const bool inStateFolder : {false, true}) {
            State::JournalPlace at = inStateFolder ? state.InStateFolder(true) : state.Beside();
            if (at.folder && !sys::WriteDurably(*at.folder, at.name, record)) {
                ongoing.journaled = std::move(at);
                break;
            }
        }
    }
    state.ongoing = std::move(ongoing);
    return {};
}

std::error_code LockedAppend::AppendMore(std::string_view bytes) {
    if (!IsOpen()) return std::make_error_code(std::errc::bad_file_descriptor);
    if (!m_state->ongoing) return std::make_error_code(std::errc::invalid_argument);
    State::Ongoing& ongoing = *m_state->ongoing;
    const std::uint64_t length = ongoing.record.newLength - ongoing.record.oldLength;
    if (ongoing.written + ongoing.batch.size() + bytes.size() > length) {
        return EndAppend(std::make_error_code(std::errc::invalid_argument));
    }
    if (!ongoing.batch.empty()) {
        const std::size_t take = std::min(kBatchBytes - ongoing.batch.size(), bytes.size());
        ongoing.batch.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (ongoing.batch.size() < kBatchBytes) return {};
        if (const std::error_code ec = WriteChecked(ongoing.batch)) return EndAppend(ec);
        ongoing.batch.clear();
    }
    for (; bytes.size() >= kBatchBytes; bytes.remove_prefix(kBatchBytes)) {
        if (const std::error_code ec = WriteChecked(bytes.substr(0, kBatchBytes))) return EndAppend(ec);
    }
    ongoing.batch.assign(bytes);
    return {};
}

std::error_code LockedAppend::FinishAppend() {
    if (!IsOpen()) return std::make_error_code(std::errc::bad_file_descriptor);
    if (!m_state->ongoing) return std::make_error_code(std::errc::invalid_argument);
    State::Ongoing& ongoing = *m_state->ongoing;
    if (ongoing.written + ongoing.batch.size() != ongoing.record.newLength - ongoing.record.oldLength) {
        return EndAppend(std::make_error_code(std::errc::invalid_argument));
    }
    return EndAppend(ongoing.batch.empty() ? std::error_code() : WriteChecked(ongoing.batch));
}

std::error_code LockedAppend::WriteChecked(std::string_view bytes) {
    State& state = *m_state;
    State::Ongoing& ongoing = *state.ongoing;
    for (std::size_t at = 0; at < bytes.size(); at += journal::kPieceBytes) {
        const auto index = static_cast<std::size_t>((ongoing.written + at) / journal::kPieceBytes);
        if (index >= ongoing.record.pieces.size() ||
            journal::Checksum(bytes.substr(at, journal::kPieceBytes)) != ongoing.record.pieces[index]) {
            return std::make_error_code(std::errc::invalid_argument);
        }
    }
    if (const std::error_code ec = sys::WriteAndSync(*state.file, ongoing.oldLength + ongoing.written, bytes)) {
        return ec;
    }
    ongoing.written += bytes.size();
    return {};
}

std::error_code LockedAppend::EndAppend(std::error_code ec) {
    State& state = *m_state;
    const State::Ongoing ongoing = std::move(*state.ongoing);
    state.ongoing.reset();
    // The lock is held: nothing can follow the bytes just written.
    if (ec && sys::CutBack(*state.file, ongoing.oldLength)) return ec;  // the journal stays: the next run cuts it back
    if (ongoing.journaled) sys::RemoveDurably(*ongoing.journaled->folder, ongoing.journaled->name);
    if (ec && ongoing.oldLength == 0 && state.created) {
        // A file made for these bytes alone is not left behind empty.
        std::ignore = RemoveFile(state.place);
        state.created = false;
    }
    return ec;
}

}  // namespace platform
