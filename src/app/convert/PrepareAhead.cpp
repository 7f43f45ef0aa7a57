#include "app/convert/PrepareAhead.h"

#include <sys/stat.h>

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

PrepareAhead::~PrepareAhead() { Drop(); }

void PrepareAhead::Drop() {
    if (thread_.joinable()) {
        abandon_ = true;
        thread_.join();
        abandon_ = false;
    }
    result_ = PreparedFile{};
}

void PrepareAhead::Start(const std::string& source, const ConversionOptions& options) {
    if (!enabled_) return;
    Drop();
    source_ = source;
    options_ = options;
    stamp_ = FileStamp(source);
    if (stamp_.empty()) return;
    try {
        thread_ = std::thread([this] {
            // One core of the budget while it works, so that the writer's bands take fewer.
            const BudgetShare core(ThreadBudget::Process(), 1);
            try {
                Recorder recorder(host_, options_, stop_, abandon_, result_);
                result_.outcome = PrepareFile(source_, options_, result_.bitmap, recorder);
            } catch (...) {
                // Only the recording itself can throw here: the file is prepared at its turn.
                result_.outcome.stopped = true;
            }
        });
    } catch (const std::system_error&) {
        // No thread: the file is prepared at its turn.
    }
}

std::optional<PreparedFile> PrepareAhead::Take(const std::string& source,
                                               const ConversionOptions& options) {
    if (!thread_.joinable()) return std::nullopt;
    thread_.join();
    PreparedFile file = std::exchange(result_, PreparedFile{});
    if (source != source_ || file.outcome.stopped || !SamePreparation(options, options_) ||
        FileStamp(source) != stamp_) {
        return std::nullopt;
    }
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
        // The options as they stand when this file leaves its first stage.
        if (ahead.Enabled() && next) {
            if (const std::optional<std::string> path = next()) ahead.Start(*path, host.Options());
        }
        if (early) early->Replay(source, host);
        if (!outcome.read) return outcome;
        return WritePreparedFile(source, targetFolder, workBitmap, host, namer);
    } catch (...) {
        return FailThrown(source, workBitmap, host);
    }
}

}  // namespace ozm
