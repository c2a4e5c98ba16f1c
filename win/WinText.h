#pragma once

#include <string>
#include <string_view>

// Text at the boundary to the Windows user interface calls: the core speaks
// UTF-8, the calls UTF-16. Ill-formed UTF-8 becomes U+FFFD, as the system's
// converter makes it.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
