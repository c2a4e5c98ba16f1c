#pragma once

#include <string>
#include <string_view>

#include "settings/CourseSettings.h"
#include "writers/BundleFiles.h"
#include "writers/ScormManifest.h"

// The SCORM 2004 4th Edition manifest of a single-SCO course bundle. Its
// layout, line by line, is in Scorm2004Manifest.md beside this file.

// What an old manifest (SCORM 1.2 or 2004, ours or another tool's) hands on
// to a new one: values, never lines, so that no element of one format lands
// in the other. Each is XML text as it stood in the old file (character
// references kept), or empty when the old manifest has none.
struct CarriedOverValues {
    std::string title;        // the first <title> holding plain text: the organization's
    std::string titleText;    // the first <langstring> or <string> of a metadata <title>
    std::string description;  // the text of the first CDATA section (split sections joined)
};
CarriedOverValues FindCarriedOverValues(std::string_view oldManifestText);

// Everything the manifest is built from. Texts are XML element text.
struct Scorm2004ManifestValues {
    std::string productCode;
    std::string courseID;
    std::string title;        // organization and item title; never empty
    std::string titleText;    // metadata title; none when empty
    std::string description;  // metadata description, CDATA content; none when empty
    std::string languageCode;
    std::string dateStamp;
    int passMark = -1;  // posttest passing score in percent; -1: none given
    // The LMS decides success from the score against the pass mark.
    bool satisfiedByMeasure = false;
    // Identifiers kept from the old manifest (XML text); empty: the course key
    // and the date stamp make them.
    std::string itemIdentifier;
    std::string resourceIdentifier;
};

// The pass mark as a normalized measure: 80 gives "0.8", 5 "0.05", 100 "1",
// 0 "0"; a mark above 100 counts as 100.
std::string NormalizedPassMark(int passMark);

// The ISO language code of a course language name ("pt" for Portuguese).
std::string_view LanguageCodeOf(std::string_view language);

// The whole manifest text (UTF-8, LF line ends).
std::string Scorm2004ManifestText(const Scorm2004ManifestValues& values);

// Regenerates the manifest at `path`, carrying over the old manifest's
// values. The pass mark decides success in the LMS only in the conformant
// exit-status mode: in the others the course reports what the mode chose.
void WriteScorm2004Manifest(BundleFiles& files, const std::string& path, const ManifestInputs& inputs,
                            ExitStatusMode exitStatusMode);
