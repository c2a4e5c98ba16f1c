#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/FileSystem.h"
#include "writers/BundleFiles.h"

// The old manifest as text: UTF-8 decoded (ill-formed bytes become U+FFFD),
// a leading byte-order mark dropped.
std::string DecodeManifestText(std::string_view bytes);

// The first non-empty line of `text` holding `marker` (case-sensitive), whole
// and without its line end (LF, or CR LF); empty when none does.
std::string FirstLineContaining(std::string_view text, std::string_view marker);

// The same for the file at `path`; empty when it cannot be read.
std::string FindFirstLineContaining(const std::string& path, std::string_view marker);

// The three lines an old manifest hands on to the new one. A title or title
// text line that does not hold its whole element (the bare opening tag of the
// metadata title of a manifest first written without an old one) hands on
// nothing, so that the new manifest stays well-formed.
struct CarriedOverLines {
    std::string title;        // first line holding "<title>"
    std::string titleText;    // first line holding "<langstring>"
    std::string description;  // first line holding "<![CDATA"
};
CarriedOverLines FindCarriedOverLines(std::string_view oldManifestText);

// Month, day and four-digit year of the player script's last write; eight
// zeros when there is no such date (the script is missing).
std::string PlayerDateStamp(const std::optional<platform::LocalDate>& date);

// The metadata language line for a course language name.
std::string LanguageLine(std::string_view language);

// The description line built from a description: the text stands in a CDATA
// section with "&lt;" and "&gt;" turned back into markup; a "]]>" in it is
// split over two sections so that the section holds.
std::string DescriptionLineFrom(std::string_view webDescription);

// Everything the manifest is built from. Lines are given without line end.
struct ManifestValues {
    std::string productCode;
    std::string courseID;
    std::string titleLine;
    std::string titleTextLine;
    std::string descriptionLine;
    std::string dateStamp;
    int masteryScore = -1;  // -1: none given, written as 0
    std::string language;
    // Identifiers kept from the old manifest (XML text); empty: the course key
    // and the date stamp make them.
    std::string itemIdentifier;
    std::string resourceIdentifier;
};

// The whole manifest text (UTF-8, LF line ends).
std::string ScormManifestText(const ManifestValues& values);

// What the manifest of one course bundle (or VOD package) is written from.
struct ManifestInputs {
    std::string productCode;
    std::string courseID;
    std::string webTitle;
    std::string webDescription;
    std::string language;
    int masteryScore = -1;            // the posttest passing score; -1: none given
    bool titlesFromWebTitle = false;  // VOD packages: the title lines from WebTitle, not the old manifest
    // A description option is set: the description from WebDescription, not the old manifest.
    bool descriptionFromWebDescription = false;
    std::optional<platform::LocalDate> playerDate;  // the player script's last-write date
    // The old manifest's item and resource identifiers are kept, so that a new
    // player date does not make the LMS take the course for a new one.
    bool keepIdentifiers = false;
};

// The item and resource identifiers of an old manifest that a rewrite keeps
// (XML text; empty where it has none), when `inputs` asks for that.
struct KeptIdentifiers {
    std::string item;
    std::string resource;
};
KeptIdentifiers FindKeptIdentifiers(const std::optional<std::string>& oldBytes, const ManifestInputs& inputs);

// Regenerates the manifest at `path`, carrying over the old manifest's lines.
void WriteScormManifest(BundleFiles& files, const std::string& path, const ManifestInputs& inputs);
