#pragma once
// A one-at-a-time run on two cores. Each file is converted on a thread of its own: read from
// the disk, decoded, resized, rotated and encoded in each ticked format into unnamed files of
// the target folder. The next file starts once the current one has been read from the disk
// (two files are never read at once), so two files are in flight at most, each on one core
// from its first byte to its last. Only the run's thread reserves names, puts the encoded
// files in place and tells the host, file after file in the selection's order, exactly as a
// file converted at its turn would: a file's reader messages and failures are kept and told
// only then. A file the run does not take so (another file's turn, other resize or rotation
// settings, the file changed on disk, a stop) is dropped without a trace: its encoded files
// vanish unnamed, and at its turn it is converted there as always. A format whose options
// changed since it was encoded is encoded again at its turn.

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/convert/Pipeline.h"

namespace ozm {

// A file converted ahead: PrepareFile's answer and picture, the host calls it made, in order,
// and its formats encoded under no name yet.
struct PreparedFile {
    enum class Call { ReaderMessage, ReadFailed, ConvertFailed };
    FileOutcome outcome;
    Bitmap bitmap;
    std::vector<std::pair<Call, std::string>> calls;
    EncodedFormats encoded;

    // Makes the recorded calls on `host`, in the order they were made.
    void Replay(const std::string& source, PipelineHost& host) const;
};

class PrepareAhead {
  public:
    // `host` gives the default reader and resampler's thread count (TransformThreads) and is
    // asked nothing else from the converting threads; their other calls are recorded. A host
    // that replaces the reader or the resampler, or writes metadata, is not for this (the
    // command line's parallel jobs share the cores their own way). `stop` abandons the files
    // in flight. `enabled` false: nothing is converted ahead.
    PrepareAhead(const PipelineHost& host, const std::atomic<bool>& stop, bool enabled);
    // Abandons and waits for the files still in flight.
    ~PrepareAhead();
    PrepareAhead(const PrepareAhead&) = delete;
    PrepareAhead& operator=(const PrepareAhead&) = delete;

    bool Enabled() const { return enabled_; }
    // The file whose turn it is: started under `options` unless it is in flight already
    // (anything else in flight is dropped), and waited for until it has been read from the
    // disk.
    void Begin(const std::string& source, const ConversionOptions& options,
               const std::string& targetFolder);
    // The file after Begin's, started beside it.
    void StartNext(const std::string& source, const ConversionOptions& options,
                   const std::string& targetFolder);
    // The file converted ahead, waited for, when it is `source` prepared under the resize and
    // rotation of `options` and unchanged on disk since; otherwise nullopt, and whatever was
    // made of it is dropped.
    std::optional<PreparedFile> Take(const std::string& source, const ConversionOptions& options);
    // A bitmap the run is done with, whose memory the next file started may reuse.
    void Recycle(Bitmap&& bitmap) { spare_ = std::move(bitmap); }

  private:
    struct Lane {
        std::thread thread;
        std::string source;
        std::string targetFolder;
        ConversionOptions options;
        std::string stamp;  // the file's identity, size and modification time when started
        bool read = false;  // read from the disk (or ended); under mutex_
        std::atomic<bool> abandon{false};
        PreparedFile result;
    };

    void Start(Lane& lane, const std::string& source, const ConversionOptions& options,
               const std::string& targetFolder);
    void Run(Lane& lane);
    void Drop(Lane& lane);
    Lane* InFlight(const std::string& source);

    const PipelineHost& host_;
    const std::atomic<bool>& stop_;
    const bool enabled_;
    std::mutex mutex_;
    std::condition_variable readDone_;
    std::array<Lane, 2> lanes_;
    Bitmap spare_;
};

// ConvertOneFile with the file converted on PrepareAhead's threads, and the next file
// (`next`, when it names one) started beside it once this one has been read. The calls the
// host sees, and their order, are ConvertOneFile's.
FileOutcome ConvertOneFile(const std::string& source, const std::string& targetFolder,
                           Bitmap& workBitmap, PipelineHost& host, OutputNamer& namer,
                           PrepareAhead& ahead,
                           const std::function<std::optional<std::string>()>& next);

}  // namespace ozm
