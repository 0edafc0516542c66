// The command-line parser over any words.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Words are separated by NUL bytes, as they arrive in argv.
    std::vector<std::string> words = osprey::fuzz::Pieces(data, size, '\0');
    words.insert(words.begin(), "Osprey");
    std::vector<const char*> argv;
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    argv.push_back(nullptr);
    osprey::ResetOptions();
    const int argc = static_cast<int>(words.size());
    for (int guard = 0; guard <= argc; ++guard) {
        int option = osprey::NextOption(argc, argv.data(), osprey::kOptionLetters);
        if (option == -1 || option == 0)
            break;  // 0 is a bad word: the program shows its usage and ends
        if (osprey::optionArgument != nullptr)
            (void)std::string(osprey::optionArgument);  // must point into a live word
        if (guard == argc)
            __builtin_trap();  // the parser must end after the last word
    }
    return 0;
}
