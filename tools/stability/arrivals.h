// The boots a machine may have: its candidate disks arriving in every order, or in a sample of
// orders when there are too many to try them all. Plain C++, shared by the tools that judge a
// decision from a description and from a log.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace stability {

// Up to this many candidates every arrival is tried (7! = 5040); beyond, a sample.
const std::size_t kExactCandidates = 7;
// The drawn part of a sample; the original arrival and every swap of two candidates come on top.
const std::size_t kSampledArrivals = 2000;

// One arrival: candidate j takes the device number and the interface position that candidate
// arrival[j] had on the boot the records come from.
typedef std::vector<std::size_t> Arrival;

// Calls visit with every arrival of `candidates` candidates, the original one first. Beyond
// kExactCandidates: the original arrival, every swap of two candidates and kSampledArrivals drawn
// from a fixed seed, so that a machine's verdict is the same on every run. True when sampled.
bool ForEachArrival(std::size_t candidates, const std::function<void(const Arrival&)>& visit);

} // namespace stability
