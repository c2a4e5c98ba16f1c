#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

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

std::string WithoutOneTrailingSeparator(std::string folder) {
    if (!folder.empty() && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace

// A store file of any bytes: looking up the install folder normalises it once
// and then writes nothing, and never loses another line or value.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/quarvel-fuzz-store-" + std::to_string(::getpid()) + ".conf";
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

    const InstallFolderLookup second = store.LookUpInstallFolder();
    FUZZ_CHECK(second.folder == WithoutOneTrailingSeparator(first.folder));
    FUZZ_CHECK(ReadBack(path) == once);
    return 0;
}
