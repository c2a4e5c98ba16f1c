#include "app/UploadStage.h"

#include <algorithm>
#include <cstdint>

#include "writers/Escape.h"

UploadStage::UploadStage(const CourseSettings& settings, RunReport& report, BundleFiles& files)
    : m_settings(settings), m_report(report), m_files(files) {}

UploadStage::~UploadStage() = default;

void UploadStage::Begin(const std::string& installFolder, std::string base, std::vector<std::string> roots) {
    m_installFolder = installFolder;
    m_base = std::move(base);
    m_roots = std::move(roots);
}

void UploadStage::BundleDone(const std::string& courseFolder, const std::string& courseID) {
    BundleFindings& done = m_done[courseFolder];
    done.schema.insert(done.schema.end(), m_inHand.schema.begin(), m_inHand.schema.end());
    if (m_inHand.replacedAny && !done.replacedAny) {
        done.replaced = std::move(m_inHand.replaced);
        done.replacedAny = true;
    }
    m_inHand = {};
    // Two videos of one title build one package folder: it is zipped once.
    if ((m_settings.zipPackages || m_settings.validatePackages) &&
        std::none_of(m_uploads.begin(), m_uploads.end(),
                     [&](const CourseToUpload& upload) { return upload.courseFolder == courseFolder; })) {
        m_uploads.push_back({courseFolder, UploadPackageName(courseFolder, m_base), courseID});
    }
}

void UploadStage::PackageFileGenerated(const std::string& path, PackageFile file) {
    if (!m_settings.validatePackages) return;
    std::error_code ec;
    const std::optional<std::string> bytes = m_files.Read(path, ec);
    if (!bytes) return;  // not written: that is noted already
    // The file it replaces, for the identifiers an LMS knows the course by.
    if (const platform::ReadableFile old = m_files.Open(path, ec)) {
        constexpr std::uint64_t kLimit = 64u << 20;  // far more than any manifest
        const std::optional<std::string> oldBytes = old.Size() <= kLimit ? old.ReadAll(ec) : std::nullopt;
        const std::optional<PackageFileFacts> facts = oldBytes ? ReadPackageFile(*oldBytes) : std::nullopt;
        if (facts && *oldBytes != *bytes) {
            m_inHand.replaced = facts->identifiers;
            m_inHand.replacedAny = true;
        }
    }
    const std::string schemas = m_installFolder + "/schemas";
    if (!m_schemaCheck) m_schemaCheck = std::make_unique<SchemaCheck>(schemas);
    const SchemaVerdict verdict = m_schemaCheck->Check(file, *bytes);
    if (verdict.outcome == SchemaVerdict::Outcome::SchemasMissing) {
        if (m_schemasMissingNoted) return;
        m_schemasMissingNoted = true;
        m_report.AddProblem("The schemas '" +
                            EscapeLogPath(schemas + "/" + std::string(SchemaCheck::SchemaFileOf(file))) +
                            "' are missing or unreadable; the generated files were not checked against them.\n");
    } else if (verdict.outcome == SchemaVerdict::Outcome::Invalid) {
        // Counted now, with the bundle; named with the package's other findings.
        ++m_report.problemNotes;
        m_inHand.schema.push_back({UploadFinding::Severity::problem, "schema",
                                   "'" + EscapeLogPath(path) + "' does not pass the schema check, line " +
                                       std::to_string(verdict.line) + ": " + EscapeLogName(verdict.message)});
    }
}

void UploadStage::Finish() {
    if (!m_settings.zipPackages && !m_settings.validatePackages) return;
    UploadOptions options{m_installFolder + "/upload packages", m_roots, m_settings.deleteBmp};
    options.zip = m_settings.zipPackages;
    options.run = &m_files;
    std::vector<GatheredPackage> packages = WriteUploadPackages(m_uploads, options, m_report);
    m_uploads.clear();
    if (!m_settings.validatePackages) return;

    std::string lines;
    for (GatheredPackage& gathered : packages) {
        BundleFindings& done = m_done[gathered.courseFolder];
        gathered.package.sizeLimitMB = m_settings.uploadSizeLimitMB;
        std::vector<UploadFinding> findings = done.schema;
        const std::size_t counted = findings.size();
        const std::vector<UploadFinding> found = CheckPackage(gathered.package);
        findings.insert(findings.end(), found.begin(), found.end());

        PackageIdentifiers now;
        for (const auto& text : {gathered.package.manifest, gathered.package.activities}) {
            if (!text) continue;
            if (const std::optional<PackageFileFacts> facts = ReadPackageFile(*text)) {
                const PackageIdentifiers& ids = facts->identifiers;
                now.manifest.insert(now.manifest.end(), ids.manifest.begin(), ids.manifest.end());
                now.organizations.insert(now.organizations.end(), ids.organizations.begin(), ids.organizations.end());
                now.items.insert(now.items.end(), ids.items.begin(), ids.items.end());
                now.resources.insert(now.resources.end(), ids.resources.begin(), ids.resources.end());
                now.activities.insert(now.activities.end(), ids.activities.begin(), ids.activities.end());
            }
        }
        std::vector<EarlierIdentifiers> earlier;
        if (done.replacedAny) earlier.push_back({done.replaced, "the file it replaces"});
        if (gathered.earlier) earlier.push_back({*gathered.earlier, "the upload package it replaces"});
        const std::vector<UploadFinding> changes = CompareIdentifiers(earlier, now);
        findings.insert(findings.end(), changes.begin(), changes.end());

        for (std::size_t i = 0; i < findings.size(); ++i) {
            lines += UploadFindingLine(gathered.packageName, findings[i]);
            // Problems make the run end with its problem status; warnings do not.
            if (i >= counted && findings[i].severity == UploadFinding::Severity::problem) ++m_report.problemNotes;
        }
        done.schema.clear();
    }
    // A bundle whose package could not be gathered keeps its schema findings.
    for (const auto& [courseFolder, done] : m_done) {
        for (const UploadFinding& finding : done.schema) lines += UploadFindingLine(courseFolder, finding);
    }
    m_done.clear();
    if (!lines.empty()) m_report.updatedList += "Upload check:\n" + lines;
}
