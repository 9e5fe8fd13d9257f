#include "arrivals.h"

#include <algorithm>
#include <numeric>
#include <random>

namespace stability {

namespace {

// The engine's output is fixed by the standard; the distributions are not, so the draw is made
// here to give the same sample with every standard library.
const std::mt19937::result_type kSampleSeed = 19;

void VisitEvery(Arrival arrival, const std::function<void(const Arrival&)>& visit) {
    do {
        visit(arrival);
    } while (std::next_permutation(arrival.begin(), arrival.end()));
}

void VisitSwaps(const Arrival& original, const std::function<void(const Arrival&)>& visit) {
    for (std::size_t a = 0; a < original.size(); ++a) {
        for (std::size_t b = a + 1; b < original.size(); ++b) {
            Arrival swapped = original;
            std::swap(swapped[a], swapped[b]);
            visit(swapped);
        }
    }
}

void VisitDrawn(const Arrival& original, const std::function<void(const Arrival&)>& visit) {
    std::mt19937 engine(kSampleSeed);
    Arrival arrival = original;
    for (std::size_t drawn = 0; drawn < kSampledArrivals; ++drawn) {
        for (std::size_t k = arrival.size() - 1; k > 0; --k) {
            std::swap(arrival[k], arrival[engine() % (k + 1)]);
        }
        visit(arrival);
    }
}

} // namespace

bool ForEachArrival(std::size_t candidates, const std::function<void(const Arrival&)>& visit) {
    Arrival original(candidates);
    std::iota(original.begin(), original.end(), 0);
    if (candidates <= kExactCandidates) {
        VisitEvery(original, visit);
        return false;
    }
    visit(original);
    VisitSwaps(original, visit);
    VisitDrawn(original, visit);
    return true;
}

} // namespace stability
