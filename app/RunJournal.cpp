#include "app/RunJournal.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace runjournal {
namespace {

constexpr std::string_view kHeader = "quarvel-undo 1";

// Paths may hold any byte but NUL: the separators are escaped.
std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::string Line(std::initializer_list<std::string> fields) {
    std::string line;
    for (const std::string& field : fields) {
        if (!line.empty()) line += '\t';
        line += field;
    }
    return line + "\n";
}

std::string FactsFields(const platform::EntryFacts& facts) {
    return std::to_string(facts.mode) + "\t" + std::to_string(facts.owner) + "\t" + std::to_string(facts.group) + "\t" +
           std::to_string(facts.size) + "\t" + std::to_string(facts.accessed) + "\t" + std::to_string(facts.modified);
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    while (true) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

template <typename Number>
bool ToNumber(std::string_view text, Number& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool ToFacts(const std::vector<std::string_view>& fields, std::size_t at, platform::EntryFacts& facts) {
    if (fields.size() != at + 6) return false;
    facts.exists = facts.regular = true;
    return ToNumber(fields[at], facts.mode) && ToNumber(fields[at + 1], facts.owner) &&
           ToNumber(fields[at + 2], facts.group) && ToNumber(fields[at + 3], facts.size) &&
           ToNumber(fields[at + 4], facts.accessed) && ToNumber(fields[at + 5], facts.modified);
}

}  // namespace

std::string HeaderLines(std::string_view date, std::string_view job, std::string_view folder,
                        const std::vector<std::string>& roots) {
    std::string lines = std::string(kHeader) + "\n" + Line({"run", Escape(date), Escape(job), Escape(folder)});
    for (const std::string& root : roots) lines += Line({"root", Escape(root)});
    return lines;
}

std::string CreatedLine(std::string_view path) {
    return Line({"create", Escape(path)});
}

std::string KeptLine(std::string_view path, std::string_view kept, const platform::EntryFacts& facts) {
    return Line({"keep", Escape(path), Escape(kept), FactsFields(facts)});
}

std::string FactsLine(std::string_view path, const platform::EntryFacts& facts) {
    return Line({"facts", Escape(path), FactsFields(facts)});
}

std::string AfterLine(std::string_view path, const platform::EntryFacts& facts) {
    if (!facts.exists) return Line({"gone", Escape(path)});
    return Line({"after", Escape(path), std::to_string(facts.size), std::to_string(facts.modified)});
}

std::string FolderLine(std::string_view path) {
    return Line({"folder", Escape(path)});
}

std::string AppendLine(const Append& append) {
    std::string sums;
    for (const std::uint64_t sum : append.checksums) sums += (sums.empty() ? "" : ",") + std::to_string(sum);
    return Line(
        {"append", Escape(append.path), std::to_string(append.oldLength), std::to_string(append.newLength), sums});
}

std::string UndoneLine(std::string_view date) {
    return Line({"undone", Escape(date)});
}

std::string VoidLine(std::string_view path) {
    return Line({"void", Escape(path)});
}

std::string ClosedLine() {
    return "closed\n";
}

Run Parse(std::string_view text) {
    Run run;
    std::map<std::string, std::size_t> byPath;
    // The first line for a path says what it was before the run; later ones what the run left.
    const auto first = [&](std::string path, File::Was was) -> File* {
        if (byPath.contains(path)) return nullptr;
        byPath[path] = run.files.size();
        run.files.push_back({std::move(path), was, {}, {}, {}});
        return &run.files.back();
    };
    bool headerSeen = false;
    while (true) {
        const std::size_t lf = text.find('\n');
        if (lf == std::string_view::npos) break;  // a torn last line
        const std::string_view line = text.substr(0, lf);
        text.remove_prefix(lf + 1);
        if (!headerSeen) {
            if (line != kHeader) break;
            headerSeen = true;
            continue;
        }
        const std::vector<std::string_view> fields = Fields(line);
        const std::string_view kind = fields[0];
        if (kind == "closed") run.closed = true;
        if (fields.size() < 2) continue;
        std::string path = Unescape(fields[1]);
        if (kind == "run" && fields.size() == 4) {
            run.date = std::move(path);
            run.job = Unescape(fields[2]);
            run.folder = Unescape(fields[3]);
        } else if (kind == "root") {
            run.roots.push_back(std::move(path));
        } else if (kind == "create") {
            first(std::move(path), File::Was::missing);
        } else if (kind == "keep" || kind == "facts") {
            platform::EntryFacts facts;
            const bool kept = kind == "keep";
            if (!ToFacts(fields, kept ? 3 : 2, facts)) continue;
            if (File* file = first(path, kept ? File::Was::kept : File::Was::same)) {
                file->before = facts;
                if (kept) file->kept = Unescape(fields[2]);
            } else if (File& known = run.files[byPath[path]]; kept && known.was == File::Was::same) {
                // Its bits changed first, then its content: the kept file has the old content.
                known.was = File::Was::kept;
                known.kept = Unescape(fields[2]);
            }
        } else if (kind == "after" || kind == "gone") {
            const auto found = byPath.find(path);
            if (found == byPath.end()) continue;
            File::After after;
            if (kind == "after" &&
                (fields.size() != 4 || !ToNumber(fields[2], after.size) || !ToNumber(fields[3], after.modified))) {
                continue;
            }
            after.exists = kind == "after";
            run.files[found->second].after = after;
        } else if (kind == "folder") {
            if (std::find(run.folders.begin(), run.folders.end(), path) == run.folders.end()) {
                run.folders.push_back(std::move(path));
            }
        } else if (kind == "append" && fields.size() == 5) {
            Append append{std::move(path), 0, 0, {}};
            if (!ToNumber(fields[2], append.oldLength) || !ToNumber(fields[3], append.newLength)) continue;
            std::string_view sums = fields[4];
            bool good = true;
            while (!sums.empty() && good) {
                const std::size_t comma = sums.find(',');
                std::uint64_t sum = 0;
                good = ToNumber(sums.substr(0, comma), sum);
                append.checksums.push_back(sum);
                sums.remove_prefix(comma == std::string_view::npos ? sums.size() : comma + 1);
            }
            if (good) run.appends.push_back(std::move(append));
        } else if (kind == "void") {
            // Its next line, if any, starts it afresh.
            if (const auto found = byPath.find(path); found != byPath.end()) {
                run.files[found->second].path.clear();
                byPath.erase(found);
            }
        } else if (kind == "undone") {
            run.undone.push_back(std::move(path));
        }
    }
    std::erase_if(run.files, [](const File& file) { return file.path.empty(); });
    return run;
}

}  // namespace runjournal
