#include "platform/Text.h"

namespace platform {

std::string AnsiToUtf8(std::string_view bytes) {
    return Cp1252ToUtf8(bytes);
}

}  // namespace platform
