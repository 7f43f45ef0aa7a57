#pragma once
// The batch conversion: every selected file of the source list through read, resize, rotate
// and one write per ticked format, with the stop rules, hints and progress of the convert
// button. The pipeline for one file is shared with the quick conversion and the command line.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/convert/ConversionOptions.h"
#include "app/convert/HostRoles.h"
#include "core/bitmap/Bitmap.h"
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

// The resize and rotation of PrepareWorkBitmap, for a bitmap already read.
PrepareStatus TransformWorkBitmap(Bitmap& bitmap, const ConversionOptions& options,
                                  PipelineHost& host, std::string* reason = nullptr);

class ReadAhead;

// The whole pipeline for one file into `targetFolder` (ending in "/"). Never throws: anything
// thrown while converting the file fails that file, with the reason, and nothing else. A read
// of `source` that `ahead` has made stands for the file's own read; `beforeWrite` is called
// once the bitmap is ready and before the first format is written (the run starts the next
// file's read there).
FileOutcome ConvertOneFile(const std::string& source, const std::string& targetFolder,
                           Bitmap& workBitmap, PipelineHost& host, OutputNamer& namer,
                           ReadAhead* ahead = nullptr,
                           const std::function<void()>& beforeWrite = {});

// The source list's names, selection and current entry as a worker thread may read them
// without a trip to the window's thread, which can take long on a loaded machine. The window
// replaces them, under the lock, whenever its list changes; an index past the current end
// counts as not selected and has no text.
class SharedListView {
  public:
    void Set(std::vector<std::string> entries, std::vector<bool> selected, int currentIndex);
    void SetSelected(std::vector<bool> selected, int currentIndex);
    int EntryCount() const;
    int CurrentIndex() const;
    bool IsSelected(int index) const;
    std::string EntryText(int index) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
    std::vector<bool> selected_;
    int currentIndex_ = -1;
};

// The source list as the run reads it, entry by entry.
class RunLists {
  public:
    virtual ~RunLists() = default;
    virtual int EntryCount() = 0;
    virtual int CurrentIndex() = 0;
    // Only called for indexes below the EntryCount read at the start of the run; a list that
    // shrank since must answer false for an index past its end.
    virtual bool IsSelected(int index) = 0;
    virtual std::string EntryText(int index) = 0;
    // The same list for reading from any thread, kept up to date by the host; null (the
    // default) sends every read of a worker to the host's thread.
    virtual const SharedListView* SharedSourceList() { return nullptr; }
    // Gives the source list the keyboard focus, selecting its first entry when asked.
    virtual void FocusSourceList(bool selectFirst) = 0;
    virtual void RefreshTargetList() = 0;
};

// The folders: chosen when missing, remembered when a run completes.
class RunFolders {
  public:
    virtual ~RunFolders() = default;
    virtual void ChooseSourceFolder() = 0;
    virtual void ChooseTargetFolder() = 0;
    virtual void AddRecentFolder(const std::string& folder) = 0;
    // Sets `LastSourceFolder` and stores it at once ("OZMMyHisPath").
    virtual void StoreLastSourceFolder(const std::string& folder) = 0;
};

// Everything the batch run asks of the main window. With a UiBridge every call but Options()
// and StopRequested() reaches the host on the window's thread; Options() is called on the
// worker and must be safe there (an OptionsSnapshot is).
class ConversionHost : public PipelineHost,
                       public MessageRole,
                       public RunLists,
                       public ProgressRole,
                       public RunFolders {
  public:
    void ShowMessage(const std::string& text) override = 0;
    void StepProgress() override = 0;
};

enum class RunState { Idle, Running, Stopping };

struct RunCounts {
    int converted = 0;
    int failed = 0;
};

// The run's state and the convert button's, always changed together.
struct RunStatus {
    RunState state = RunState::Idle;
    bool stopFace = false;  // the button shows "BtnStopImgConvert"
    int buttonTag = 0;      // 1 while a click would stop the run
};

class UiBridge;

class ConversionRun {
  public:
    // Batches run on the calling thread; the host's ProcessPendingWork keeps the window live.
    explicit ConversionRun(ConversionHost& host) : host_(host) {}
    // Batches run on a worker thread of the run's own; host calls go through `bridge`.
    ConversionRun(ConversionHost& host, UiBridge& bridge) : host_(host), bridge_(&bridge) {}
    // Stops a running batch at its next stop test and waits for it: no file is left
    // half-written. Closes the bridge first, so a worker waiting for an answer goes on.
    ~ConversionRun();
    ConversionRun(const ConversionRun&) = delete;
    ConversionRun& operator=(const ConversionRun&) = delete;

    // The convert button (and "转换所选图片(&C)"): starts a run, or asks a running one to
    // stop. Called on the window's thread.
    void BtnImgCovertClick();
    // The window is closing: a running batch stops at its next check.
    void FormCloseQuery();
    // Returns once no batch runs, running the bridge's calls meanwhile (window thread only).
    void Wait();
    // Called on the window's thread each time a batch has ended, after its last step.
    void SetFinishedHandler(std::function<void()> handler);

    // A stop was asked for and the run has not yet taken it (the delete loop of the file
    // actions ends on it too).
    bool StopRequested() const { return stopRequested_.load(); }
    RunState State() const;
    RunStatus Status() const;
    // Counts of the last finished (or stopped) run.
    RunCounts LastCounts() const;

  private:
    void StartWorker();
    void ConvertSelectedFiles(ConversionHost& host);
    void FinishBatch();
    bool TakeStop();

    ConversionHost& host_;
    UiBridge* bridge_ = nullptr;
    mutable std::mutex stateMutex_;
    std::condition_variable workerDone_;
    RunStatus status_;
    bool workerRunning_ = false;
    std::atomic<bool> stopRequested_{false};
    std::function<void()> onFinished_;
    std::thread worker_;
    mutable std::mutex countsMutex_;
    RunCounts counts_;
    Bitmap workBitmap_;
};

}  // namespace ozm
