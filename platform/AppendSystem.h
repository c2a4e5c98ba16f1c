#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/FolderTree.h"

// How each system opens, locks, grows, cuts and syncs a file LockedAppend
// appends to, and writes its journals: posix/ and win32/ each define these;
// the flow on top (LockedAppend.cpp) is shared. Internal to platform/.
namespace platform::sys {

struct AppendFile;
void CloseAppendFile(AppendFile* file);
using AppendFileRef = std::unique_ptr<AppendFile, void (*)(AppendFile*)>;

// Opens the file at `place` for appending, creating it empty when it is
// missing and `create` is set (as root, owned like its folder), takes its
// lock, waiting while another run holds it, and makes sure it is still the
// file of that name. Fills `identity` (device and index) and `created`.
AppendFileRef OpenForAppend(const Place& place, bool create, FolderIdentity& identity, bool& created,
                            std::error_code& ec);
std::optional<std::uint64_t> SizeOf(AppendFile& file);
[[nodiscard]] std::error_code ReadAt(AppendFile& file, std::uint64_t offset, char* buffer, std::size_t length,
                                     std::size_t& got);
// Cuts the file back to `length` bytes, durably.
[[nodiscard]] std::error_code CutBack(AppendFile& file, std::uint64_t length);
// Writes `bytes` at `offset` (its end) and makes them durable.
[[nodiscard]] std::error_code WriteAndSync(AppendFile& file, std::uint64_t offset, std::string_view bytes);

// Writes the small file `name` in `folder` (replacing it) and makes it and
// its name durable; on failure nothing of it is left.
[[nodiscard]] std::error_code WriteDurably(const HeldFolder& folder, const std::string& name, std::string_view bytes);
// Deletes `name` in `folder` and makes that durable.
void RemoveDurably(const HeldFolder& folder, const std::string& name);
// The user's own folder for this program's state (journals of files the
// user cannot write beside), made when missing and `make` is set; empty when
// there is none.
std::string StateFolder(bool make);

}  // namespace platform::sys
