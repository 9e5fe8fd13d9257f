// Generated machines, one for each seed: what the capture test, the fleet's checks and its
// benchmark replay. A machine as one capture can see it, with every kind of odd answer in it.
#pragma once

#include <sim/machine.h>

namespace testing_support {

sim::Machine GeneratedMachine(unsigned seed);

} // namespace testing_support
