#include "core/formats/io/FileBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>

#include "core/bitmap/Bitmap.h"

namespace ozm {

namespace {
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};
}  // namespace

std::string SystemErrorText(int error) {
    std::string text = std::strerror(error);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::filesystem::path& path,
                                                       std::string* reason,
                                                       const FileShape& shape) {
    // O_NONBLOCK: opening a FIFO without a writer, or some devices, would otherwise wait for
    // ever. The file type is checked on the open descriptor, so a swap after a stat is no race.
    Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (f.fd < 0) {
        Refuse(reason, SystemErrorText(errno));
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(f.fd, &st) != 0) {
        Refuse(reason, SystemErrorText(errno));
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        Refuse(reason, S_ISDIR(st.st_mode) ? "is a folder" : "not a regular file");
        return std::nullopt;
    }
    if (st.st_size == 0) {
        Refuse(reason, "empty file");
        return std::nullopt;
    }
    if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > kMaxInputFileBytes) {
        Refuse(reason, "file too large");
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(st.st_size) > shape.maxBytes) {
        Refuse(reason, "file too large for its format");
        return std::nullopt;
    }
    // Regular files never block; clear the flag so reads behave as plain reads everywhere.
    ::fcntl(f.fd, F_SETFL, ::fcntl(f.fd, F_GETFL) & ~O_NONBLOCK);
    // The first bytes decide before the rest is read: a big file of another kind costs
    // nothing, and a header can say how much of the file its picture can use.
    std::uint64_t toRead = static_cast<std::uint64_t>(st.st_size);
    if (!shape.magic.empty() || shape.usefulBytes) {
        std::uint8_t head[kFileHeadBytes];
        ssize_t n;
        do {
            n = ::pread(f.fd, head, sizeof head, 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            Refuse(reason, SystemErrorText(errno));
            return std::nullopt;
        }
        const std::span<const std::uint8_t> got(head, static_cast<std::size_t>(n));
        if (got.size() < shape.magic.size() ||
            !std::equal(shape.magic.begin(), shape.magic.end(), got.begin(),
                        [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
            Refuse(reason,
                   shape.notThisFormat.empty() ? "unknown file format" : shape.notThisFormat);
            return std::nullopt;
        }
        if (shape.usefulBytes) toRead = std::min(toRead, shape.usefulBytes(got, toRead));
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(toRead));
    } catch (const std::bad_alloc&) {
        Refuse(reason, "out of memory");
        return std::nullopt;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(f.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            Refuse(reason, SystemErrorText(errno));
            return std::nullopt;
        }
        if (n == 0) break;  // the file shrank while we read it: decode what is there
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

}  // namespace ozm
