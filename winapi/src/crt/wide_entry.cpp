// The C runtime's start-up for a program whose entry point is wmain, as mingw-w64 links it with
// -municode: the command line's arguments handed over as wide text. Here they arrive as the
// host's bytes, UTF-8, and are converted as the stand-in converts all text.
#include <sim/text.h>

#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv);

int main(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.push_back(sim::FromUtf8(argv[i]));
    }
    std::vector<wchar_t*> pointers;
    for (std::wstring& argument : arguments) {
        pointers.push_back(&argument[0]);
    }
    pointers.push_back(nullptr);
    return wmain(argc, pointers.data());
}
