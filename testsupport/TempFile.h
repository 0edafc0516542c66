// A file with the test's text in a fresh temporary folder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace testsupport {

class TempDir {
  public:
    // A fresh folder of its own: a name that exists already is never reused.
    TempDir() {
        std::random_device seed;
        std::mt19937_64 draw(seed());
        for (;;) {
            path_ = std::filesystem::temp_directory_path() /
                    ("kr470-test-" + std::to_string(draw() % 1000000000));
            if (std::filesystem::create_directory(path_)) {
                return;
            }
        }
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& Path() const { return path_; }
    std::string Write(const std::string& name, const std::string& text) const {
        std::filesystem::path file = path_ / name;
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }

  private:
    std::filesystem::path path_;
};

}  // namespace testsupport
