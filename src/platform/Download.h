#pragma once
// HTTP GET with libcurl, for the update package and its small companion files. Certificate
// checks stay on; redirects are followed by hand so every hop is checked like the first
// address (at most five, never from HTTPS down to HTTP); plain HTTP is accepted only for
// loopback addresses, where the tests' own server lives.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ozm {

struct DownloadLimits {
    std::uint64_t maxBytes = 512ull << 20;
    long connectTimeoutSeconds = 20;
    // A transfer slower than this many bytes per second for `lowSpeedSeconds` is given up.
    long lowSpeedBytesPerSecond = 64;
    long lowSpeedSeconds = 30;
    int maxRedirects = 5;
};

struct DownloadResult {
    bool ok = false;
    bool cancelled = false;
    // Short, lower-case English: "HTTP status 404", "body shorter than announced", ...
    std::string reason;
    long httpStatus = 0;
    std::uint64_t bytes = 0;
};

// `total` is the announced length, or -1 when the server did not announce one. Called on the
// downloading thread after each block written.
using DownloadProgressFn = std::function<void(std::uint64_t current, std::int64_t total)>;

// Why `url` may not be fetched (not http or https, plain HTTP to a host other than
// 127.0.0.0/8, ::1 or "localhost", unparsable), or nothing when it may.
std::optional<std::string> UrlRefusal(const std::string& url);

// Writes the body of a 200 answer into `fd` from its current position. Fails on any other
// final status, on a body shorter than its Content-Length, above `limits.maxBytes`, on a
// refused address or redirect, on timeouts and on a write error. `cancel` is looked at every
// 50 ms at least; a cancelled transfer fails with `cancelled` set.
DownloadResult DownloadToFile(const std::string& url, int fd, const DownloadLimits& limits,
                              const std::atomic<bool>& cancel,
                              const DownloadProgressFn& progress = {});

// The same into memory, for small texts (a version number, a checksum line).
DownloadResult DownloadToString(const std::string& url, std::string& out,
                                const DownloadLimits& limits, const std::atomic<bool>& cancel);

}  // namespace ozm
