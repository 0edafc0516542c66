#include "Entry.h"

int main(int argc, char** argv) {
    return osprey::RunProgram(argc, argv);
}
