#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The record LockedAppend keeps durably while it appends: which file, its
// length before and after, and a checksum of the appended bytes. Internal to
// platform/.
namespace platform::journal {

struct Record {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    std::uint64_t oldLength = 0;
    std::uint64_t newLength = 0;
    std::uint64_t checksum = 0;
};

inline constexpr std::string_view kSuffix = ".quarvel-append";
inline constexpr std::uint64_t kChecksumStart = 14695981039346656037ULL;

// FNV-1a over the appended bytes: enough to tell bytes that reached the disk
// from the zeros or garbage a power cut leaves in a file's tail.
std::uint64_t Checksum(std::string_view bytes, std::uint64_t hash = kChecksumStart);

// The journal file's bytes.
std::string Text(const Record& record);
// The record a journal file holds; nothing when it is missing or torn.
std::optional<Record> Read(const std::string& path);

}  // namespace platform::journal
