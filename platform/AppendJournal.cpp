#include "platform/AppendJournal.h"

#include <sstream>

#include "platform/FileSystem.h"
#include "platform/LockedAppend.h"

namespace platform::journal {
namespace {

constexpr std::string_view kHeader = "quarvel-append 1";

}  // namespace

std::uint64_t Checksum(std::string_view bytes, std::uint64_t hash) {
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::string Text(const Record& record) {
    std::ostringstream text;
    text << kHeader << '\n'
         << record.device << ' ' << record.inode << ' ' << record.oldLength << ' ' << record.newLength << ' '
         << record.checksum << '\n';
    return text.str();
}

std::optional<Record> Read(const std::string& path) {
    const std::optional<std::string> text = ReadFileBytes(path);
    if (!text) return std::nullopt;
    std::istringstream in(*text);
    std::string header;
    std::getline(in, header);
    Record record;
    if (header != kHeader ||
        !(in >> record.device >> record.inode >> record.oldLength >> record.newLength >> record.checksum) ||
        record.newLength < record.oldLength) {
        return std::nullopt;  // torn while it was written: no append followed it
    }
    return record;
}

}  // namespace platform::journal

namespace platform {

bool IsAppendJournalName(std::string_view name) {
    return name.size() > journal::kSuffix.size() + 1 && name.front() == '.' &&
           name.substr(name.size() - journal::kSuffix.size()) == journal::kSuffix;
}

bool LockedAppend::IsOpen() const {
    return m_file != nullptr;
}

std::string LockedAppend::JournalBeside() const {
    return JoinPath(ParentPath(m_path), "." + LastComponent(m_path) + std::string(journal::kSuffix));
}

}  // namespace platform
