#pragma once
// The batch conversion: every selected file of the source list through the pipeline (read,
// resize, rotate, one write per ticked format), with the stop rules, hints and progress of the
// convert button, on a Worker of its own when the window gives it a bridge.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "app/convert/ConversionHost.h"
#include "app/convert/SharedListView.h"
#include "app/convert/Worker.h"
#include "core/bitmap/Bitmap.h"

namespace ozm {

inline constexpr std::string_view kChooseBothFoldersMessage = "请选择源文件夹和目标文件夹";
inline constexpr std::string_view kChooseTargetFolderMessage = "请选择目标文件夹";
inline constexpr std::string_view kSelectImageMessage = "请选择一个图片";
inline constexpr std::string_view kNotSupportedMessage = "Not support image type.";
inline constexpr std::string_view kPleaseWaitMessage = "Please waiting for a while.";
inline constexpr std::string_view kConvertedHint = "成功转换";
inline constexpr std::string_view kFailedHint = "转换失败";
// Why a selected entry was not converted when its file was gone by the time the run reached it.
inline constexpr std::string_view kFileNotFoundReason = "file not found";
inline constexpr std::string_view kStopHint = "Stop";
inline constexpr std::string_view kAllDoneHint = "所有转换已完成，请查看“转换后图片列表”";

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
class RunPipeline;

using ClickClock = std::chrono::steady_clock;

// When an input event was made that the window system stamped `stamp` (milliseconds) and that
// is handled at `handled`. X servers and Wayland compositors stamp their events with the
// monotonic clock the steady clock reads, in milliseconds cut to 32 bits; a stamp that reads
// so as made within the last ten minutes is taken as it reads. Any other stamp (a clock of
// its own, as synthetic events have) counts as made when handled.
ClickClock::time_point InputEventMade(std::uint64_t stamp, ClickClock::time_point handled);

class ConversionRun {
  public:
    // Batches run on the calling thread; the host's ProcessPendingWork keeps the window live.
    explicit ConversionRun(ConversionHost& host) : host_(host), worker_(nullptr) {}
    // Batches run on a worker thread of the run's own; host calls go through `bridge`.
    ConversionRun(ConversionHost& host, UiBridge& bridge)
        : host_(host), bridge_(&bridge), worker_(&bridge) {}
    // Stops a running batch at its next stop test and waits for it: no file is left
    // half-written. Closes the bridge first, so a worker waiting for an answer goes on.
    ~ConversionRun();
    ConversionRun(const ConversionRun&) = delete;
    ConversionRun& operator=(const ConversionRun&) = delete;

    // The convert button (and "转换所选图片(&C)"), clicked at `madeAt`: starts a run, or asks
    // a running one to stop. A click made before the last run ended was meant for that run (it
    // waited in the queue while the window was busy) and is ignored: a new run needs a click
    // made once the button shows it is idle. Called on the window's thread.
    void BtnImgCovertClick(ClickClock::time_point madeAt = ClickClock::now());
    // The window is closing: a running batch stops at its next check.
    void FormCloseQuery();
    // Returns once no batch runs, running the bridge's calls meanwhile (window thread only).
    void Wait();
    // Called on the window's thread each time a batch has ended, after its last step.
    void SetFinishedHandler(std::function<void()> handler);

    // A stop was asked for and the run has not yet taken it (the delete loop of the file
    // actions ends on it too).
    bool StopRequested() const { return worker_.StopRequested(); }
    RunState State() const;
    RunStatus Status() const;
    // Counts of the last finished (or stopped) run.
    RunCounts LastCounts() const;

  private:
    void StartWorker();
    void ConvertSelectedFiles(ConversionHost& host);
    // Converts selected entry `index`; returns the entry's path. A file gone since it was
    // listed counts as failed.
    std::string ConvertEntry(ConversionHost& host, RunPipeline& pipeline, int index);
    void CountFile(bool converted);
    void CloseRun(ConversionHost& host, const std::string& lastSourcePath);
    void FinishBatch();
    bool TakeStop();

    ConversionHost& host_;
    UiBridge* bridge_ = nullptr;
    // The run's state and the stop flag change under this lock, together.
    mutable std::mutex stateMutex_;
    RunStatus status_;
    // When the button last showed the idle face after a run.
    ClickClock::time_point idleSince_{};
    std::function<void()> onFinished_;
    mutable std::mutex countsMutex_;
    RunCounts counts_;
    Bitmap workBitmap_;
    // Last, so that it is joined before anything its job uses goes away.
    Worker worker_;
};

}  // namespace ozm
