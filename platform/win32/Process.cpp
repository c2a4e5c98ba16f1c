#include "platform/Process.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "platform/win32/Win32.h"
// clang-format off
#include <shellapi.h>  // after windows.h, which it needs
// clang-format on

namespace platform {

void PrepareCommandLineProcess() {
    // The program's bytes as they are: no LF turned into CR LF on the way out.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    // No system error box waits for a person when a drive is missing.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

void RaiseOpenFileLimit() {}  // handles have no such limit to raise

std::uint64_t CommitBytesFromEnvironment(std::uint64_t fallback) {
    const wchar_t* text = _wgetenv(L"QUARVEL_COMMIT_BYTES");
    if (text == nullptr || *text == L'\0') return fallback;
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(text, &end, 10);
    return *end == L'\0' && value > 0 ? static_cast<std::uint64_t>(value) : fallback;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    // The narrow arguments are in the ANSI code page, which cannot spell
    // every file name: ask for the wide ones.
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(win32::Narrow(wide[i]));
    ::LocalFree(wide);
    return args;
}

bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace platform
