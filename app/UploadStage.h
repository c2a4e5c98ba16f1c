#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "settings/CourseSettings.h"
#include "writers/BundleFiles.h"
#include "writers/RunReport.h"
#include "writers/SchemaCheck.h"
#include "writers/UploadCheck.h"
#include "writers/UploadPackage.h"

// What a run does for the LMS after its job: the upload packages of the
// bundles it patched (zipPackages) and the check of the files they hold
// (validatePackages). The run tells it where the job starts, which bundles
// are done and which package files were generated; it notes what it finds in
// the run report.
class UploadStage {
public:
    // `settings` and `files` are the run's, read when the stage is called.
    UploadStage(const CourseSettings& settings, RunReport& report, BundleFiles& files);
    ~UploadStage();
    UploadStage(const UploadStage&) = delete;
    UploadStage& operator=(const UploadStage&) = delete;

    // The job's start: packages are named by their path below `base`, a link
    // in a bundle may lead into `roots`, and the installation is `installFolder`.
    void Begin(const std::string& installFolder, std::string base, std::vector<std::string> roots);
    void BundleDone(const std::string& courseFolder, const std::string& courseID);
    // A manifest or activity file of the bundle in hand, staged at `path`
    // (the file it replaces is still on disk).
    void PackageFileGenerated(const std::string& path, PackageFile file);
    // Zips the bundles done, from the files on disk (the job's files are in
    // place by now), and checks what each package holds: an "Upload check"
    // part of the run report, one line per finding.
    void Finish();

private:
    const CourseSettings& m_settings;
    RunReport& m_report;
    BundleFiles& m_files;

    std::string m_installFolder;
    // The bundles to zip, the folder their names are taken below, and the
    // folders a link in a bundle may lead into.
    std::vector<CourseToUpload> m_uploads;
    std::string m_base;
    std::vector<std::string> m_roots;
    // What the check found of the bundle in hand so far, and of each bundle
    // done (by its course folder): schema findings, and the identifiers of
    // the package files the run replaced.
    struct BundleFindings {
        std::vector<UploadFinding> schema;
        PackageIdentifiers replaced;
        bool replacedAny = false;
    };
    BundleFindings m_inHand;
    std::map<std::string, BundleFindings> m_done;
    // The schemas, parsed once for the run.
    std::unique_ptr<SchemaCheck> m_schemaCheck;
    bool m_schemasMissingNoted = false;
};
