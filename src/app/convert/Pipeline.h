#pragma once
// The conversion of one file: read, resize, rotate, then one write per ticked format. The
// batch run, the quick conversion and the command line all run it; what differs between them
// (the reader, the resampler, the stop tests, the messages, the output names) is asked of
// their PipelineHost and OutputNamer.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/convert/ConversionOptions.h"
#include "core/bitmap/Bitmap.h"
#include "core/formats/PhotoMetadata.h"
#include "core/formats/io/OutputFile.h"
#include "core/transforms/TransformHost.h"

namespace ozm {

// Where the output names come from. The plain namer asks the file system; the command line's
// parallel jobs use one that also counts names reserved by other jobs as taken.
class OutputNamer {
  public:
    virtual ~OutputNamer() = default;
    // Called once per file, before its first format, with the path the file's outputs are
    // named after (target folder + source name); each format changes its extension.
    virtual void BeginFile(const std::string& baseOutputPath) {}
    // The path to write folder + fileName to (numbered when taken), or nullopt when every
    // numbered name is taken.
    virtual std::optional<std::string> Reserve(std::string_view folder, std::string_view fileName);
    // The name given for folder + fileName turned out to be taken when the finished file was
    // put in place (another program took it): the next free one, or nullopt.
    virtual std::optional<std::string> ReserveAgain(std::string_view folder,
                                                    std::string_view fileName);
};

// The folder and file name a format's output of `baseOutputPath` asks for.
struct OutputName {
    std::string folder;
    std::string name;
};
OutputName OutputNameFor(const std::string& baseOutputPath, std::string_view extension);

// What the pipeline asks of whoever runs it. All calls come from the thread that runs the
// pipeline; a window that runs it on a worker thread passes them on to its own thread.
class PipelineHost : public TransformHost {
  public:
    // The options as they stand now: read again for every file and every format, so that a
    // change made during a run applies from the next format or file.
    virtual ConversionOptions Options() = 0;

    // The reader: decodes `source` into `bitmap`, or answers false with `reason`. By default
    // ReadImageFile, its messages to ReaderMessage.
    virtual bool ReadSource(const std::string& source, Bitmap& bitmap, std::string* reason);
    // The resampler: the bitmap resized as `options` say (or left as it is). False, with
    // `reason`, when the result cannot exist or cannot be allocated. By default point sampling.
    virtual bool Resample(Bitmap& bitmap, const ConversionOptions& options, std::string* reason);

    // The EXIF block and colour profile the files written from `bitmap` (the picture as it is
    // written) carry; null: none, as the desktop program writes. Asked before each format.
    virtual const PhotoMetadata* WrittenMetadata(const Bitmap& bitmap) { return nullptr; }

    // Checked between formats: true ends the file's remaining formats.
    virtual bool StopRequested() { return false; }
    // Checked after the read, the resize and the rotation: true drops the file unwritten.
    virtual bool StopBeforeWriting() { return false; }

    // A reader's own message (the TIFF reader's refusals).
    virtual void ReaderMessage(const std::string& text) {}
    // The source could not be read; the file ends there.
    virtual void ReadFailed(const std::string& source, const std::string& reason) {}
    // A resize or rotation could not be done, or something was thrown: the file fails.
    virtual void ConvertFailed(const std::string& source, const std::string& reason) {}
    // The bitmap is ready; the first format is written next.
    virtual void WritingFile(const std::string& source) {}
    // One output file was written.
    virtual void FileWritten(const std::string& path) {}
    // One format of a file could not be written; `path` is the name tried, or the plain name
    // when no numbered name was free; `reason` says why in a few words.
    virtual void WriteFailed(const std::string& path, const std::string& reason) {}
};

struct FileOutcome {
    bool read = false;     // the source was decoded, resized and rotated
    int written = 0;       // formats written
    int failed = 0;        // ticked formats not written
    bool stopped = false;  // a stop request ended the file early
    std::string reason;    // why the file failed before any format was tried
    bool Converted() const { return read && failed == 0; }
};

// One format of a file encoded before its turn, into an unnamed file of the target folder:
// put in place at the file's turn when the options then still ask for it as it was encoded.
struct EncodedFormat {
    ImageFormatCode code = 0;
    int jpegQuality = 0;
    bool lossless = false;
    std::string baseOutputPath;
    std::unique_ptr<OutputFile> file;
};
using EncodedFormats = std::vector<EncodedFormat>;

// Encodes the bitmap in every format `options` tick, as SaveInTickedFormats would write it
// without metadata, on up to `threads` threads. A format that cannot be encoded is left out
// (written at its turn, which reports why); `stop` is asked before each format.
EncodedFormats EncodeTickedFormats(const Bitmap& bitmap, const std::string& baseOutputPath,
                                   const ConversionOptions& options, int threads,
                                   const std::function<bool()>& stop);

// Writes the bitmap once per ticked format, in the fixed format order, under the base
// output path's name with each format's extension (numbered when taken, never replacing a
// file). After every format but the last, a stop request ends the file. A format found in
// `encoded` as the options ask for it now is put in place instead of being encoded again.
FileOutcome SaveInTickedFormats(const Bitmap& bitmap, const std::string& baseOutputPath,
                                PipelineHost& host, OutputNamer& namer,
                                EncodedFormats* encoded = nullptr);

// The file's first stage: read `source` into `bitmap`, then resize and rotate it as `options`
// say. `read` in the answer: the bitmap is ready to be written; otherwise the host was told
// why (ReadFailed, ConvertFailed) or a stop dropped the file. A transform that cannot be done
// fails the file: writing the unchanged image would report success for what the user did not
// ask for. Asks the host nothing but its reader, resampler, stop test, messages and transform
// steps, so it may run on a thread of its own against a host made for that (see
// PrepareAhead). Never throws: anything thrown fails the file with its reason.
FileOutcome PrepareFile(const std::string& source, const ConversionOptions& options,
                        Bitmap& bitmap, PipelineHost& host);

// The second stage: WritingFile, then the ticked formats into `targetFolder` (ending in "/")
// under the source's name.
FileOutcome WritePreparedFile(const std::string& source, const std::string& targetFolder,
                              const Bitmap& bitmap, PipelineHost& host, OutputNamer& namer,
                              EncodedFormats* encoded = nullptr);

// The base output path of `source` in `targetFolder` (ending in "/"): the folder and the
// source's file name, whose extension each format changes.
std::string BaseOutputPath(const std::string& source, const std::string& targetFolder);

// The whole pipeline for one file: one progress step, both stages with the options read at
// the file's turn. Never throws: anything thrown while converting the file fails that file,
// with the reason, and nothing else.
FileOutcome ConvertOneFile(const std::string& source, const std::string& targetFolder,
                           Bitmap& workBitmap, PipelineHost& host, OutputNamer& namer);

// Called from a catch block of a file's conversion: the file fails with the reason of what was
// thrown, and the bitmap, which may be half-made, is dropped so that the next file starts anew.
FileOutcome FailThrown(const std::string& source, Bitmap& workBitmap, PipelineHost& host);

}  // namespace ozm
