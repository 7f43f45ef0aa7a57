#pragma once
// An output file that appears under its name only when it is complete. The data goes to a
// temporary file in the target folder; Commit renames it into place. A write that fails, or an
// OutputFile destroyed without Commit, leaves no file behind.

#include <cstdio>
#include <filesystem>

namespace ozm {

enum class ExistingFile {
    Replace,  // an existing writable file of the name is replaced (read-only ones are kept)
    Keep,     // the commit fails if a file of the name exists by then (exclusive create)
};

class OutputFile {
  public:
    OutputFile(std::filesystem::path target, ExistingFile mode);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False when the temporary file could not be made, or when the mode forbids replacing
    // the file that is there (read-only, a folder, or any file with ExistingFile::Keep).
    bool IsOpen() const { return stream_ != nullptr; }
    std::FILE* Stream() { return stream_; }

    // Flushes and closes the stream and moves the file into place. False when anything
    // failed; the temporary file is gone either way.
    bool Commit();

  private:
    void Discard();

    std::filesystem::path target_;
    std::filesystem::path temp_;
    ExistingFile mode_;
    std::FILE* stream_ = nullptr;
};

}  // namespace ozm
