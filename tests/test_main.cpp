// The suites' entry point. After every test the process must hold no handle and no
// device-information set, and no write or unknown request may have reached a simulated device:
// a test that leaves one fails, whatever it asserted itself.
#include <sim/standin.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

bool leftSomething = false;

class ResourceCheck : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo& test) override {
        const sim::Counters counters = sim::CurrentCounters();
        if (counters.openHandles != 0 || counters.liveDeviceInfoSets != 0 ||
            counters.deviceWrites != 0 || counters.unknownRequests != 0) {
            std::fprintf(stderr,
                         "%s.%s left %d handles and %d device-information sets open, and sent %d "
                         "writes and %d unknown requests to devices\n",
                         test.test_suite_name(), test.name(), counters.openHandles,
                         counters.liveDeviceInfoSets, counters.deviceWrites,
                         counters.unknownRequests);
            leftSomething = true;
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ResourceCheck);
    const int result = RUN_ALL_TESTS();
    return result != 0 ? result : (leftSomething ? 1 : 0);
}
