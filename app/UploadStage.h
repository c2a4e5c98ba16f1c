#pragma once

#include <memory>
#include <string>
#include <vector>

#include "settings/CourseSettings.h"
#include "writers/BundleFiles.h"
#include "writers/RunReport.h"
#include "writers/SchemaCheck.h"
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
    // A manifest or activity file of the bundle in hand, staged at `path`.
    void PackageFileGenerated(const std::string& path, PackageFile file);
    // Zips the bundles done, from the files on disk: the job's files are in place by now.
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
    // The schemas, parsed once for the run.
    std::unique_ptr<SchemaCheck> m_schemaCheck;
    bool m_schemasMissingNoted = false;
};
