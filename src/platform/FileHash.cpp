#include "platform/FileHash.h"

#include <fcntl.h>
#include <nettle/sha2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace ozm {

namespace {

std::string HexDigest(sha256_ctx& context) {
    unsigned char digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * sizeof digest);
    for (unsigned char byte : digest) {
        out.push_back(kDigits[byte >> 4]);
        out.push_back(kDigits[byte & 15]);
    }
    return out;
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    return HexDigest(context);
}

std::optional<std::string> Sha256OfFile(int fd) {
    sha256_ctx context;
    sha256_init(&context);
    std::vector<unsigned char> block(1 << 20);
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, block.data(), block.size(), offset);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        sha256_update(&context, static_cast<std::size_t>(got), block.data());
        offset += got;
    }
    return HexDigest(context);
}

std::optional<std::string> FileSha256Hex(const std::filesystem::path& file) {
    // O_NONBLOCK: a FIFO at the path must not hang the caller; the type is checked next.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::string> digest;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) digest = Sha256OfFile(fd);
    ::close(fd);
    return digest;
}

}  // namespace ozm
