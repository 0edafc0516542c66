// The text stream the update-file routines read: open a file by path, read
// whole lines without their LF or CR LF, report the end, close. Reading past
// the end is a run-time error.
#pragma once

#include <fstream>
#include <memory>
#include <string>

namespace kestrel {

class TextStream {
  public:
    // Throws RuntimeError when the file cannot be opened.
    static std::unique_ptr<TextStream> OpenTextFile(const std::string& path);
    std::string ReadLine();
    bool AtEndOfStream();
    void Close() { file_.close(); }

  private:
    std::ifstream file_;
};

}  // namespace kestrel
