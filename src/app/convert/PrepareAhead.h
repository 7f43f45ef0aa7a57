#pragma once
// The next file of a one-at-a-time run read, decoded, resized and rotated on a thread of its
// own while the current one is encoded and written, so that one file's decode and the
// other's encode share the cores. One file is prepared ahead at most, and only once the
// current one has left its first stage. A file prepared ahead stands exactly for the first
// stage the run would have made at its turn: its reader's messages and its failure are kept
// and told to the run's host only then, in the selection's order; a file the run does not
// take so (another file's turn, other resize or rotation settings, the file changed on disk,
// a stop) is dropped without a trace and, when its turn comes, prepared there as always.

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/convert/Pipeline.h"

namespace ozm {

// A file's first stage made ahead: PrepareFile's answer and picture, and the host calls it
// made, in order.
struct PreparedFile {
    enum class Call { ReaderMessage, ReadFailed, ConvertFailed };
    FileOutcome outcome;
    Bitmap bitmap;
    std::vector<std::pair<Call, std::string>> calls;

    // Makes the recorded calls on `host`, in the order they were made.
    void Replay(const std::string& source, PipelineHost& host) const;
};

class PrepareAhead {
  public:
    // `host` gives the default reader and resampler's thread count (TransformThreads) and is
    // asked nothing else from the preparing thread; its other calls are recorded. A host that
    // replaces the reader or the resampler is not for this (the command line's parallel jobs
    // share the cores their own way). `stop` abandons a file being prepared. `enabled` false:
    // nothing is ever prepared ahead.
    PrepareAhead(const PipelineHost& host, const std::atomic<bool>& stop, bool enabled);
    // Abandons and waits for a file still being prepared.
    ~PrepareAhead();
    PrepareAhead(const PrepareAhead&) = delete;
    PrepareAhead& operator=(const PrepareAhead&) = delete;

    bool Enabled() const { return enabled_; }
    // Starts preparing `source` under `options`, after any earlier file has been dropped.
    // Without a thread to be had, nothing is prepared ahead.
    void Start(const std::string& source, const ConversionOptions& options);
    // The file prepared ahead, waited for, when it is `source` prepared under the resize and
    // rotation of `options` and unchanged on disk since; otherwise nullopt, and whatever was
    // prepared is dropped.
    std::optional<PreparedFile> Take(const std::string& source, const ConversionOptions& options);

  private:
    void Drop();

    const PipelineHost& host_;
    const std::atomic<bool>& stop_;
    const bool enabled_;
    std::atomic<bool> abandon_{false};
    std::thread thread_;
    std::string source_;
    ConversionOptions options_;
    std::string stamp_;  // the file's identity, size and modification time when started
    PreparedFile result_;
};

// ConvertOneFile with the first stage taken from `ahead` when it prepared this very file, and
// the next file (`next`, when it names one) started ahead once this one has left its first
// stage. The calls the host sees, and their order, are ConvertOneFile's.
FileOutcome ConvertOneFile(const std::string& source, const std::string& targetFolder,
                           Bitmap& workBitmap, PipelineHost& host, OutputNamer& namer,
                           PrepareAhead& ahead,
                           const std::function<std::optional<std::string>()>& next);

}  // namespace ozm
