#include "platform/Download.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>

namespace ozm {

namespace {

void GlobalInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlUrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct CurlEasyDeleter {
    void operator()(CURL* e) const { curl_easy_cleanup(e); }
};
struct CurlMultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct CurlFree {
    void operator()(char* p) const { curl_free(p); }
};

std::string UrlPart(CURLU* url, CURLUPart part) {
    char* raw = nullptr;
    if (curl_url_get(url, part, &raw, 0) != CURLUE_OK || raw == nullptr) return {};
    std::unique_ptr<char, CurlFree> owned(raw);
    return std::string(raw);
}

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool IsLoopbackHost(const std::string& host) {
    const std::string h = AsciiLower(host);
    if (h == "localhost" || h == "[::1]") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, h.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    return false;
}

std::string SchemeOf(const std::string& url) {
    std::unique_ptr<CURLU, CurlUrlDeleter> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return {};
    return AsciiLower(UrlPart(parsed.get(), CURLUPART_SCHEME));
}

bool IsRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

using Sink = std::function<bool(const char*, std::size_t)>;

// One hop's state, shared with the write callback.
struct Hop {
    CURL* easy = nullptr;
    const DownloadLimits* limits = nullptr;
    const std::atomic<bool>* cancel = nullptr;
    const Sink* sink = nullptr;
    const DownloadProgressFn* progress = nullptr;
    std::uint64_t written = 0;
    std::int64_t announced = -1;
    std::string failure;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    Hop& hop = *static_cast<Hop*>(user);
    const std::size_t length = size * count;
    if (hop.cancel->load(std::memory_order_relaxed)) return 0;
    long status = 0;
    curl_easy_getinfo(hop.easy, CURLINFO_RESPONSE_CODE, &status);
    // A redirect's own body is not the file; the next hop brings it.
    if (IsRedirectStatus(status)) return length;
    if (status != 200) {
        hop.failure = "HTTP status " + std::to_string(status);
        return 0;
    }
    curl_off_t announced = -1;
    curl_easy_getinfo(hop.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    hop.announced = announced >= 0 ? static_cast<std::int64_t>(announced) : -1;
    if ((hop.announced >= 0 && static_cast<std::uint64_t>(hop.announced) > hop.limits->maxBytes) ||
        hop.written + length > hop.limits->maxBytes) {
        hop.failure = "file larger than " + std::to_string(hop.limits->maxBytes >> 20) + " MiB";
        return 0;
    }
    if (!(*hop.sink)(data, length)) {
        hop.failure = "cannot write the downloaded data";
        return 0;
    }
    hop.written += length;
    if (*hop.progress) (*hop.progress)(hop.written, hop.announced);
    return length;
}

// Runs one request on `multi`, looking at the cancel flag at least every 50 ms. Returns the
// transfer's code, or nothing when it was cancelled.
std::optional<CURLcode> Perform(CURLM* multi, CURL* easy, const std::atomic<bool>& cancel) {
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
    std::optional<CURLcode> result;
    bool cancelled = false;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
                result = message->data.result;
        }
        if (result || running == 0) break;
        if (cancel.load()) {
            cancelled = true;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, 50, nullptr);
    }
    curl_multi_remove_handle(multi, easy);
    if (cancelled || cancel.load()) return std::nullopt;
    return result.value_or(CURLE_FAILED_INIT);
}

std::string CurlReason(CURLcode code) {
    switch (code) {
        case CURLE_PARTIAL_FILE:
            return "body shorter than announced";
        case CURLE_OPERATION_TIMEDOUT:
            return "timed out";
        case CURLE_FILESIZE_EXCEEDED:
            return "file larger than the limit";
        case CURLE_COULDNT_CONNECT:
            return "cannot connect";
        case CURLE_COULDNT_RESOLVE_HOST:
            return "unknown host";
        case CURLE_PEER_FAILED_VERIFICATION:
            return "server certificate not trusted";
        default:
            return AsciiLower(curl_easy_strerror(code));
    }
}

DownloadResult Fetch(const std::string& firstUrl, const DownloadLimits& limits,
                     const std::atomic<bool>& cancel, const Sink& sink,
                     const DownloadProgressFn& progress) {
    DownloadResult out;
    if (std::optional<std::string> refusal = UrlRefusal(firstUrl)) {
        out.reason = *refusal;
        return out;
    }
    GlobalInitOnce();
    std::unique_ptr<CURLM, CurlMultiDeleter> multi(curl_multi_init());
    std::unique_ptr<CURL, CurlEasyDeleter> easy(curl_easy_init());
    if (!multi || !easy) {
        out.reason = "cannot start a transfer";
        return out;
    }
    CURL* e = easy.get();
    Hop hop;
    hop.easy = e;
    hop.limits = &limits;
    hop.cancel = &cancel;
    hop.sink = &sink;
    hop.progress = &progress;
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
    curl_easy_setopt(e, CURLOPT_NOPROXY, "localhost,127.0.0.0/8,::1");
    curl_easy_setopt(e, CURLOPT_USERAGENT, "ozm-imgconv");
    // Larger pieces than curl's 16 KiB default: a fast route then costs a quarter of the
    // write calls and progress reports.
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &hop);

    std::string url = firstUrl;
    for (int hops = 0;; ++hops) {
        curl_easy_setopt(e, CURLOPT_URL, url.c_str());
        hop.announced = -1;
        hop.failure.clear();
        const std::optional<CURLcode> code = Perform(multi.get(), e, cancel);
        out.bytes = hop.written;
        if (!code) {
            out.cancelled = true;
            out.reason = "cancelled";
            return out;
        }
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &out.httpStatus);
        if (!hop.failure.empty()) {
            out.reason = hop.failure;
            return out;
        }
        if (*code != CURLE_OK) {
            out.reason = CurlReason(*code);
            return out;
        }
        if (IsRedirectStatus(out.httpStatus)) {
            char* location = nullptr;
            curl_easy_getinfo(e, CURLINFO_REDIRECT_URL, &location);
            if (location == nullptr) {
                out.reason = "redirect without a location";
                return out;
            }
            const std::string next(location);
            if (hops + 1 > limits.maxRedirects) {
                out.reason = "too many redirects";
                return out;
            }
            if (std::optional<std::string> refusal = UrlRefusal(next)) {
                out.reason = "redirect refused: " + *refusal;
                return out;
            }
            if (SchemeOf(url) == "https" && SchemeOf(next) != "https") {
                out.reason = "redirect from HTTPS to HTTP refused";
                return out;
            }
            url = next;
            continue;
        }
        if (out.httpStatus != 200) {
            out.reason = "HTTP status " + std::to_string(out.httpStatus);
            return out;
        }
        if (hop.announced >= 0 && hop.written != static_cast<std::uint64_t>(hop.announced)) {
            out.reason = "body shorter than announced";
            return out;
        }
        out.ok = true;
        return out;
    }
}

}  // namespace

std::optional<std::string> UrlRefusal(const std::string& url) {
    std::unique_ptr<CURLU, CurlUrlDeleter> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return std::string("not a web address");
    const std::string scheme = AsciiLower(UrlPart(parsed.get(), CURLUPART_SCHEME));
    if (scheme == "https") return std::nullopt;
    if (scheme != "http") return std::string("only http and https addresses are fetched");
    if (!IsLoopbackHost(UrlPart(parsed.get(), CURLUPART_HOST)))
        return std::string("plain HTTP is refused except to this machine");
    return std::nullopt;
}

DownloadResult DownloadToFile(const std::string& url, int fd, const DownloadLimits& limits,
                              const std::atomic<bool>& cancel, const DownloadProgressFn& progress) {
    const Sink sink = [fd](const char* data, std::size_t length) {
        while (length > 0) {
            const ssize_t put = ::write(fd, data, length);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            data += put;
            length -= static_cast<std::size_t>(put);
        }
        return true;
    };
    return Fetch(url, limits, cancel, sink, progress);
}

DownloadResult DownloadToString(const std::string& url, std::string& out,
                                const DownloadLimits& limits, const std::atomic<bool>& cancel) {
    out.clear();
    const Sink sink = [&out](const char* data, std::size_t length) {
        out.append(data, length);
        return true;
    };
    return Fetch(url, limits, cancel, sink, {});
}

}  // namespace ozm
