#pragma once

// Which of the optional writers this build has. The upload packages need a
// zip library and the schema check an XML schema library; a build for a
// system without them leaves the two out, and the options that ask for them
// are refused before a run starts rather than ignored. Both systems built
// here have both.
bool HasUploadPackages();
bool HasSchemaCheck();
