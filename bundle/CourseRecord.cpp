#include "bundle/CourseRecord.h"

ManifestInputs ManifestFromRecord(const CourseRecord& record, const CourseSettings& settings,
                                  const Installation& install) {
    ManifestInputs inputs;
    inputs.productCode = record.ProductCode;
    inputs.courseID = record.courseID;
    inputs.webTitle = record.WebTitle;
    inputs.webDescription = record.WebDescription;
    inputs.language = record.Language;
    inputs.masteryScore = settings.posttestPassingScore;
    inputs.titlesFromWebTitle = settings.createVodPackages;
    inputs.descriptionFromWebDescription =
        settings.updateDescriptionsInInterfaceXml || settings.updateDescriptionsFromHtml;
    inputs.playerDate = install.PlayerScriptDate();
    inputs.keepIdentifiers = settings.keepIdentifiers;
    return inputs;
}
