#pragma once
// An output file that appears under its name only when it is complete. The data goes to an
// unnamed temporary file in the target folder (O_TMPFILE), which Commit links into place, so
// not even kill -9 can leave a partial or temporary file behind. On file systems without
// unnamed files a short-named hidden temporary is used instead and removed on every failure.

#include <sys/uio.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace ozm {

enum class ExistingFile {
    Replace,  // an existing writable file of the name is replaced (read-only ones are kept)
    Keep,     // the commit never replaces anything that has the name by then
};

// Called by a Keep commit that finds its name taken (another program took it since it was
// chosen): the next name to try, or nullopt to give up.
using NextNameSource = std::function<std::optional<std::filesystem::path>()>;

class OutputFile {
  public:
    OutputFile(std::filesystem::path target, ExistingFile mode);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False when the temporary file could not be made, or when the mode forbids replacing
    // the file that is there (read-only, a folder).
    bool IsOpen() const { return stream_ != nullptr; }
    std::FILE* Stream() { return stream_; }

    // Flushes what the stream holds; false (with FailureReason set) when a write failed.
    bool Flush();

    // The name Commit puts the file under, changed before the commit: a folder of the same
    // file system as the one given at the start (an unnamed file cannot move to another).
    void Retarget(std::filesystem::path target) { target_ = std::move(target); }

    // Flushes and closes the stream and puts the file in place. False when anything failed;
    // the temporary file is gone either way. With ExistingFile::Keep a name found taken is
    // given up for the next one `nextName` gives.
    bool Commit(const NextNameSource& nextName = {});

    // Writes `pieces` to `stream` in order, as an fwrite of each in turn would. When the
    // stream is an OutputFile's they go from their own memory to the kernel (the stream is
    // flushed first), not through the stream's buffer: for pixel rows already laid out as
    // the file wants them, that saves a copy of the whole picture.
    static bool WritePieces(std::FILE* stream, std::span<const iovec> pieces);

    // The name the file got (the last one tried when the commit failed).
    const std::filesystem::path& Target() const { return target_; }
    // Why opening, writing or committing failed, in a few lower-case words.
    const std::string& FailureReason() const { return reason_; }

  private:
    static ssize_t CookieWrite(void* self, const char* data, std::size_t size);
    bool OpenUnnamed(const std::filesystem::path& folder);
    bool OpenNamed(const std::filesystem::path& folder);
    bool WrapDescriptor();
    bool PlaceUnnamed(const NextNameSource& nextName);
    bool PlaceNamed(const NextNameSource& nextName);
    // Tries `place` (which puts the file at target_ without replacing anything, errno set on
    // failure) under target_ and then under each name `nextName` gives while the name is taken.
    bool PlaceKeeping(const NextNameSource& nextName, const std::function<bool()>& place);
    bool WriteDirect(std::span<const iovec> pieces);
    // Flushes the stream; false when any write so far failed.
    bool FlushStream();
    void CloseStream();
    void Fail(int error);
    void Discard();

    std::filesystem::path target_;
    std::filesystem::path temp_;  // empty for an unnamed temporary
    ExistingFile mode_;
    int fd_ = -1;
    std::FILE* stream_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    int writeError_ = 0;  // the first errno a write hit (ENOSPC, EFBIG, EIO ...)
    std::string reason_;
};

}  // namespace ozm
