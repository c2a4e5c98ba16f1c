// The physical floor of a run: the same file I/O with nothing else. For every
// bundle it reads the settings and question files, writes files of the sizes
// the run writes, and copies the assets the run copies with the kernel's
// fastest copy (copy_file_range). Usage:
//   quarvel-bench-floor bundles INSTALL COURSES
//   quarvel-bench-floor vod INSTALL VIDEOS PACKAGES
//   quarvel-bench-floor copy SOURCE DEST   (read SOURCE, write as many bytes to DEST)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

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
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    if (::write(fd, bytes.data(), bytes.size()) < 0) std::perror("write");
    ::close(fd);
}

void Copy(const fs::path& from, const fs::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
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

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "copy") {
        const std::string bytes = ReadAll(argv[2]);
        WriteSize(argv[3], bytes.size());
        return 0;
    }
    if (argc == 5 && std::string(argv[1]) == "vod") {
        const fs::path install = argv[2];
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
        for (const auto& entry : fs::recursive_directory_iterator(argv[3])) {
            if (entry.path().extension() != ".mp4") continue;
            const std::string title = entry.path().stem().string();
            const fs::path package = fs::path(argv[4]) / title;
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
        return 0;
    }
    if (argc != 4 || std::string(argv[1]) != "bundles") {
        std::fprintf(stderr, "usage: quarvel-bench-floor bundles INSTALL COURSES\n");
        return 2;
    }
    const fs::path web = fs::path(argv[2]) / "web";
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
    for (const auto& course : fs::directory_iterator(argv[3])) {
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
    }
    return 0;
}
