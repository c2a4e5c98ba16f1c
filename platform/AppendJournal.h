#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The record LockedAppend keeps durably while it appends: which file, its
// length before and after, and what the appended bytes were, so that the
// append can be told apart from anything written after it. Internal to
// platform/.
namespace platform::journal {

inline constexpr std::string_view kSuffix = ".quarvel-append";
// The appended bytes are checked piece by piece; an append no longer than
// one piece keeps its bytes in the journal, so that any part of it can be
// recognised (a kill can stop a write anywhere).
inline constexpr std::uint64_t kPieceBytes = std::uint64_t{64} << 10;

struct Record {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    std::uint64_t oldLength = 0;
    std::uint64_t newLength = 0;
    std::vector<std::uint64_t> pieces;  // checksum of each piece of the appended bytes
    std::optional<std::string> bytes;   // the appended bytes themselves, when they fit in one piece
};

// FNV-1a: enough to tell bytes that reached the disk from the zeros or
// garbage a power cut leaves in a file's tail, or from another run's lines.
std::uint64_t Checksum(std::string_view bytes);

// The record of appending `appended` to a file of `oldLength` bytes.
Record Describe(unsigned long long device, unsigned long long inode, std::uint64_t oldLength,
                std::string_view appended);
// The journal file's bytes.
std::string Text(const Record& record);
// The record a journal file holds; nothing when it is torn (then no append followed it).
std::optional<Record> Parse(std::string_view text);

// Whether `present`, the bytes found at `offset` past the old length, can be
// what the append left there: each byte matches the record (each piece, where
// only checksums are kept) or is zero, as a power cut leaves it. Then nothing
// else was written after the append.
// Whether `appended` is every byte of the append, as the record has them.
bool IsWhole(const Record& record, std::string_view appended);
bool IsOwnTail(const Record& record, std::uint64_t offset, std::string_view present);

}  // namespace platform::journal
