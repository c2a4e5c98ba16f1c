#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <tuple>

#include "FuzzTarget.h"
#include "app/InstallStore.h"
#include "platform/FileSystem.h"

namespace {

std::string ReadBack(const std::string& path) {
    return platform::ReadFileBytes(path).value_or("<unreadable>");
}

std::ptrdiff_t LineEnds(const std::string& bytes) {
    return std::count(bytes.begin(), bytes.end(), '\n');
}

}  // namespace

// A store file of any bytes: looking up the install folder shortens the value
// until it no longer ends in "/" and then writes nothing, and never loses
// another line or value.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One file per process, removed when the process ends.
    static const struct ScratchStore {
        std::string path = "/tmp/quarvel-fuzz-store-" + std::to_string(::getpid()) + ".conf";
        ~ScratchStore() { std::ignore = platform::RemoveFile(path); }
    } scratch;
    const std::string& path = scratch.path;
    const std::string input(AsText(data, size));
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(input.data(), static_cast<std::streamsize>(input.size()));
    }
    const InstallStore store(path);
    const auto hostBefore = store.Read("xAPI Host");

    const InstallFolderLookup first = store.LookUpInstallFolder();
    FUZZ_CHECK(!first.Unreadable());
    const std::string once = ReadBack(path);
    // The value line is rewritten in place or one line is added (with a line end before it).
    FUZZ_CHECK(LineEnds(once) >= LineEnds(input) && LineEnds(once) <= LineEnds(input) + 2);
    FUZZ_CHECK(once.size() + 2 >= input.size());
    FUZZ_CHECK(store.Read("xAPI Host") == hostBefore);

    // Each later lookup takes off what the last one stored shortened, until
    // the value no longer ends in "/"; then nothing changes any more.
    InstallFolderLookup last = first;
    while (!last.folder.empty() && last.folder.back() == '/') {
        const InstallFolderLookup next = store.LookUpInstallFolder();
        if (next.folder == last.folder) break;  // a value that cannot be stored shortened
        FUZZ_CHECK(next.folder.size() + 2 >= last.folder.size() && last.folder.starts_with(next.folder));
        last = next;
    }
    const std::string settled = ReadBack(path);
    FUZZ_CHECK(store.LookUpInstallFolder().folder == last.folder);
    FUZZ_CHECK(ReadBack(path) == settled);
    FUZZ_CHECK(store.Read("xAPI Host") == hostBefore);
    return 0;
}
