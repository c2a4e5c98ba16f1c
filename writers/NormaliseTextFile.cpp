#include "writers/NormaliseTextFile.h"

#include "platform/FileSystem.h"

std::string NormaliseBytes(std::string_view bytes) {
    if (!bytes.empty() && static_cast<unsigned char>(bytes.front()) == 0xEF) {
        bytes.remove_prefix(bytes.size() < 3 ? bytes.size() : 3);
    }
    return FinishedTextBytes(bytes);
}

std::string FinishedTextBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t cr = text.find('\r', pos);
        if (cr == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, cr - pos));
        pos = cr + 1;
    }
    return out;
}

std::error_code NormaliseTextFile(const std::string& path) {
    std::error_code ec;
    const auto bytes = platform::ReadFileBytes(path, ec);
    if (!bytes) return ec;
    const std::string normalised = NormaliseBytes(*bytes);
    if (normalised != *bytes) ec = platform::ReplaceFileSafely(path, normalised);
    // The temporary copy's name is taken over and cleared, as the copy would have been.
    if (const std::error_code removed = platform::RemoveFile(path + "_temp"); removed && !ec) ec = removed;
    return ec;
}
