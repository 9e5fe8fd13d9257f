// Where and when a description was captured, as destpick-capture records it in the description's
// text: "Captured by destpick-capture <version> on <computer> (<Windows>) at <date> <time> UTC."
#pragma once

#include <string>

struct CaptureOrigin {
    std::string computer; // empty when the computer gave no name, or the text is no capture's
    std::string captured; // "YYYY-MM-DDThh:mm:ssZ"; empty when the text is no capture's
};

CaptureOrigin CaptureOriginOf(const std::string& description);
