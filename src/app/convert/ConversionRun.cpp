#include "app/convert/ConversionRun.h"

#include <sys/stat.h>

#include <exception>
#include <new>

#include "app/convert/OutputNaming.h"
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
    const auto& table = OutputFormatTable();
    for (std::size_t row = 0; row < table.size(); ++row) {
        const ConversionOptions options = host.Options();
        if (!options.formats[row]) continue;
        const std::string named = ChangeFileExt(baseOutputPath, table[row].extension);
        const std::string folder(ExtractFilePath(named));
        const std::string name(ExtractFileName(named));
        const auto path = namer.Reserve(folder, name);
        WriteSettings settings;
        settings.jpegQuality = options.jpegQuality;
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
        if (path && WriteImageFile(bitmap, *path, table[row].code, settings, &report)) {
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
                           Bitmap& workBitmap, PipelineHost& host, OutputNamer& namer) {
    FileOutcome outcome;
    try {
        host.StepProgress();
        switch (PrepareWorkBitmap(source, workBitmap, host.Options(), host, &outcome.reason)) {
            case PrepareStatus::Unreadable:
                host.ShowMessage(std::string(kNotSupportedMessage));
                return outcome;
            case PrepareStatus::TransformFailed:
                return outcome;
            case PrepareStatus::Ready:
                break;
        }
        return SaveInTickedFormats(workBitmap, targetFolder + std::string(ExtractFileName(source)),
                                   host, namer);
    } catch (const std::bad_alloc&) {
        outcome.reason = "out of memory";
    } catch (const std::exception& e) {
        outcome.reason = e.what();
    } catch (...) {
        outcome.reason = "unexpected failure";
    }
    // The bitmap may be half-made; the next file starts from a fresh one.
    workBitmap = Bitmap();
    outcome.read = false;
    return outcome;
}

RunState ConversionRun::State() const {
    if (!running_) return RunState::Idle;
    return stopRequested_ ? RunState::Stopping : RunState::Running;
}

RunCounts ConversionRun::LastCounts() const {
    std::lock_guard lock(countsMutex_);
    return counts_;
}

void ConversionRun::FormCloseQuery() {
    if (running_) stopRequested_ = true;
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
    if (buttonTag_ == 1) {
        buttonTag_ = 0;
        stopRequested_ = true;
        host_.SetStopFace(true);
        host_.ShowProgressBar(false);
        return;
    }
    buttonTag_ = 1;
    if (running_) {
        host_.ShowMessage(std::string(kPleaseWaitMessage));
        buttonTag_ = 0;
        return;
    }
    running_ = true;
    // A stop asked for after the last check of the previous run must not end this one.
    stopRequested_ = false;
    host_.StartBatch([this] {
        try {
            ConvertSelectedFiles();
        } catch (...) {
            // An unexpected failure ends the run where it is, without the closing steps.
        }
        FinishBatch();
    });
}

void ConversionRun::FinishBatch() {
    host_.SetStopFace(false);
    buttonTag_ = 0;
    host_.ShowProgressBar(false);
    stopRequested_ = false;
    running_ = false;
}

void ConversionRun::ConvertSelectedFiles() {
    {
        std::lock_guard lock(countsMutex_);
        counts_ = RunCounts{};
    }
    const int count = host_.EntryCount();
    if (count == 0 || host_.CurrentIndex() == -1) {
        host_.ShowMessage(std::string(kSelectImageMessage));
        host_.FocusSourceList(false);
        return;
    }
    host_.ShowProgressBar(true);
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
        ConversionHost& host;
        std::atomic<bool>& stop;
    } pipeline(host_, stopRequested_);

    for (int index = 0; index < count; ++index) {
        if (host_.IsSelected(index)) {
            const ConversionOptions options = host_.Options();
            const std::string source = options.sourceFolder + host_.EntryText(index);
            lastSourcePath = source;
            if (IsExistingFile(source)) {
                host_.ProcessPendingWork();
                const FileOutcome outcome =
                    ConvertOneFile(source, options.targetFolder, workBitmap_, pipeline, namer);
                {
                    std::lock_guard lock(countsMutex_);
                    ++(outcome.Converted() ? counts_.converted : counts_.failed);
                }
                host_.SetHint(std::string(outcome.Converted() ? kConvertedHint : kFailedHint) +
                              source);
                host_.ProcessPendingWork();
                host_.StepProgress();
            }
        }
        // Checked after every entry, selected or not, so that a stop asked for during the
        // last selected file is honoured even when unselected entries follow it.
        if (stopRequested_) {
            stopRequested_ = false;
            host_.SetHint(std::string(kStopHint));
            host_.ResetProgress();
            return;
        }
    }

    const ConversionOptions options = host_.Options();
    host_.AddRecentFolder(options.sourceFolder);
    host_.AddRecentFolder(options.targetFolder);
    host_.StoreLastSourceFolder(std::string(ExtractFilePath(lastSourcePath)));
    if (!TrimControl(lastSourcePath).empty()) {
        host_.RefreshTargetList();
        host_.ResetProgress();
        const RunCounts counts = LastCounts();
        host_.SetHint(std::string(kAllDoneHint) + "（成功 " + std::to_string(counts.converted) +
                      " 个，失败 " + std::to_string(counts.failed) + " 个）");
    } else {
        host_.ShowMessage(std::string(kSelectImageMessage));
        host_.FocusSourceList(true);
    }
}

}  // namespace ozm
