#pragma once
// The batch conversion: every selected file of the source list through read, resize, rotate
// and one write per ticked format, with the stop rules, hints and progress of the convert
// button. The pipeline for one file is shared with the quick conversion and the command line.

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/bitmap/Bitmap.h"
#include "core/formats/ImageFormats.h"
#include "core/transforms/ConversionOptions.h"
#include "core/transforms/TransformHost.h"

namespace ozm {

inline constexpr std::string_view kChooseBothFoldersMessage = "请选择源文件夹和目标文件夹";
inline constexpr std::string_view kChooseTargetFolderMessage = "请选择目标文件夹";
inline constexpr std::string_view kSelectImageMessage = "请选择一个图片";
inline constexpr std::string_view kNotSupportedMessage = "Not support image type.";
inline constexpr std::string_view kPleaseWaitMessage = "Please waiting for a while.";
inline constexpr std::string_view kConvertedHint = "成功转换";
inline constexpr std::string_view kFailedHint = "转换失败";
inline constexpr std::string_view kStopHint = "Stop";
inline constexpr std::string_view kAllDoneHint = "所有转换已完成，请查看“转换后图片列表”";

// Where the output names come from. The plain namer asks the file system; the command line's
// parallel jobs use one that also counts names reserved by other jobs as taken.
class OutputNamer {
  public:
    virtual ~OutputNamer() = default;
    // The path to write folder + fileName to (numbered when taken), or nullopt when every
    // numbered name is taken.
    virtual std::optional<std::string> Reserve(std::string_view folder, std::string_view fileName);
    // The name given for folder + fileName turned out to be taken when the finished file was
    // put in place (another program took it): the next free one, or nullopt.
    virtual std::optional<std::string> ReserveAgain(std::string_view folder,
                                                    std::string_view fileName);
};

// What the pipeline tells whoever runs it. All calls come from the thread that runs the
// pipeline; a window that runs it on a worker thread passes them on to its own thread.
class PipelineHost : public TransformHost {
  public:
    // The options as they stand now: read again for every file and every format, so that a
    // change made during a run applies from the next format or file.
    virtual ConversionOptions Options() = 0;
    // A modal message; returns when the user has answered it.
    virtual void ShowMessage(const std::string& text) {}
    // A reader's own message (the TIFF reader's refusals).
    virtual void ReaderMessage(const std::string& text) { ShowMessage(text); }
    // One output file was written (the command line prints it).
    virtual void FileWritten(const std::string& path) {}
    // One format of a file could not be written; `path` is the name tried, or the plain name
    // when no numbered name was free; `reason` says why in a few words.
    virtual void WriteFailed(const std::string& path, const std::string& reason) {}
    // Checked between formats: true ends the file's remaining formats.
    virtual bool StopRequested() { return false; }
};

struct FileOutcome {
    bool read = false;     // the source was decoded, resized and rotated
    int written = 0;       // formats written
    int failed = 0;        // ticked formats not written
    bool stopped = false;  // a stop request ended the formats early
    std::string reason;    // why the file failed before any format was tried
    bool Converted() const { return read && failed == 0; }
};

enum class PrepareStatus {
    Ready,
    Unreadable,       // the caller shows "Not support image type."
    TransformFailed,  // a resize or rotation result beyond the pixel limit, or no memory
};

// Reads `source` into `bitmap`, resizes and rotates it as the options say. A transform that
// cannot be done fails the file: writing the unchanged image would report success for what
// the user did not ask for. `reason` says why anything failed.
PrepareStatus PrepareWorkBitmap(const std::string& source, Bitmap& bitmap,
                                const ConversionOptions& options, PipelineHost& host,
                                std::string* reason = nullptr);

// Writes the bitmap once per ticked format, in the fixed format order, under the base
// output path's name with each format's extension (numbered when taken, never replacing a
// file). After every format but the last, a stop request ends the file.
FileOutcome SaveInTickedFormats(const Bitmap& bitmap, const std::string& baseOutputPath,
                                PipelineHost& host, OutputNamer& namer);

// The whole pipeline for one file into `targetFolder` (ending in "/"). Never throws: anything
// thrown while converting the file fails that file, with the reason, and nothing else.
FileOutcome ConvertOneFile(const std::string& source, const std::string& targetFolder,
                           Bitmap& workBitmap, PipelineHost& host, OutputNamer& namer);

// Everything the batch run asks of the main window, besides the pipeline's needs.
class ConversionHost : public PipelineHost {
  public:
    // The source list, read as the run reaches each entry.
    virtual int EntryCount() = 0;
    virtual int CurrentIndex() = 0;
    virtual std::string EntryText(int index) = 0;
    virtual bool IsSelected(int index) = 0;
    // Gives the source list the keyboard focus, selecting its first entry when asked.
    virtual void FocusSourceList(bool selectFirst) {}

    virtual void ShowConversionPage() {}
    virtual void SetHint(const std::string& text) {}
    virtual void ShowProgressBar(bool visible) {}
    virtual void ResetProgress() {}
    // The button's face: false "BtnImgCovert", true "BtnStopImgConvert".
    virtual void SetStopFace(bool stopping) {}

    virtual void ChooseSourceFolder() {}
    virtual void ChooseTargetFolder() {}
    virtual void RefreshTargetList() {}
    virtual void AddRecentFolder(const std::string& folder) {}
    // Sets `LastSourceFolder` and stores it at once ("OZMMyHisPath").
    virtual void StoreLastSourceFolder(const std::string& folder) {}

    // Runs the batch. The default runs it at once, on the calling thread; the window runs it
    // on its worker thread and returns.
    virtual void StartBatch(std::function<void()> batch) { batch(); }
};

enum class RunState { Idle, Running, Stopping };

struct RunCounts {
    int converted = 0;
    int failed = 0;
};

class ConversionRun {
  public:
    explicit ConversionRun(ConversionHost& host) : host_(host) {}

    // The convert button (and "转换所选图片(&C)"): starts a run, or asks a running one to
    // stop. Called on the window's thread.
    void BtnImgCovertClick();
    // The window is closing: a running batch stops at its next check.
    void FormCloseQuery();

    RunState State() const;
    // Counts of the last finished (or stopped) run.
    RunCounts LastCounts() const;

  private:
    void ConvertSelectedFiles();
    void FinishBatch();

    ConversionHost& host_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<int> buttonTag_{0};
    mutable std::mutex countsMutex_;
    RunCounts counts_;
    Bitmap workBitmap_;
};

}  // namespace ozm
