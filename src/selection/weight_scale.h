// The weighting's scale and its tie rule, shared with the tools that read its log back.
#pragma once

// A speed class is worth this much: more than the other terms can ever add up to, so that the
// class decides before capacity, the system partition and the device number.
const long long SpeedClassStep = 1000000000LL;
const long long HighestSpeedClass = 8;
const long long SystemDiskWeight = 100;

// The pick goes through the records in order; a record takes it from the current choice when its
// weight reaches the current one, so of equal weights the later wins. No record lighter than
// LightestPick is chosen.
const long long LightestPick = 1;
inline bool TakesThePick(long long weight, long long currentWeight) {
    return weight >= currentWeight;
}
