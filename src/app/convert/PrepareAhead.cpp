#include "app/convert/PrepareAhead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <tuple>

#include "core/parallel/ThreadBudget.h"

namespace ozm {

namespace {

// What the first stage reads of the options: the resize and the rotation.
bool SamePreparation(const TransformSettings& a, const TransformSettings& b) {
    const auto fields = [](const TransformSettings& s) {
        return std::tie(s.resizeMode, s.width, s.height, s.keepAspect, s.percentage,
                        s.rotateDegrees, s.rotateHundredths);
    };
    return fields(a) == fields(b);
}

// The file's identity, size and modification time; empty when it cannot be had.
std::string FileStamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
           std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

// The preparing thread's host: the run's thread count, the stop, and every message kept.
class Recorder : public PipelineHost {
  public:
    Recorder(const PipelineHost& host, const ConversionOptions& options,
             const std::atomic<bool>& stop, const std::atomic<bool>& abandon, PreparedFile& file)
        : host_(host), options_(options), stop_(stop), abandon_(abandon), file_(file) {}

    ConversionOptions Options() override { return options_; }
    int TransformThreads() const override { return host_.TransformThreads(); }
    bool StopBeforeWriting() override { return stop_ || abandon_; }
    void ReaderMessage(const std::string& text) override {
        file_.calls.emplace_back(PreparedFile::Call::ReaderMessage, text);
    }
    void ReadFailed(const std::string&, const std::string& reason) override {
        file_.calls.emplace_back(PreparedFile::Call::ReadFailed, reason);
    }
    void ConvertFailed(const std::string&, const std::string& reason) override {
        file_.calls.emplace_back(PreparedFile::Call::ConvertFailed, reason);
    }

  private:
    const PipelineHost& host_;
    const ConversionOptions& options_;
    const std::atomic<bool>& stop_;
    const std::atomic<bool>& abandon_;
    PreparedFile& file_;
};

// The file's bytes brought from the disk in 64 KiB pieces, so that the next file's read never
// overlaps this one's; the reader then finds them in the page cache. Errors are the reader's
// to report.
void ReadThrough(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    char piece[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    ::close(fd);
}

}  // namespace

void PreparedFile::Replay(const std::string& source, PipelineHost& host) const {
    for (const auto& [call, text] : calls) {
        switch (call) {
            case Call::ReaderMessage:
                host.ReaderMessage(text);
                break;
            case Call::ReadFailed:
                host.ReadFailed(source, text);
                break;
            case Call::ConvertFailed:
                host.ConvertFailed(source, text);
                break;
        }
    }
}

PrepareAhead::PrepareAhead(const PipelineHost& host, const std::atomic<bool>& stop, bool enabled)
    : host_(host), stop_(stop), enabled_(enabled) {}

PrepareAhead::~PrepareAhead() {
    for (Lane& lane : lanes_) Drop(lane);
}

void PrepareAhead::Drop(Lane& lane) {
    if (lane.thread.joinable()) {
        lane.abandon = true;
        lane.thread.join();
        lane.abandon = false;
    }
    lane.source.clear();
    lane.result = PreparedFile{};
}

PrepareAhead::Lane* PrepareAhead::InFlight(const std::string& source) {
    for (Lane& lane : lanes_) {
        if (lane.thread.joinable() && lane.source == source) return &lane;
    }
    return nullptr;
}

void PrepareAhead::Run(Lane& lane) {
    // One core of the budget while it works, so that the bands of one image take fewer.
    const BudgetShare core(ThreadBudget::Process(), 1);
    const auto markRead = [&] {
        {
            std::lock_guard lock(mutex_);
            lane.read = true;
        }
        readDone_.notify_all();
    };
    try {
        ReadThrough(lane.source);
        markRead();
        Recorder recorder(host_, lane.options, stop_, lane.abandon, lane.result);
        lane.result.outcome = PrepareFile(lane.source, lane.options, lane.result.bitmap, recorder);
        if (lane.result.outcome.read) {
            lane.result.encoded = EncodeTickedFormats(
                lane.result.bitmap, BaseOutputPath(lane.source, lane.targetFolder), lane.options,
                host_.TransformThreads(), [&] { return stop_ || lane.abandon; });
        }
    } catch (...) {
        // Only the recording itself can throw here: the file is converted at its turn.
        lane.result.outcome.stopped = true;
    }
    markRead();
}

void PrepareAhead::Start(Lane& lane, const std::string& source, const ConversionOptions& options,
                         const std::string& targetFolder) {
    Drop(lane);
    lane.stamp = FileStamp(source);
    if (lane.stamp.empty()) return;
    lane.source = source;
    lane.targetFolder = targetFolder;
    lane.options = options;
    lane.read = false;
    lane.result.bitmap = std::move(spare_);
    try {
        lane.thread = std::thread([this, &lane] { Run(lane); });
    } catch (const std::system_error&) {
        // No thread: the file is converted at its turn.
        lane.source.clear();
    }
}

void PrepareAhead::Begin(const std::string& source, const ConversionOptions& options,
                         const std::string& targetFolder) {
    if (!enabled_) return;
    Lane* lane = InFlight(source);
    for (Lane& other : lanes_) {
        if (&other != lane) Drop(other);
    }
    if (!lane) {
        Start(lanes_[0], source, options, targetFolder);
        if (!lanes_[0].thread.joinable()) return;
        lane = &lanes_[0];
    }
    std::unique_lock lock(mutex_);
    readDone_.wait(lock, [lane] { return lane->read; });
}

void PrepareAhead::StartNext(const std::string& source, const ConversionOptions& options,
                             const std::string& targetFolder) {
    if (!enabled_ || InFlight(source)) return;
    for (Lane& lane : lanes_) {
        if (!lane.thread.joinable()) {
            Start(lane, source, options, targetFolder);
            return;
        }
    }
}

std::optional<PreparedFile> PrepareAhead::Take(const std::string& source,
                                               const ConversionOptions& options) {
    Lane* lane = InFlight(source);
    if (!lane) return std::nullopt;
    lane->thread.join();
    PreparedFile file = std::exchange(lane->result, PreparedFile{});
    const bool same = !file.outcome.stopped && SamePreparation(options, lane->options) &&
                      FileStamp(source) == lane->stamp;
    lane->source.clear();
    if (!same) return std::nullopt;
    return file;
}

FileOutcome ConvertOneFile(const std::string& source, const std::string& targetFolder,
                           Bitmap& workBitmap, PipelineHost& host, OutputNamer& namer,
                           PrepareAhead& ahead,
                           const std::function<std::optional<std::string>()>& next) {
    FileOutcome outcome;
    try {
        host.StepProgress();
        const ConversionOptions options = host.Options();
        if (ahead.Enabled()) {
            ahead.Begin(source, options, targetFolder);
            // The options as they stand when this file has been read.
            if (next) {
                if (const std::optional<std::string> path = next()) {
                    ahead.StartNext(*path, host.Options(), targetFolder);
                }
            }
        }
        std::optional<PreparedFile> early = ahead.Take(source, options);
        if (early && host.StopBeforeWriting()) {
            outcome.stopped = true;
        } else if (early) {
            outcome = early->outcome;
            if (outcome.read) workBitmap = std::move(early->bitmap);
        } else {
            outcome = PrepareFile(source, options, workBitmap, host);
        }
        if (outcome.stopped) return outcome;
        if (early) early->Replay(source, host);
        if (!outcome.read) return outcome;
        outcome = WritePreparedFile(source, targetFolder, workBitmap, host, namer,
                                    early ? &early->encoded : nullptr);
        // Its memory goes to the next file started, so that two bitmaps are in use at most.
        if (ahead.Enabled()) ahead.Recycle(std::move(workBitmap));
        return outcome;
    } catch (...) {
        return FailThrown(source, workBitmap, host);
    }
}

}  // namespace ozm
