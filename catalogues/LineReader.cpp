#include "catalogues/LineReader.h"

#include <algorithm>
#include <cstring>
#include <utility>

LineReader::LineReader(ReadAt read, std::uint64_t from, std::size_t bufferBytes)
    : m_read(std::move(read)), m_bufferBytes(std::max<std::size_t>(bufferBytes, 1)), m_bufferOffset(from) {}

bool LineReader::Next(std::string_view& line) {
    while (true) {
        const char* begin = m_buffer.data() + m_searched;
        if (const void* lf = std::memchr(begin, '\n', m_end - m_searched)) {
            const auto at = static_cast<std::size_t>(static_cast<const char*>(lf) - m_buffer.data());
            line = std::string_view(m_buffer).substr(m_start, at - m_start);
            m_lineOffset = m_bufferOffset + m_start;
            m_start = m_searched = at + 1;
            return true;
        }
        m_searched = m_end;
        if (m_atEnd) {
            if (m_start == m_end) return false;
            line = std::string_view(m_buffer).substr(m_start, m_end - m_start);
            m_lineOffset = m_bufferOffset + m_start;
            m_start = m_searched = m_end;
            return true;
        }
        if (!ReadMore()) return false;
    }
}

bool LineReader::ReadMore() {
    // What is left of the buffer moves to its front. A line that fills more
    // than half of it makes it grow; once the long lines are past, it shrinks back.
    const std::size_t kept = m_end - m_start;
    std::size_t size = m_buffer.empty() ? m_bufferBytes : m_buffer.size();
    if (kept > size / 2) {
        size *= 2;
    } else if (size > m_bufferBytes && kept <= m_bufferBytes / 2) {
        size = m_bufferBytes;
    }
    if (size != m_buffer.size()) {
        std::string grown(size, '\0');
        std::memcpy(grown.data(), m_buffer.data() + m_start, kept);
        m_buffer = std::move(grown);
    } else if (m_start > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_start, kept);
    }
    m_bufferOffset += m_start;
    m_searched -= m_start;
    m_start = 0;
    m_end = kept;

    std::size_t got = 0;
    if ((m_error = m_read(m_bufferOffset + m_end, m_buffer.data() + m_end, m_buffer.size() - m_end, got))) {
        return false;
    }
    if (got == 0) m_atEnd = true;
    m_end += got;
    return true;
}

std::error_code ReadInPieces(const LineReader::ReadAt& read, const std::function<bool(std::string_view)>& take,
                             std::uint64_t from, std::size_t bufferBytes) {
    std::string buffer(std::max<std::size_t>(bufferBytes, 1), '\0');
    while (true) {
        std::size_t got = 0;
        if (const std::error_code ec = read(from, buffer.data(), buffer.size(), got)) return ec;
        if (got == 0 || !take(std::string_view(buffer).substr(0, got))) return {};
        from += got;
    }
}

LineReader::ReadAt ReadFrom(const platform::ReadableFile& file) {
    return [&file](std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
        return file.ReadAt(offset, buffer, length, got);
    };
}

LineReader::ReadAt ReadFrom(std::string_view bytes) {
    return [bytes](std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
        got = 0;
        if (offset < bytes.size()) {
            got = std::min<std::size_t>(length, bytes.size() - static_cast<std::size_t>(offset));
            std::memcpy(buffer, bytes.data() + offset, got);
        }
        return std::error_code();
    };
}

platform::ReadableFile OpenForReading(const std::string& path, std::error_code& ec) {
    platform::FolderTree tree;
    const platform::Resolution resolved = tree.Resolve(path, platform::LastLink::follow);
    if (!resolved.place) {
        ec = resolved.error;
        return {};
    }
    if (resolved.place->kind == platform::EntryKind::missing) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return {};
    }
    return platform::ReadableFile::Open(*resolved.place, ec);
}
