#include "platform/AppendJournal.h"

#include <algorithm>
#include <sstream>

#include "platform/LockedAppend.h"

namespace platform::journal {
namespace {

constexpr std::string_view kHeader = "quarvel-append 2";

bool AllZero(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == '\0'; });
}

}  // namespace

std::uint64_t Checksum(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

Record Describe(unsigned long long device, unsigned long long inode, std::uint64_t oldLength,
                std::string_view appended) {
    Record record{device, inode, oldLength, oldLength + appended.size(), {}, std::nullopt};
    for (std::size_t at = 0; at < appended.size(); at += kPieceBytes) {
        record.pieces.push_back(Checksum(appended.substr(at, kPieceBytes)));
    }
    if (appended.size() <= kPieceBytes) record.bytes = std::string(appended);
    return record;
}

std::string Text(const Record& record) {
    std::ostringstream text;
    text << kHeader << '\n'
         << record.device << ' ' << record.inode << ' ' << record.oldLength << ' ' << record.newLength << '\n';
    for (std::size_t i = 0; i < record.pieces.size(); ++i) text << (i > 0 ? " " : "") << record.pieces[i];
    text << '\n';
    if (record.bytes) text << *record.bytes;
    return text.str();
}

std::optional<Record> Parse(std::string_view text) {
    const auto line = [&text]() -> std::optional<std::string_view> {
        const std::size_t lf = text.find('\n');
        if (lf == std::string_view::npos) return std::nullopt;
        const std::string_view got = text.substr(0, lf);
        text.remove_prefix(lf + 1);
        return got;
    };
    const auto header = line();
    const auto numbers = line();
    const auto checksums = line();
    if (!header || *header != kHeader || !numbers || !checksums) return std::nullopt;
    Record record;
    std::istringstream in{std::string(*numbers)};
    if (!(in >> record.device >> record.inode >> record.oldLength >> record.newLength) ||
        record.newLength < record.oldLength) {
        return std::nullopt;
    }
    std::istringstream sums{std::string(*checksums)};
    for (std::uint64_t sum = 0; sums >> sum;) record.pieces.push_back(sum);
    const std::uint64_t appended = record.newLength - record.oldLength;
    // Torn while it was written: no append followed it.
    if (record.pieces.size() != (appended + kPieceBytes - 1) / kPieceBytes) return std::nullopt;
    if (appended <= kPieceBytes) {
        if (text.size() != appended) return std::nullopt;
        record.bytes = std::string(text);
    } else if (!text.empty()) {
        return std::nullopt;
    }
    return record;
}

bool IsWhole(const Record& record, std::string_view appended) {
    if (appended.size() != record.newLength - record.oldLength) return false;
    if (record.bytes) return *record.bytes == appended;
    for (std::size_t at = 0, index = 0; at < appended.size(); at += kPieceBytes, ++index) {
        if (Checksum(appended.substr(at, kPieceBytes)) != record.pieces[index]) return false;
    }
    return true;
}

bool IsOwnTail(const Record& record, std::uint64_t offset, std::string_view present) {
    const std::uint64_t start = offset - record.oldLength;
    if (offset < record.oldLength || start % kPieceBytes != 0) return false;
    if (start + present.size() > record.newLength - record.oldLength) return false;
    for (std::size_t at = 0; at < present.size(); at += kPieceBytes) {
        const std::string_view piece = present.substr(at, kPieceBytes);
        if (AllZero(piece)) continue;
        const std::size_t index = static_cast<std::size_t>((start + at) / kPieceBytes);
        if (record.bytes) {
            // Byte by byte: a kill may stop the write anywhere, and a power
            // cut may leave zeros where its bytes did not reach the disk.
            for (std::size_t i = 0; i < piece.size(); ++i) {
                if (piece[i] != '\0' && piece[i] != (*record.bytes)[static_cast<std::size_t>(start + at + i)]) {
                    return false;
                }
            }
        } else if (piece.size() != kPieceBytes && start + at + piece.size() != record.newLength - record.oldLength) {
            return false;  // a piece cut short cannot be checked by its checksum
        } else if (Checksum(piece) != record.pieces[index]) {
            return false;
        }
    }
    return true;
}

}  // namespace platform::journal

namespace platform {

bool IsAppendJournalName(std::string_view name) {
    return name.size() > journal::kSuffix.size() + 1 && name.front() == '.' &&
           name.substr(name.size() - journal::kSuffix.size()) == journal::kSuffix;
}

}  // namespace platform
