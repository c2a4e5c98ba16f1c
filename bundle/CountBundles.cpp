#include "bundle/CountBundles.h"

#include <algorithm>
#include <cstddef>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace {

using Entries = std::vector<platform::DirEntry>;

bool HoldsFile(const Entries& entries, std::string_view name) {
    return std::any_of(entries.begin(), entries.end(), [name](const platform::DirEntry& entry) {
        return !entry.isDirectory && platform::EqualsIgnoringAsciiCase(entry.name, name);
    });
}

bool HoldsSettingsFile(const std::string& folder, const Entries& entries) {
    for (const platform::DirEntry& entry : entries) {
        if (!entry.isDirectory || !platform::EqualsIgnoringAsciiCase(entry.name, "xml")) continue;
        if (HoldsFile(platform::FindEntries(platform::JoinPath(folder, entry.name), "*.*"), "interface.xml")) {
            return true;
        }
    }
    return false;
}

// A folder being gone through, its listing taken once.
struct Listed {
    std::string path;
    Entries entries;
    std::size_t next = 0;
};

// Goes depth first through the folders below `folder`, each entered once
// however links lead to it, and hands each with its listing to `visit`;
// a folder `visit` answers false for is not gone into. Only the folders on
// the way down are held, so a library of any width takes little memory.
template <class Visit>
void VisitFolders(const std::string& folder, Visit visit) {
    std::set<platform::FolderIdentity> entered;
    if (const auto identity = platform::IdentifyFolder(folder)) entered.insert(*identity);
    std::vector<Listed> stack;
    stack.push_back({folder, platform::FindEntries(folder, "*.*")});
    while (!stack.empty()) {
        Listed& top = stack.back();
        if (top.next == top.entries.size()) {
            stack.pop_back();
            continue;
        }
        const platform::DirEntry& entry = top.entries[top.next++];
        if (!entry.isDirectory) continue;
        std::string subfolder = platform::JoinPath(top.path, entry.name);  // `top` may move below
        const auto identity = platform::IdentifyFolder(subfolder);
        if (!identity || !entered.insert(*identity).second) continue;
        Entries entries = platform::FindEntries(subfolder, "*.*");
        if (visit(subfolder, entries)) stack.push_back({std::move(subfolder), std::move(entries)});
    }
}

}  // namespace

int CountCourseBundles(const std::string& folder) {
    int count = 0;
    VisitFolders(folder, [&count](const std::string& subfolder, const Entries& entries) {
        // Courses packaged for another player are left alone, and so is all below them.
        if (HoldsFile(entries, "fsscorm.js")) return false;
        const std::string name = platform::LastComponent(subfolder);
        if (platform::EqualsIgnoringAsciiCase(std::string_view(name).substr(0, 3), "xml") &&
            HoldsFile(entries, "interface.xml")) {
            ++count;
        }
        // A VOD package folder without its settings file gets one from the walk.
        if (platform::Contains(name, "_vid_") && !HoldsSettingsFile(subfolder, entries)) ++count;
        return true;
    });
    return count;
}

int CountVodVideos(const std::string& folder) {
    int count = 0;
    const auto countVideos = [&count](const Entries& entries) {
        count += static_cast<int>(std::count_if(entries.begin(), entries.end(), [](const platform::DirEntry& entry) {
            return !entry.isDirectory && platform::MatchesWildcard(entry.name, "*_vid_*.mp4");
        }));
    };
    countVideos(platform::FindEntries(folder, "*.*"));
    VisitFolders(folder, [&countVideos](const std::string&, const Entries& entries) {
        countVideos(entries);
        return true;
    });
    return count;
}

namespace {

std::string TimeLeftText(long long seconds) {
    // Seconds in fives, so that the figure does not flicker bundle by bundle.
    if (const long long fives = (seconds + 4) / 5 * 5; fives < 60) {
        return "about " + std::to_string(std::max(5LL, fives)) + " s left";
    }
    const long long minutes = (seconds + 30) / 60;
    if (minutes < 60) return "about " + std::to_string(minutes) + " min left";
    const long long rest = minutes % 60;
    return "about " + std::to_string(minutes / 60) + " h " + (rest < 10 ? "0" : "") + std::to_string(rest) +
           " min left";
}

}  // namespace

ProgressView DescribeProgress(int done, int expected, std::chrono::milliseconds elapsed) {
    ProgressView view;
    view.done = done;
    if (expected == kTotalUnknown) {
        view.count = "Done so far: " + std::to_string(done);
        return view;
    }
    // The count is an estimate: a job that does more than it said shows itself ending.
    view.total = std::max(expected, done);
    view.count = std::to_string(done) + " of " + std::to_string(view.total);
    // Less than a second of work says too little of the rest.
    if (done > 0 && done < view.total && elapsed >= std::chrono::seconds(1)) {
        const long long left = elapsed.count() * (view.total - done) / done;
        view.timeLeft = TimeLeftText((left + 999) / 1000);
    }
    return view;
}
