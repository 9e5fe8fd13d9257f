// The banner lines that mark a run's phases, and the blank entries the tool writes before each.
#pragma once

#include <string>

enum class Banner { None, Run, Candidate, Pick, Report };

struct BannerText {
    Banner kind = Banner::None;
    int candidate = -1; // the position a candidate banner names
};

// The banner a message spells; None for any other text. Whether it is a banner depends on the
// blank entries before it as well: see BlanksBefore.
BannerText BannerOf(const std::string& message);

// The blank entries the tool writes before the banner. A banner's text without them is some
// other line's text, a device's description for one, and is taken as such.
int BlanksBefore(Banner banner);
