#include "capture_origin.h"

namespace {

const char Lead[] = "Captured by destpick-capture ";
const char NamelessComputer[] = "a computer that gave no name";
const char Ending[] = " UTC.";
// "YYYY-MM-DD hh:mm:ss"
const size_t StampLength = 19;

bool IsStamp(const std::string& text) {
    const std::string shape = "dddd-dd-dd dd:dd:dd";
    if (text.size() != shape.size()) {
        return false;
    }
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

CaptureOrigin CaptureOriginOf(const std::string& description) {
    const size_t tail = sizeof(" at ") - 1 + StampLength + sizeof(Ending) - 1;
    if (description.rfind(Lead, 0) != 0 || description.size() < sizeof(Lead) - 1 + tail ||
        description.compare(description.size() - (sizeof(Ending) - 1), std::string::npos, Ending) !=
            0) {
        return {};
    }
    const size_t at = description.size() - tail;
    const std::string stamp = description.substr(at + 4, StampLength);
    // The Windows version is in the last parentheses; the computer's name before them.
    const size_t on = description.find(" on ", sizeof(Lead) - 1);
    const size_t windows = description.rfind(" (", at);
    if (description.compare(at, 4, " at ") != 0 || !IsStamp(stamp) || on == std::string::npos ||
        windows == std::string::npos || windows < on || description[at - 1] != ')') {
        return {};
    }
    std::string computer = description.substr(on + 4, windows - on - 4);
    if (computer == NamelessComputer) {
        computer.clear();
    }
    return {computer, stamp.substr(0, 10) + "T" + stamp.substr(11) + "Z"};
}
