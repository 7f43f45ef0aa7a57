#include "app/convert/ConversionRun.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <system_error>

#include "app/convert/BridgedHost.h"
#include "app/convert/OutputNaming.h"
#include "app/convert/Pipeline.h"
#include "app/convert/PrepareAhead.h"
#include "app/convert/UiBridge.h"
#include "core/text/TextRules.h"

namespace ozm {

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "转换失败" and the path, then why in the words the command line uses.
std::string FailedHint(const std::string& source, const std::string& reason) {
    std::string hint = std::string(kFailedHint) + source;
    if (!reason.empty()) hint += "（" + reason + "）";
    return hint;
}

}  // namespace

ClickClock::time_point InputEventMade(std::uint64_t stamp, ClickClock::time_point handled) {
    constexpr std::uint32_t kLongestWait = 10 * 60 * 1000;
    const auto now = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(handled.time_since_epoch()).count());
    const std::uint32_t age = static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(stamp);
    return age <= kLongestWait ? handled - std::chrono::milliseconds(age) : handled;
}

// The pipeline's host for the batch: the window's host behind it, the run's stop flag between
// formats, "Not support image type." for a file that cannot be read. With more than one core,
// the next selected file is prepared while this one is written; it is taken only when the run
// reaches that very file (same entry, same path, still there and unchanged, same resize and
// rotation), otherwise it is dropped and the file is prepared at its turn, as it always was.
class RunPipeline : public PipelineHost {
  public:
    RunPipeline(ConversionHost& host, const std::atomic<bool>& stop, int entryCount)
        : host_(host),
          stop_(stop),
          entryCount_(entryCount),
          ahead_(*this, stop, host.TransformThreads() > 1) {}

    // Converts the file of entry `index`.
    FileOutcome Convert(int index, const std::string& source, const std::string& targetFolder,
                        Bitmap& workBitmap) {
        index_ = index;
        writeFailure_.clear();
        OutputNamer namer;
        return ConvertOneFile(source, targetFolder, workBitmap, *this, namer, ahead_,
                              [this] { return NextSource(); });
    }
    // Why the current file's first failed format was not written; empty when none failed.
    const std::string& WriteFailure() const { return writeFailure_; }

    ConversionOptions Options() override { return host_.Options(); }
    int TransformThreads() const override { return host_.TransformThreads(); }
    void StepProgress() override { host_.StepProgress(); }
    void ProcessPendingWork() override { host_.ProcessPendingWork(); }
    bool StopRequested() override { return stop_; }

    void ReaderMessage(const std::string& text) override { host_.ReaderMessage(text); }
    void ReadFailed(const std::string&, const std::string&) override {
        host_.ShowMessage(std::string(kNotSupportedMessage));
    }
    void FileWritten(const std::string& path) override { host_.FileWritten(path); }
    void WriteFailed(const std::string& path, const std::string& reason) override {
        if (writeFailure_.empty()) writeFailure_ = reason;
        host_.WriteFailed(path, reason);
    }

  private:
    // The next selected entry's file, when it is there.
    std::optional<std::string> NextSource() {
        // A short look ahead: each step may be a trip to the window's thread.
        constexpr int kMostEntriesAhead = 64;
        for (int next = index_ + 1; next < entryCount_ && next <= index_ + kMostEntriesAhead;
             ++next) {
            if (!host_.IsSelected(next)) continue;
            const std::string path = host_.Options().sourceFolder + host_.EntryText(next);
            if (!IsExistingFile(path)) return std::nullopt;
            return path;
        }
        return std::nullopt;
    }

    ConversionHost& host_;
    const std::atomic<bool>& stop_;
    const int entryCount_;
    int index_ = 0;
    std::string writeFailure_;
    // Last, so that a file still being prepared is abandoned before the rest goes away.
    PrepareAhead ahead_;
};

ConversionRun::~ConversionRun() { worker_.Abandon(); }

RunState ConversionRun::State() const {
    std::lock_guard lock(stateMutex_);
    return status_.state;
}

RunStatus ConversionRun::Status() const {
    std::lock_guard lock(stateMutex_);
    return status_;
}

RunCounts ConversionRun::LastCounts() const {
    std::lock_guard lock(countsMutex_);
    return counts_;
}

void ConversionRun::SetFinishedHandler(std::function<void()> handler) {
    onFinished_ = std::move(handler);
}

void ConversionRun::FormCloseQuery() {
    std::lock_guard lock(stateMutex_);
    if (status_.state != RunState::Idle) worker_.StopFlag() = true;
}

void ConversionRun::Wait() {
    worker_.Wait();
    std::lock_guard lock(stateMutex_);
    // A closed bridge drops the closing steps; the run is over all the same.
    if (status_.state != RunState::Idle) {
        status_ = RunStatus{};
        worker_.StopFlag() = false;
    }
}

void ConversionRun::BtnImgCovertClick(ClickClock::time_point madeAt) {
    {
        std::lock_guard lock(stateMutex_);
        if (madeAt < idleSince_) return;
    }
    host_.ShowConversionPage();
    const ConversionOptions options = host_.Options();
    if (!IsFolder(options.sourceFolder)) {
        host_.ShowMessage(std::string(kChooseBothFoldersMessage));
        host_.ChooseSourceFolder();
        return;
    }
    if (!IsFolder(options.targetFolder)) {
        host_.ShowMessage(std::string(kChooseTargetFolderMessage));
        host_.ChooseTargetFolder();
        return;
    }
    host_.ShowProgressBar(true);
    host_.ShowConversionPage();
    enum class Action { Start, Stop, Wait } action;
    {
        // One step under one lock: no click can see the state between two of its parts.
        std::lock_guard lock(stateMutex_);
        if (status_.buttonTag == 1) {
            status_ = RunStatus{RunState::Stopping, true, 0};
            worker_.StopFlag() = true;
            action = Action::Stop;
        } else if (status_.state != RunState::Idle) {
            action = Action::Wait;
        } else {
            status_ = RunStatus{RunState::Running, false, 1};
            // A stop asked for after the last check of the previous run must not end this one.
            worker_.StopFlag() = false;
            action = Action::Start;
        }
    }
    switch (action) {
        case Action::Stop:
            host_.SetStopFace(true);
            host_.ShowProgressBar(false);
            return;
        case Action::Wait:
            host_.ShowMessage(std::string(kPleaseWaitMessage));
            return;
        case Action::Start:
            break;
    }
    if (bridge_) {
        StartWorker();
        return;
    }
    try {
        ConvertSelectedFiles(host_);
    } catch (...) {
        // An unexpected failure ends the run where it is, without the closing steps.
    }
    FinishBatch();
}

void ConversionRun::StartWorker() {
    // The shared view is asked for here, on the window's thread.
    const SharedListView* shared = host_.SharedSourceList();
    try {
        worker_.Start([this, shared] {
            BridgedHost host(host_, *bridge_, shared);
            try {
                ConvertSelectedFiles(host);
            } catch (...) {
            }
            bridge_->Post([this] { FinishBatch(); });
        });
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "ozm-imgconv: the conversion could not start: %s\n", e.what());
        FinishBatch();
    }
}

void ConversionRun::FinishBatch() {
    {
        std::lock_guard lock(stateMutex_);
        status_ = RunStatus{};
        worker_.StopFlag() = false;
    }
    host_.SetStopFace(false);
    host_.ShowProgressBar(false);
    {
        std::lock_guard lock(stateMutex_);
        idleSince_ = ClickClock::now();
    }
    if (onFinished_) onFinished_();
}

bool ConversionRun::TakeStop() { return worker_.StopFlag().exchange(false); }

void ConversionRun::ConvertSelectedFiles(ConversionHost& host) {
    {
        std::lock_guard lock(countsMutex_);
        counts_ = RunCounts{};
    }
    const int count = host.EntryCount();
    if (count == 0 || host.CurrentIndex() == -1) {
        host.ShowMessage(std::string(kSelectImageMessage));
        host.FocusSourceList(false);
        return;
    }
    host.ShowProgressBar(true);
    RunPipeline pipeline(host, worker_.StopFlag(), count);
    std::string lastSourcePath;
    for (int index = 0; index < count; ++index) {
        if (host.IsSelected(index)) lastSourcePath = ConvertEntry(host, pipeline, index);
        // Checked after every entry, selected or not, so that a stop asked for during the
        // last selected file is honoured even when unselected entries follow it.
        if (TakeStop()) {
            host.SetHint(std::string(kStopHint));
            host.ResetProgress();
            return;
        }
    }
    CloseRun(host, lastSourcePath);
}

std::string ConversionRun::ConvertEntry(ConversionHost& host, RunPipeline& pipeline, int index) {
    const ConversionOptions options = host.Options();
    const std::string source = options.sourceFolder + host.EntryText(index);
    if (!IsExistingFile(source)) {
        CountFile(false);
        host.SetHint(FailedHint(source, std::string(kFileNotFoundReason)));
        host.StepProgress();
        return source;
    }
    host.ProcessPendingWork();
    const FileOutcome outcome = pipeline.Convert(index, source, options.targetFolder, workBitmap_);
    CountFile(outcome.Converted());
    host.SetHint(outcome.Converted()
                     ? std::string(kConvertedHint) + source
                     : FailedHint(source, outcome.reason.empty() ? pipeline.WriteFailure()
                                                                 : outcome.reason));
    host.ProcessPendingWork();
    host.StepProgress();
    return source;
}

void ConversionRun::CountFile(bool converted) {
    std::lock_guard lock(countsMutex_);
    ++(converted ? counts_.converted : counts_.failed);
}

// The closing steps of a run that went through the whole list.
void ConversionRun::CloseRun(ConversionHost& host, const std::string& lastSourcePath) {
    const ConversionOptions options = host.Options();
    host.AddRecentFolder(options.sourceFolder);
    host.AddRecentFolder(options.targetFolder);
    host.StoreLastSourceFolder(std::string(ExtractFilePath(lastSourcePath)));
    if (!TrimControl(lastSourcePath).empty()) {
        host.RefreshTargetList();
        host.ResetProgress();
        const RunCounts counts = LastCounts();
        host.SetHint(std::string(kAllDoneHint) + "（成功 " + std::to_string(counts.converted) +
                     " 个，失败 " + std::to_string(counts.failed) + " 个）");
    } else {
        host.ShowMessage(std::string(kSelectImageMessage));
        host.FocusSourceList(true);
    }
}

}  // namespace ozm
