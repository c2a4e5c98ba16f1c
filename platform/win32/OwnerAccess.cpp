#include "platform/OwnerAccess.h"

// Windows keeps readers in ACLs that a copied or zipped file does not take
// from its sources; the run acts only as the person who started it.
namespace platform {

std::optional<FileOwner> OwnerOf(const HeldFolder& /*folder*/) {
    return std::nullopt;
}

bool RunsAs(const FileOwner& /*owner*/) {
    return true;
}

std::optional<FileAccess> AccessOf(const ReadableFile& /*file*/) {
    return std::nullopt;
}

bool OwnerCanRead(const FileOwner& /*owner*/, const Place& /*place*/, const ReadableFile& /*file*/) {
    return true;
}

std::error_code GiveTo(const ReadableFile& /*file*/, const std::optional<FileOwner>& /*owner*/,
                       std::uint32_t /*mode*/) {
    return {};
}

}  // namespace platform
