#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "support/TestSupport.h"

// Validation of generated files against the published schemas kept in the
// repository (res/schemas, with their licence texts).
inline const std::string kSchemaFolder = QUARVEL_SOURCE_DIR "/res/schemas";

struct LintResult {
    int status = -1;     // 0 valid, 3 schema-invalid, 1 not well-formed
    std::string output;  // what xmllint printed
};

inline LintResult RunXmllint(const std::string& schema, const fs::path& file) {
    // Without its schema xmllint fails too, which a test expecting a failure would take for a verdict.
    if (!fs::is_regular_file(schema)) {
        ADD_FAILURE() << "schema not found: " << schema;
        return {};
    }
    const fs::path log = fs::path(file).concat(".lint");
    const std::string command =
        "xmllint --noout --schema '" + schema + "' '" + file.string() + "' > '" + log.string() + "' 2>&1";
    const int raw = std::system(command.c_str());
    LintResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.output = ReadBytes(log);
    fs::remove(log);
    return result;
}

inline LintResult ValidateManifest(const fs::path& file) {
    return RunXmllint(kSchemaFolder + "/scorm12-wrapper.xsd", file);
}

inline LintResult ValidateTincan(const fs::path& file) {
    return RunXmllint(kSchemaFolder + "/xapi/tincan.xsd", file);
}
