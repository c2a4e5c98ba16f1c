// The physical floor of a run: the same file I/O with nothing else. For every
// bundle it reads the settings and question files, writes files of the sizes
// the run writes, and copies the assets the run copies with the kernel's
// fastest copy (copy_file_range). Usage:
//   quarvel-bench-floor [--durable] bundles INSTALL COURSES
//   quarvel-bench-floor [--durable] vod INSTALL VIDEOS PACKAGES
//   quarvel-bench-floor [--durable] copy SOURCE DEST   (read SOURCE, write as many bytes to DEST)
// --durable: the durable floor. Every file is written as a new file (a new
// inode, as a replace by rename gives) and one syncfs per file system written
// ends the process, so everything written is on the disk when it exits: the
// cheapest way the kernel offers to make the same bytes durable.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool durable = false;

// Opens a file to be written. Durable: removes the old file first, so that the
// bytes go to a new inode and no replace-on-close heuristic of the file system
// flushes them early.
int OpenForWrite(const fs::path& path) {
    if (!durable) return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) std::perror("unlink");
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
}

// One syncfs for each file system holding one of the folders.
int SyncFileSystems(const std::vector<fs::path>& folders) {
    std::set<dev_t> synced;
    for (const fs::path& folder : folders) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            std::fprintf(stderr, "%s: %s\n", folder.c_str(), std::strerror(errno));
            if (fd >= 0) ::close(fd);
            return 1;
        }
        const bool fresh = synced.insert(st.st_dev).second;
        const int status = fresh ? ::syncfs(fd) : 0;
        ::close(fd);
        if (status != 0) {
            std::perror("syncfs");
            return 1;
        }
    }
    return 0;
}

std::string ReadAll(const fs::path& path) {
    std::string bytes;
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return bytes;
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return bytes;
}

void WriteSize(const fs::path& path, std::size_t size) {
    const std::string bytes(size, 'x');
    const int fd = OpenForWrite(path);
    if (fd < 0) return;
    if (::write(fd, bytes.data(), bytes.size()) < 0) std::perror("write");
    ::close(fd);
}

void Copy(const fs::path& from, const fs::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = OpenForWrite(to);
    if (in >= 0 && out >= 0) {
        while (::copy_file_range(in, nullptr, out, nullptr, std::size_t{1} << 30, 0) > 0) {
        }
    }
    if (in >= 0) ::close(in);
    if (out >= 0) ::close(out);
}

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

void Vod(const fs::path& install, const fs::path& videos, const fs::path& packages) {
    const fs::path web = install / "web";
    const std::pair<fs::path, const char*> files[] = {
        {web / "html" / "NimbrelWebPlayer.html", "html"},
        {web / "scripts" / "NimbrelWebPlayer.js", "scripts"},
        {web / "scripts" / "communication.js", "scripts"},
        {web / "scripts" / "jquery-3.3.1.min.js", "scripts"},
        {web / "scripts" / "jquery-ui.min.js", "scripts"},
        {web / "scripts" / "vod.js", "scripts"},
        {install / "buttons png" / "arrows" / "gray" / "up png" / "up_exit.png", "controls"},
        {install / "buttons png" / "arrows" / "royal" / "dn png" / "dn_exit.png", "controls"},
        {web / "controls" / "jquery-ui.css", "controls"}};
    for (const auto& entry : fs::recursive_directory_iterator(videos)) {
        if (entry.path().extension() != ".mp4") continue;
        const std::string title = entry.path().stem().string();
        const fs::path package = packages / title;
        fs::create_directories(package / "video" / "vtt");
        fs::create_directories(package / "xml");
        WriteSize(package / "imsmanifest.xml", 2400);
        WriteSize(package / (title + ".htm"), 400);
        for (const auto& [source, folder] : files) {
            fs::create_directories(package / folder);
            Copy(source, package / folder / source.filename());
        }
        Copy(entry.path().parent_path() / (title + ".vtt"), package / "video" / "vtt" / (title + ".vtt"));
        WriteSize(package / "xml" / "interface.xml", 90);
    }
}

void Bundles(const fs::path& install, const fs::path& courses) {
    const fs::path web = install / "web";
    // The assets the run copies into every bundle, with their folder in the bundle.
    std::vector<std::pair<fs::path, std::string>> assets;
    for (const auto& entry : fs::recursive_directory_iterator(web)) {
        if (!entry.is_regular_file()) continue;
        const std::string rel = fs::relative(entry.path(), web).string();
        const std::string name = entry.path().filename().string();
        const bool copied = (rel.rfind("controls/images/ui-", 0) == 0 && EndsWith(name, ".png")) ||
                            (rel.find('/', 9) == std::string::npos && rel.rfind("controls/", 0) == 0 &&
                             (EndsWith(name, ".css") || EndsWith(name, ".png") || name == "backgrnd.jpg" ||
                              name == "rev_menu_back.jpg" || name == "certificate.jpg" ||
                              name.rfind("qst_bkgd_cou", 0) == 0 || name.rfind("test_bkgd_cou", 0) == 0)) ||
                            (rel.rfind("scripts/", 0) == 0 && EndsWith(name, ".js")) ||
                            rel == "html/NimbrelWebPlayer.html" || rel == "ims_xml.xsd" ||
                            rel == "xml/message_html.xml";
        if (copied) assets.emplace_back(entry.path(), fs::path(rel).parent_path().string());
    }
    const std::size_t manifestSize = 2400, coursePageSize = ReadAll(web / "html" / "courseID.htm").size();
    const std::size_t scriptSize = ReadAll(web / "scripts" / "communication.js").size() + 120;
    std::size_t logBytes = 2 * 64;  // the section's dated heading
    for (const auto& course : fs::directory_iterator(courses)) {
        const fs::path xml = course.path() / "xml";
        const std::string settings = ReadAll(xml / "interface.xml");
        const std::string questions = ReadAll(xml / "question.xml");
        ReadAll(course.path() / "imsmanifest.xml");
        WriteSize(xml / "interface.xml", settings.size());
        WriteSize(xml / "question.xml", questions.size());
        WriteSize(course.path() / "imsmanifest.xml", manifestSize);
        WriteSize(course.path() / (course.path().filename().string() + ".htm"), coursePageSize);
        for (const auto& [source, folder] : assets) {
            const fs::path target = course.path() / folder;
            fs::create_directories(target);
            Copy(source, target / source.filename());
        }
        WriteSize(course.path() / "scripts" / "communication.js", scriptSize);
        logBytes += 2 * (xml.string().size() + 2);  // one UTF-16 line per bundle
    }
    // The patch-log section, appended in place.
    const int log = ::open((install / "nb_logfile.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const std::string section(logBytes, 'x');
    if (log < 0 || ::write(log, section.data(), section.size()) < 0) std::perror("nb_logfile.txt");
    if (log >= 0) ::close(log);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--durable") {
        durable = true;
        args.erase(args.begin());
    }
    const std::string mode = args.empty() ? "" : args[0];
    // The folders whose file systems the durable floor syncs at the end.
    std::vector<fs::path> written;
    if (mode == "copy" && args.size() == 3) {
        const std::string bytes = ReadAll(args[1]);
        WriteSize(args[2], bytes.size());
        written = {fs::absolute(args[2]).parent_path()};
    } else if (mode == "vod" && args.size() == 4) {
        Vod(args[1], args[2], args[3]);
        written = {args[3]};
    } else if (mode == "bundles" && args.size() == 3) {
        Bundles(args[1], args[2]);
        written = {args[2], args[1]};
    } else {
        std::fprintf(stderr,
                     "usage: quarvel-bench-floor [--durable] bundles INSTALL COURSES | vod INSTALL VIDEOS "
                     "PACKAGES | copy SOURCE DEST\n");
        return 2;
    }
    return durable ? SyncFileSystems(written) : 0;
}
