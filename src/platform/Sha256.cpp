#include "platform/Sha256.h"

#include <nettle/sha2.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace ozm {

namespace {

std::string Hex(sha256_ctx& context) {
    unsigned char digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * sizeof digest);
    for (unsigned char byte : digest) {
        out.push_back(kDigits[byte >> 4]);
        out.push_back(kDigits[byte & 15]);
    }
    return out;
}

}  // namespace

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
    return Hex(context);
}

}  // namespace ozm
