// Points the console services at files of the test's own and restores them.
#pragma once

#include <cstdio>
#include <string>

#include "Console.h"

namespace osprey::testing {

class ConsoleCapture {
  public:
    explicit ConsoleCapture(const std::string& answers = "") {
        saved_ = Console();
        input_ = std::tmpfile();
        output_ = std::tmpfile();
        std::fputs(answers.c_str(), input_);
        std::rewind(input_);
        Console() = {input_, output_};
        savedSleep_ = sleepMilliseconds;
        sleepMilliseconds = [](unsigned) {};
    }
    ~ConsoleCapture() {
        Console() = saved_;
        sleepMilliseconds = savedSleep_;
        std::fclose(input_);
        std::fclose(output_);
    }
    std::string Output() {
        std::fflush(output_);
        std::string text;
        std::rewind(output_);
        for (int c; (c = std::fgetc(output_)) != EOF;) {
            text.push_back(static_cast<char>(c));
        }
        return text;
    }

  private:
    ConsoleStreams saved_{};
    SleepFunction savedSleep_ = nullptr;
    FILE* input_ = nullptr;
    FILE* output_ = nullptr;
};

}  // namespace osprey::testing
