#include "app/convert/ConversionRun.h"

#include <sys/stat.h>

#include <chrono>

#include "app/convert/OutputNaming.h"
#include "app/convert/ReadAhead.h"
#include "app/convert/UiBridge.h"
#include "core/formats/ImgConvertUnit.h"
#include "core/text/TextRules.h"
#include "core/transforms/Resize.h"
#include "core/transforms/Rotate.h"

namespace ozm {

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::optional<std::string> OutputNamer::Reserve(std::string_view folder,
                                                std::string_view fileName) {
    return MakeUniqueOutputPath(folder, fileName);
}

std::optional<std::string> OutputNamer::ReserveAgain(std::string_view folder,
                                                     std::string_view fileName) {
    return MakeUniqueOutputPath(folder, fileName);
}

PrepareStatus PrepareWorkBitmap(const std::string& source, Bitmap& bitmap,
                                const ConversionOptions& options, PipelineHost& host,
                                std::string* reason) {
    const MessageCallback onMessage = [&host](const std::string& text) {
        host.ReaderMessage(text);
    };
    if (!ReadImageFile(source, bitmap, onMessage, reason)) return PrepareStatus::Unreadable;
    return TransformWorkBitmap(bitmap, options, host, reason);
}

PrepareStatus TransformWorkBitmap(Bitmap& bitmap, const ConversionOptions& options,
                                  PipelineHost& host, std::string* reason) {
    if (options.resizeMode == ResizeMode::ToSize || options.resizeMode == ResizeMode::ByPercent) {
        // A target side below 1 leaves the image as it is, by the resize rules; only a
        // result that cannot exist or cannot be allocated fails.
        const ResizeTarget target = ComputeResizeTarget(bitmap.Width(), bitmap.Height(), options);
        const bool wanted = target.resample && target.width >= 1 && target.height >= 1;
        if (wanted && !IsAcceptableImageSize(target.width, target.height)) {
            Refuse(reason, "cannot resize: " + ImageSizeReason(target.width, target.height));
            return PrepareStatus::TransformFailed;
        }
        if (!ResizeWorkBitmap(bitmap, options, host) && wanted) {
            Refuse(reason, "cannot resize: out of memory");
            return PrepareStatus::TransformFailed;
        }
    }
    if (options.rotateDegrees > 0) {
        const RotatedSize size = ComputeRotatedSize(
            bitmap.Width(), bitmap.Height(),
            ComputeRotationAngle(options.rotateDegrees, options.rotateHundredths));
        if (!IsAcceptableImageSize(size.width, size.height)) {
            Refuse(reason, "cannot rotate: " + ImageSizeReason(size.width, size.height));
            return PrepareStatus::TransformFailed;
        }
        if (!RotateWorkBitmap(bitmap, options, host)) {
            Refuse(reason, "cannot rotate: out of memory");
            return PrepareStatus::TransformFailed;
        }
    }
    return PrepareStatus::Ready;
}

FileOutcome SaveInTickedFormats(const Bitmap& bitmap, const std::string& baseOutputPath,
                                PipelineHost& host, OutputNamer& namer) {
    FileOutcome outcome;
    outcome.read = true;
    // The desktop program never ticks the formats past its eight (WebP).
    const auto& table = WrittenFormats();
    for (std::size_t row = 0; row < table.size(); ++row) {
        const ConversionOptions options = host.Options();
        if (!options.formats.Ticked(table[row]->code)) continue;
        const std::string named = ChangeFileExt(baseOutputPath, table[row]->extension);
        const std::string folder(ExtractFilePath(named));
        const std::string name(ExtractFileName(named));
        const auto path = namer.Reserve(folder, name);
        WriteSettings settings;
        settings.jpegQuality = options.jpegQuality;
        settings.lossless = options.lossless;
        settings.threads = host.TransformThreads();
        settings.replaceExisting = false;
        bool exhausted = !path;
        settings.nextFreeName = [&]() -> std::optional<std::filesystem::path> {
            auto next = namer.ReserveAgain(folder, name);
            if (!next) {
                exhausted = true;
                return std::nullopt;
            }
            return std::filesystem::path(*next);
        };
        ImageWriteReport report;
        if (path && WriteImageFile(bitmap, *path, table[row]->code, settings, &report)) {
            ++outcome.written;
            host.FileWritten(report.written.string());
        } else {
            ++outcome.failed;
            // Every name taken: the plain name stands for them all, none of them was touched.
            if (exhausted) {
                host.WriteFailed(named, std::string(kAllNamesTakenReason));
            } else {
                host.WriteFailed(report.written.string(), report.reason);
            }
        }
        // A stop is honoured between formats, never after the last one.
        if (row + 1 < table.size() && host.StopRequested()) {
            outcome.stopped = true;
            break;
        }
    }
    return outcome;
}

FileOutcome ConvertOneFile(const std::string& source, const std::string& targetFolder,
                           Bitmap& workBitmap, PipelineHost& host, OutputNamer& namer,
                           ReadAhead* ahead, const std::function<void()>& beforeWrite) {
    FileOutcome outcome;
    try {
        host.StepProgress();
        PrepareStatus status = PrepareStatus::Unreadable;
        if (auto early = ahead ? ahead->Take(source) : std::nullopt) {
            for (const std::string& text : early->messages) host.ReaderMessage(text);
            if (early->read) {
                workBitmap = std::move(early->bitmap);
                status = TransformWorkBitmap(workBitmap, host.Options(), host, &outcome.reason);
            } else {
                outcome.reason = early->reason;
            }
        } else {
            status = PrepareWorkBitmap(source, workBitmap, host.Options(), host, &outcome.reason);
        }
        switch (status) {
            case PrepareStatus::Unreadable:
                host.ShowMessage(std::string(kNotSupportedMessage));
                return outcome;
            case PrepareStatus::TransformFailed:
                return outcome;
            case PrepareStatus::Ready:
                break;
        }
        if (beforeWrite) beforeWrite();
        return SaveInTickedFormats(workBitmap, targetFolder + std::string(ExtractFileName(source)),
                                   host, namer);
    } catch (...) {
        outcome.reason = CurrentExceptionReason();
    }
    // The bitmap may be half-made; the next file starts from a fresh one.
    workBitmap = Bitmap();
    outcome.read = false;
    return outcome;
}

namespace {

// The host as a worker thread sees it: every call reaches the window on its own thread,
// through the bridge. Posted calls capture the window's host, not this adapter, which is gone
// when they run after the worker has ended. Reads wait for their answer; a closed bridge answers
// "nothing" (no entries, not selected), so a run whose window is going away ends at its next check.
class BridgedHost : public ConversionHost {
  public:
    // The shared view is asked for here, on the window's thread, before the worker starts.
    BridgedHost(ConversionHost& host, UiBridge& bridge, const SharedListView* shared)
        : host_(host), bridge_(bridge), shared_(shared) {}

    ConversionOptions Options() override { return host_.Options(); }
    void ShowMessage(const std::string& text) override {
        bridge_.PostAndWait([&] { host_.ShowMessage(text); });
    }
    void ReaderMessage(const std::string& text) override {
        bridge_.PostAndWait([&] { host_.ReaderMessage(text); });
    }
    void FileWritten(const std::string& path) override {
        bridge_.Post([h = &host_, path] { h->FileWritten(path); });
    }
    void WriteFailed(const std::string& path, const std::string& reason) override {
        bridge_.Post([h = &host_, path, reason] { h->WriteFailed(path, reason); });
    }
    void StepProgress() override {
        bridge_.Post([h = &host_] { h->StepProgress(); });
    }
    int TransformThreads() const override { return host_.TransformThreads(); }

    // A shared view is read here, on the worker; otherwise each read is a round trip.
    int EntryCount() override {
        if (shared_) return shared_->EntryCount();
        return Ask(0, [this] { return host_.EntryCount(); });
    }
    int CurrentIndex() override {
        if (shared_) return shared_->CurrentIndex();
        return Ask(-1, [this] { return host_.CurrentIndex(); });
    }
    bool IsSelected(int index) override {
        // A closed bridge answers "not selected" either way: the window is going away.
        if (shared_) return !bridge_.Closed() && shared_->IsSelected(index);
        return Ask(false,
                   [this, index] { return index < host_.EntryCount() && host_.IsSelected(index); });
    }
    std::string EntryText(int index) override {
        if (shared_) return shared_->EntryText(index);
        return Ask(std::string(), [this, index] {
            return index < host_.EntryCount() ? host_.EntryText(index) : std::string();
        });
    }
    void FocusSourceList(bool first) override {
        bridge_.Post([h = &host_, first] { h->FocusSourceList(first); });
    }
    void RefreshTargetList() override {
        bridge_.Post([h = &host_] { h->RefreshTargetList(); });
    }
    void ShowConversionPage() override {
        bridge_.Post([h = &host_] { h->ShowConversionPage(); });
    }
    void SetHint(const std::string& text) override {
        bridge_.Post([h = &host_, text] { h->SetHint(text); });
    }
    void ShowProgressBar(bool visible) override {
        bridge_.Post([h = &host_, visible] { h->ShowProgressBar(visible); });
    }
    void ResetProgress() override {
        bridge_.Post([h = &host_] { h->ResetProgress(); });
    }
    void SetStopFace(bool stopping) override {
        bridge_.Post([h = &host_, stopping] { h->SetStopFace(stopping); });
    }
    void ChooseSourceFolder() override {
        bridge_.Post([h = &host_] { h->ChooseSourceFolder(); });
    }
    void ChooseTargetFolder() override {
        bridge_.Post([h = &host_] { h->ChooseTargetFolder(); });
    }
    void AddRecentFolder(const std::string& folder) override {
        bridge_.Post([h = &host_, folder] { h->AddRecentFolder(folder); });
    }
    void StoreLastSourceFolder(const std::string& folder) override {
        bridge_.Post([h = &host_, folder] { h->StoreLastSourceFolder(folder); });
    }

  private:
    template <typename T, typename F>
    T Ask(T otherwise, F read) {
        T answer = otherwise;
        bridge_.PostAndWait([&] { answer = read(); });
        return answer;
    }

    ConversionHost& host_;
    UiBridge& bridge_;
    const SharedListView* shared_;
};

}  // namespace

void SharedListView::Set(std::vector<std::string> entries, std::vector<bool> selected,
                         int currentIndex) {
    std::lock_guard lock(mutex_);
    entries_ = std::move(entries);
    selected_ = std::move(selected);
    currentIndex_ = currentIndex;
}

void SharedListView::SetSelected(std::vector<bool> selected, int currentIndex) {
    std::lock_guard lock(mutex_);
    selected_ = std::move(selected);
    currentIndex_ = currentIndex;
}

int SharedListView::EntryCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(entries_.size());
}

int SharedListView::CurrentIndex() const {
    std::lock_guard lock(mutex_);
    return currentIndex_;
}

bool SharedListView::IsSelected(int index) const {
    std::lock_guard lock(mutex_);
    return index >= 0 && static_cast<std::size_t>(index) < entries_.size() &&
           static_cast<std::size_t>(index) < selected_.size() &&
           selected_[static_cast<std::size_t>(index)];
}

std::string SharedListView::EntryText(int index) const {
    std::lock_guard lock(mutex_);
    return index >= 0 && static_cast<std::size_t>(index) < entries_.size()
               ? entries_[static_cast<std::size_t>(index)]
               : std::string();
}

ConversionRun::~ConversionRun() {
    stopRequested_ = true;
    if (bridge_) bridge_->Close();
    if (worker_.joinable()) worker_.join();
}

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
    if (status_.state != RunState::Idle) stopRequested_ = true;
}

void ConversionRun::Wait() {
    for (;;) {
        if (bridge_) bridge_->RunPending();
        std::unique_lock lock(stateMutex_);
        if (!workerRunning_) break;
        workerDone_.wait_for(lock, std::chrono::milliseconds(5));
    }
    if (worker_.joinable()) worker_.join();
    if (bridge_) bridge_->RunPending();  // the batch's closing steps
    std::lock_guard lock(stateMutex_);
    // A closed bridge drops the closing steps; the run is over all the same.
    if (status_.state != RunState::Idle) {
        status_ = RunStatus{};
        stopRequested_ = false;
    }
}

void ConversionRun::BtnImgCovertClick() {
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
            stopRequested_ = true;
            action = Action::Stop;
        } else if (status_.state != RunState::Idle) {
            action = Action::Wait;
        } else {
            status_ = RunStatus{RunState::Running, false, 1};
            // A stop asked for after the last check of the previous run must not end this one.
            stopRequested_ = false;
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
    // The previous worker has posted its closing steps, which have run: it is only returning.
    if (worker_.joinable()) worker_.join();
    {
        std::lock_guard lock(stateMutex_);
        workerRunning_ = true;
    }
    const SharedListView* shared = host_.SharedSourceList();
    worker_ = std::thread([this, shared] {
        BridgedHost host(host_, *bridge_, shared);
        try {
            ConvertSelectedFiles(host);
        } catch (...) {
        }
        bridge_->Post([this] { FinishBatch(); });
        {
            std::lock_guard lock(stateMutex_);
            workerRunning_ = false;
        }
        workerDone_.notify_all();
    });
}

void ConversionRun::FinishBatch() {
    {
        std::lock_guard lock(stateMutex_);
        status_ = RunStatus{};
        stopRequested_ = false;
    }
    host_.SetStopFace(false);
    host_.ShowProgressBar(false);
    if (onFinished_) onFinished_();
}

bool ConversionRun::TakeStop() { return stopRequested_.exchange(false); }

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
    std::string lastSourcePath;
    OutputNamer namer;

    struct RunPipelineHost : PipelineHost {
        explicit RunPipelineHost(ConversionHost& h, std::atomic<bool>& stop)
            : host(h), stop(stop) {}
        ConversionOptions Options() override { return host.Options(); }
        void ShowMessage(const std::string& text) override { host.ShowMessage(text); }
        void ReaderMessage(const std::string& text) override { host.ReaderMessage(text); }
        void FileWritten(const std::string& path) override { host.FileWritten(path); }
        void WriteFailed(const std::string& path, const std::string& reason) override {
            host.WriteFailed(path, reason);
        }
        bool StopRequested() override { return stop; }
        void StepProgress() override { host.StepProgress(); }
        void ProcessPendingWork() override { host.ProcessPendingWork(); }
        int TransformThreads() const override { return host.TransformThreads(); }
        ConversionHost& host;
        std::atomic<bool>& stop;
    } pipeline(host, stopRequested_);

    // With more than one core, the next selected file is read while this one is written. The
    // read is taken only when the run reaches that very file (same entry, same path, still
    // there); otherwise it is dropped and the file is read at its turn, as it always was.
    ReadAhead ahead;
    const bool readAhead = pipeline.TransformThreads() > 1;
    const auto startNextRead = [&](int index) {
        // A short look ahead: each step may be a trip to the window's thread.
        constexpr int kMostEntriesAhead = 64;
        for (int next = index + 1; next < count && next <= index + kMostEntriesAhead; ++next) {
            if (!host.IsSelected(next)) continue;
            const std::string path = host.Options().sourceFolder + host.EntryText(next);
            if (IsExistingFile(path)) ahead.Start(path);
            return;
        }
    };

    for (int index = 0; index < count; ++index) {
        if (host.IsSelected(index)) {
            const ConversionOptions options = host.Options();
            const std::string source = options.sourceFolder + host.EntryText(index);
            lastSourcePath = source;
            if (IsExistingFile(source)) {
                host.ProcessPendingWork();
                const FileOutcome outcome = ConvertOneFile(
                    source, options.targetFolder, workBitmap_, pipeline, namer, &ahead, [&] {
                        if (readAhead) startNextRead(index);
                    });
                {
                    std::lock_guard lock(countsMutex_);
                    ++(outcome.Converted() ? counts_.converted : counts_.failed);
                }
                host.SetHint(std::string(outcome.Converted() ? kConvertedHint : kFailedHint) +
                             source);
                host.ProcessPendingWork();
                host.StepProgress();
            }
        }
        // Checked after every entry, selected or not, so that a stop asked for during the
        // last selected file is honoured even when unselected entries follow it.
        if (TakeStop()) {
            host.SetHint(std::string(kStopHint));
            host.ResetProgress();
            return;
        }
    }

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
