#include "FuzzTarget.h"
#include "writers/ScormManifest.h"

// An old manifest read for its carried-over lines, and the new one built from them.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = DecodeManifestText(AsText(data, size));
    const CarriedOverLines lines = FindCarriedOverLines(text);
    FUZZ_CHECK(lines.title.find('\n') == std::string::npos && lines.description.find('\n') == std::string::npos);
    ManifestValues values;
    values.productCode = "p";
    values.courseID = "c";
    values.titleLine = lines.title;
    values.titleTextLine = lines.titleText;
    values.descriptionLine = lines.description;
    const std::string manifest = ScormManifestText(values);
    FUZZ_CHECK(manifest.rfind("<?xml", 0) == 0);
    return 0;
}
