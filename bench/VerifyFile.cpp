// Times VerifyCodeSection over one update file, as Osprey runs it before an
// update: bench-verify FILE. Prints the verdict and the seconds taken.
#include <chrono>
#include <cstdio>

#include "CodeCheck.h"
#include "Console.h"
#include "Decimal.h"
#include "IniReader.h"
#include "TextFile.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench-verify UPDATE_FILE\n");
        return 2;
    }
    FILE* quiet = std::fopen("/dev/null", "w");
    osprey::Console().output = quiet;  // its findings are not what is measured
    osprey::TextFile file;
    if (!file.Open(argv[1])) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    std::array<char, 256> count{};
    osprey::ReadIniValue(file, "Code Info", "Number of Srecs", count);
    int verdict = osprey::VerifyCodeSection(file, osprey::DecimalInteger(count.data()));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("verdict %d seconds %.3f\n", verdict, seconds);
    return verdict;
}
