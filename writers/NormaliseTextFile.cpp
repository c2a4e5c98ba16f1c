#include "writers/NormaliseTextFile.h"

#include <tuple>

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

bool WriteNormalisedFile(BundleFiles& files, const std::string& path, std::string_view finishedBytes) {
    if (!files.Write(path, finishedBytes)) return false;
    // The temporary copy's name is taken over and cleared, as the copy would have been.
    std::ignore = files.Delete(path + std::string(kNormaliserTempSuffix));
    return true;
}

bool WriteNormalisedFileWith(BundleFiles& files, const std::string& path, const platform::FillStagedFile& fill) {
    if (!files.WriteWith(path, fill)) return false;
    std::ignore = files.Delete(path + std::string(kNormaliserTempSuffix));
    return true;
}

void NormaliseTextFile(BundleFiles& files, const std::string& path) {
    std::error_code ec;
    const auto bytes = files.Read(path, ec);
    if (!bytes) {
        if (ec != std::errc::no_such_file_or_directory) files.NoteFailure("read", path, ec);
        return;
    }
    const std::string normalised = NormaliseBytes(*bytes);
    if (normalised != *bytes) std::ignore = files.Write(path, normalised);
    // The temporary copy's name is taken over and cleared, as the copy would have been.
    std::ignore = files.Delete(path + std::string(kNormaliserTempSuffix));
}
