// Reads a machine description and writes it anew with the description writer: the checks run an
// example machine's rewritten description, and compare what the native build and the Windows
// build write.
//
// Usage: rewrite_description <description> <output file>
// Exit codes: 0 written, 1 output not written, 2 wrong command line, 3 description refused.
#include <sim/machine.h>

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: rewrite_description <description> <output file>\n";
        return 2;
    }
    std::string text;
    try {
        text = sim::WriteMachine(sim::LoadMachineFile(argv[1]));
    } catch (const sim::MachineError& error) {
        std::cerr << error.what() << '\n';
        return 3;
    }
    std::ofstream output(argv[2], std::ios::binary);
    output << text;
    output.close();
    if (!output) {
        std::cerr << argv[2] << ": cannot be written\n";
        return 1;
    }
    return 0;
}
