#include "app/UploadStage.h"

#include <algorithm>

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
    // Two videos of one title build one package folder: it is zipped once.
    if (m_settings.zipPackages && std::none_of(m_uploads.begin(), m_uploads.end(), [&](const CourseToUpload& upload) {
            return upload.courseFolder == courseFolder;
        })) {
        m_uploads.push_back({courseFolder, UploadPackageName(courseFolder, m_base), courseID});
    }
}

void UploadStage::PackageFileGenerated(const std::string& path, PackageFile file) {
    if (!m_settings.validatePackages) return;
    std::error_code ec;
    const std::optional<std::string> bytes = m_files.Read(path, ec);
    if (!bytes) return;  // not written: that is noted already
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
        m_report.AddProblem("'" + EscapeLogPath(path) + "' does not pass the schema check, line " +
                            std::to_string(verdict.line) + ": " + EscapeLogName(verdict.message) + ".\n");
    }
}

void UploadStage::Finish() {
    if (!m_settings.zipPackages) return;
    WriteUploadPackages(m_uploads, {m_installFolder + "/upload packages", m_roots, m_settings.deleteBmp}, m_report);
    m_uploads.clear();
}
