#include "platform/Text.h"
#include "platform/win32/Win32.h"

namespace platform {

std::string AnsiToUtf8(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int size = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
    return win32::Narrow(wide);
}

}  // namespace platform
