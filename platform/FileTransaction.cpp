#include "platform/FileTransaction.h"

#include <cstdlib>
#include <utility>

#include "platform/Text.h"

// The bookkeeping of a transaction that is the same on every system; the
// staged files themselves are in posix/ and win32/.
namespace platform {

std::uint64_t FileTransaction::ConfiguredCommitBytes() {
    static const std::uint64_t bytes = [] {
        const char* text = std::getenv("QUARVEL_COMMIT_BYTES");
        if (text == nullptr || *text == '\0') return kDefaultCommitBytes;
        char* end = nullptr;
        const unsigned long long value = std::strtoull(text, &end, 10);
        return *end == '\0' && value > 0 ? static_cast<std::uint64_t>(value) : kDefaultCommitBytes;
    }();
    return bytes;
}

std::optional<std::size_t> FileTransaction::IndexOf(const std::string& resolved, bool exists) const {
    if (const auto found = m_byTarget.find(resolved); found != m_byTarget.end()) return found->second;
    // A new file staged before under another letter case is the same file.
    if (exists) return std::nullopt;
    if (const auto created = m_created.find(ToUpperText(resolved)); created != m_created.end()) return created->second;
    return std::nullopt;
}

void FileTransaction::Register(const std::string& target, bool exists, std::size_t index) {
    m_byTarget.emplace(target, index);
    if (!exists) m_created.emplace(ToUpperText(target), index);
}

std::vector<KeepProblem> FileTransaction::TakeKeepProblems() {
    return std::exchange(m_problems, {});
}

}  // namespace platform
