#include "app/QuarvelRun.h"

SpreadsheetResult QuarvelRun::ConvertSpreadsheet() { return {}; }
