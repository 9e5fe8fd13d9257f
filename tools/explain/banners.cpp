#include "banners.h"

#include "log/log_texts.h"
#include "log_text.h"

BannerText BannerOf(const std::string& message) {
    BannerText banner;
    if (FitsFormat(message, RunBanner)) {
        banner.kind = Banner::Run;
    } else if (FitsFormat(message, PickBanner)) {
        banner.kind = Banner::Pick;
    } else if (FitsFormat(message, ReportBanner)) {
        banner.kind = Banner::Report;
    } else if (const std::optional<int> position = PositionIn(message, CandidateBanner)) {
        banner.kind = Banner::Candidate;
        banner.candidate = *position;
    }
    return banner;
}

int BlanksBefore(Banner banner) {
    // A candidate's banner has one blank entry before it, the phases' banners two.
    return banner == Banner::None ? 0 : banner == Banner::Candidate ? 1 : 2;
}
