// write_generated_machines COUNT FOLDER [FIRST-SEED]: writes COUNT generated machines as
// descriptions, FOLDER/machine-<seed>.json, for the checks and the benchmark that replay them as
// files. The seeds run on from FIRST-SEED (1); a machine that no description can tell (a layout
// that fails without a reply to give at last) is passed over.
#include "machine_generator.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

bool Describable(unsigned seed, std::string* text) {
    try {
        *text = sim::WriteMachine(testing_support::GeneratedMachine(seed));
        return true;
    } catch (const sim::MachineError&) {
        return false;
    }
}

bool WriteDescription(const std::string& folder, unsigned seed, const std::string& text) {
    std::ofstream file(folder + "/machine-" + std::to_string(seed) + ".json", std::ios::binary);
    file << text;
    return static_cast<bool>(file.flush());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fputs("usage: write_generated_machines COUNT FOLDER [FIRST-SEED]\n", stderr);
        return 1;
    }
    const unsigned count = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
    const unsigned first =
        argc == 4 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 1;
    std::string text;
    for (unsigned seed = first, written = 0; written < count; ++seed) {
        if (!Describable(seed, &text)) {
            continue;
        }
        if (!WriteDescription(argv[2], seed, text)) {
            std::fprintf(stderr, "cannot write %s/machine-%u.json\n", argv[2], seed);
            return 2;
        }
        ++written;
    }
    return 0;
}
