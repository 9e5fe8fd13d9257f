#include "banners.h"

#include "log_text.h"

namespace {

// The banners without the blanks that end them (the reader trims those).
const char RunHeader[] = " --- Collecting Information -----------------";
const char CandidateBanner[] = " --- Candidate Drive [";
const char CandidateBannerEnd[] = " ----------------";
const char PickBanner[] = " --- Pick Drive By Weight -----------------";
const char ReportBanner[] = " --- Report -----------------";

} // namespace

BannerText BannerOf(const std::string& message) {
    BannerText banner;
    std::string rest;
    if (message == RunHeader) {
        banner.kind = Banner::Run;
    } else if (message == PickBanner) {
        banner.kind = Banner::Pick;
    } else if (message == ReportBanner) {
        banner.kind = Banner::Report;
    } else if (const std::optional<int> position =
                   BracketedPosition(message, CandidateBanner, &rest)) {
        if (rest == CandidateBannerEnd) {
            banner.kind = Banner::Candidate;
            banner.candidate = *position;
        }
    }
    return banner;
}

int BlanksBefore(Banner banner) {
    switch (banner) {
    case Banner::None:
        return 0;
    case Banner::Candidate:
        return 1;
    case Banner::Run:
    case Banner::Pick:
    case Banner::Report:
        return 2;
    }
    return 0;
}
