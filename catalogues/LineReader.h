#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/FolderTree.h"

// Reads text line by line from something read in pieces (a file), holding one
// buffer at a time: a file of any size costs its longest line, not its length.
class LineReader {
public:
    // Reads up to `length` bytes at `offset` into `buffer`; `got` is 0 at the end.
    using ReadAt =
        std::function<std::error_code(std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got)>;
    static constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

    // Lines from `from` on; `bufferBytes` is how much is read at a time.
    explicit LineReader(ReadAt read, std::uint64_t from = 0, std::size_t bufferBytes = kBufferBytes);

    // The next line without its LF (the last one may have none; an LF at the
    // very end starts no line), valid until the next call. False at the end,
    // or when a read failed (Error()).
    bool Next(std::string_view& line);
    // Where the line Next gave last starts.
    std::uint64_t LineOffset() const { return m_lineOffset; }
    const std::error_code& Error() const { return m_error; }

private:
    bool ReadMore();

    ReadAt m_read;
    std::size_t m_bufferBytes;
    std::string m_buffer;
    std::uint64_t m_bufferOffset;  // where m_buffer[0] lies
    std::size_t m_start = 0;       // the next line starts here
    std::size_t m_searched = 0;    // no LF between m_start and here
    std::size_t m_end = 0;         // what was read ends here
    bool m_atEnd = false;
    std::uint64_t m_lineOffset = 0;
    std::error_code m_error;
};

// Reads through `read` from `from` to the end, a buffer at a time, and hands
// each piece to `take` until it returns false; the reason when a read fails.
std::error_code ReadInPieces(const LineReader::ReadAt& read, const std::function<bool(std::string_view)>& take,
                             std::uint64_t from = 0, std::size_t bufferBytes = LineReader::kBufferBytes);

// Reads the regular file `file` (kept open by the caller).
LineReader::ReadAt ReadFrom(const platform::ReadableFile& file);
// Reads `bytes` (kept by the caller).
LineReader::ReadAt ReadFrom(std::string_view bytes);

// The regular file at `path` open for reading; nothing with the reason.
platform::ReadableFile OpenForReading(const std::string& path, std::error_code& ec);
