// ozmconv: the headless batch converter. Same engine and same results as the desktop program.
//
//   ozmconv [--to LIST] [--out DIR] [--quality N] [--lossless] [--resize WxH|Wx|xH]
//           [--scale P] [--fit WxH|Wx|xH] [--filter nearest|box] [--auto-orient]
//           [--background COLOR] [--keep-metadata] [--colour-manage] [--rotate DEG[.HH]]
//           [--jobs N] [--threads N] [--null]
//           [--] FILE...  |  --files-from LIST  |  --files0-from LIST
//
// Exit status: 0 when every file was written in every format, 1 when anything failed,
// 2 on a usage error, 128 + the signal's number when SIGTERM, SIGINT or SIGHUP stopped it.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/convert/OutputNaming.h"
#include "app/convert/Pipeline.h"
#include "app/shell/ProductInfo.h"
#include "cli/NameList.h"
#include "core/bitmap/Bitmap.h"
#include "core/formats/ImageFormats.h"
#include "core/formats/PhotoRead.h"
#include "core/formats/io/FileBytes.h"
#include "core/parallel/ThreadBudget.h"
#include "core/text/TextRules.h"
#include "core/transforms/BoxResize.h"
#include "core/transforms/Resize.h"
#include "core/transforms/TransformArguments.h"

namespace {

using namespace ozm;

// The usage text around the --to list, which names the written formats.
constexpr std::string_view kUsageHead =
    "usage: ozmconv [options] [--] FILE...\n"
    "       ozmconv [options] --files-from LIST | --files0-from LIST\n"
    "  --to LIST         comma list of ";
constexpr std::string_view kUsageRest =
    "\n"
    "                    (default jpg)\n"
    "  --out DIR         folder for the converted files (default: each file's own folder)\n"
    "  --quality N       JPEG and WebP quality 1..100 (default 75)\n"
    "  --lossless        write WebP losslessly\n"
    "  --resize WxH      resize to W x H pixels; Wx or xH keep the proportions\n"
    "  --scale P         resize to P percent\n"
    "  --fit WxH         shrink into W x H keeping the proportions, never enlarging;\n"
    "                    Wx or xH bound one side only\n"
    "  --filter F        resampling of --resize, --scale and --fit: nearest (default) or\n"
    "                    box (area average, for photos)\n"
    "  --auto-orient     turn JPEG photos upright by their EXIF orientation\n"
    "  --background C    blend transparent PNG, GIF and WebP pixels onto colour C\n"
    "                    (#rrggbb, black, white, red, green, blue, yellow, cyan, magenta, gray)\n"
    "  --keep-metadata   keep the EXIF data (date, camera, GPS) and the colour profile of\n"
    "                    photos in JPEG, PNG and WebP outputs (TIFF: the profile)\n"
    "  --colour-manage   convert the colours of a photo with a colour profile to sRGB\n"
    "  --rotate DEG[.HH] rotate clockwise by degrees and hundredths (32.5 = 32 deg 50/100)\n"
    "  --jobs N          files converted at once (default: the number of cores)\n"
    "  --threads N       threads one image may use (default: the cores the jobs leave free)\n"
    "  --files-from L    convert the files named in file L, one a line (- reads stdin)\n"
    "  --files0-from L   the same with names ended by NUL bytes (find -print0)\n"
    "  --null            separate the written paths on stdout by NUL bytes, not newlines\n"
    "  --version         print the name and version\n"
    "  --help            print this text\n";

const std::string& Usage() {
    static const std::string kText = [] {
        std::string text(kUsageHead);
        for (const ImageFormat* row : WrittenFormats()) {
            if (row != WrittenFormats().front()) text += ", ";
            text += row->extension.substr(1);
        }
        return text + std::string(kUsageRest);
    }();
    return kText;
}

struct CliOptions {
    ConversionOptions conversion;
    // The command line's own reading and resampling; none of them set keeps the desktop
    // program's pipeline exactly.
    bool autoOrient = false;
    bool fit = false;
    int fitWidth = 0;  // 0: that side unbounded
    int fitHeight = 0;
    bool boxFilter = false;
    std::optional<RgbQuad> background;
    bool Extended() const { return autoOrient || fit || boxFilter || background; }
    // Neither changes the pixels' sizes: the resampler stays the desktop program's.
    bool keepMetadata = false;
    bool colourManage = false;
    bool PhotoReader() const { return Extended() || keepMetadata || colourManage; }
    std::string outFolder;  // empty: each file's own folder
    unsigned jobs = 0;
    int threads = 0;  // per image; 0: every core, as far as the thread budget allows
    bool nullSeparated = false;
    std::vector<std::string> files;
    std::string listFile;   // --files-from or --files0-from; "-" is stdin
    char listSeparator = '\n';
};

// The signal that asked the run to stop (SIGTERM, SIGINT, SIGHUP), 0 while none did.
volatile sig_atomic_t gStopSignal = 0;

void OnStopSignal(int signal) { gStopSignal = signal; }

void InstallSignalHandlers() {
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    // A second signal of the same kind ends the process at once; nothing half-written can be
    // left even then, since outputs only get their names when complete.
    stop.sa_flags = SA_RESETHAND;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(s, &stop, nullptr);
    // A file-size limit makes the write fail with EFBIG, reported for that file; a closed
    // stdout makes the print fail with EPIPE, reported at the end. Neither ends the batch.
    ::signal(SIGXFSZ, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
}

bool StopAsked() { return gStopSignal != 0; }

const char* SignalName(int signal) {
    switch (signal) {
        case SIGTERM:
            return "SIGTERM";
        case SIGINT:
            return "SIGINT";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

// Creates the folder and its parents; a usage error when something else has the name.
std::optional<std::string> PrepareOutFolder(const std::string& folder) {
    std::error_code ec;
    const std::filesystem::path path(folder);
    if (std::filesystem::is_directory(path, ec)) return std::nullopt;
    if (std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found &&
        !ec) {
        return "--out " + folder + " exists and is not a folder";
    }
    std::filesystem::create_directories(path, ec);
    if (ec) return "cannot create --out folder " + folder + ": " + SystemErrorText(ec.value());
    return std::nullopt;
}

int UsageError(const std::string& why) {
    std::fprintf(stderr, "ozmconv: %s\n%s", why.c_str(), Usage().c_str());
    return 2;
}

bool ParseFormats(std::string_view list, FormatTicks& formats) {
    formats.Clear();
    bool any = false;
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string item = AsciiLower(TrimControl(list.substr(0, comma)));
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        if (item.empty()) continue;
        // A format goes by its extension or its name ("tif" or "tiff").
        bool found = false;
        for (const ImageFormat* row : WrittenFormats()) {
            if (row->extension.substr(1) == item || AsciiLower(row->name) == item) {
                formats.Tick(row->code);
                found = any = true;
            }
        }
        if (!found) return false;
    }
    return any;
}

// --fit WxH, Wx or xH: each given side a whole number of at least 1.
std::optional<std::string> ParseFitArgument(std::string_view text, CliOptions& options) {
    const std::size_t x = text.find_first_of("xX");
    const std::optional<std::string> bad = "--fit needs WxH, Wx or xH";
    if (x == std::string_view::npos) return bad;
    const std::string_view w = text.substr(0, x), h = text.substr(x + 1);
    if (w.empty() && h.empty()) return bad;
    int sides[2] = {0, 0};
    const std::string_view parts[2] = {w, h};
    for (int i = 0; i < 2; ++i) {
        if (parts[i].empty()) continue;
        const auto n = ParseWholeNumber(parts[i]);
        if (!n || *n < 1) return bad;
        sides[i] = *n;
    }
    options.fit = true;
    options.fitWidth = sides[0];
    options.fitHeight = sides[1];
    return std::nullopt;
}

// Returns -1 when parsing succeeded, else the exit code.
int ParseArguments(int argc, char** argv, CliOptions& options) {
    options.conversion.formats.Tick(FormatCode::Jpg);
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (onlyFiles || arg.empty() || arg[0] != '-' || arg == "-") {
            options.files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage().c_str(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (arg == "--version") {
            std::printf("ozmconv %s\n", std::string(kProductVersionText).c_str());
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (arg == "--files-from" || arg == "--files0-from") {
            if (!options.listFile.empty()) return UsageError("only one list of files can be given");
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return UsageError(std::string(arg) + " needs a file");
            options.listFile = argv[++i];
            options.listSeparator = arg == "--files0-from" ? '\0' : '\n';
            continue;
        }
        if (arg == "--null") {
            options.nullSeparated = true;
            continue;
        }
        if (arg == "--auto-orient") {
            options.autoOrient = true;
            continue;
        }
        if (arg == "--keep-metadata") {
            options.keepMetadata = true;
            continue;
        }
        if (arg == "--colour-manage") {
            options.colourManage = true;
            continue;
        }
        if (arg == "--lossless") {
            options.conversion.lossless = true;
            continue;
        }
        const bool takesValue = arg == "--to" || arg == "--out" || arg == "--quality" ||
                                arg == "--resize" || arg == "--scale" || arg == "--rotate" ||
                                arg == "--jobs" || arg == "--fit" || arg == "--filter" ||
                                arg == "--background" || arg == "--threads";
        if (!takesValue) return UsageError("unknown option " + std::string(arg));
        if (i + 1 >= argc) return UsageError(std::string(arg) + " needs a value");
        const std::string_view value = argv[++i];
        std::optional<std::string> error;
        if (arg == "--to") {
            if (!ParseFormats(value, options.conversion.formats)) error = "bad --to list";
        } else if (arg == "--out") {
            // Taken as typed: a folder's name may begin or end with a blank.
            options.outFolder = value;
            if (options.outFolder.empty()) error = "--out needs a folder";
        } else if (arg == "--quality") {
            const auto q = ParseWholeNumber(value);
            if (!q || *q < 1 || *q > 100)
                error = "--quality needs a number 1..100";
            else
                options.conversion.jpegQuality = *q;
        } else if (arg == "--resize") {
            error = ApplyResizeArgument(value, options.conversion);
        } else if (arg == "--scale") {
            error = ApplyScaleArgument(value, options.conversion);
        } else if (arg == "--rotate") {
            error = ApplyRotateArgument(value, options.conversion);
        } else if (arg == "--fit") {
            error = ParseFitArgument(value, options);
        } else if (arg == "--filter") {
            if (value == "box" || value == "nearest")
                options.boxFilter = value == "box";
            else
                error = "--filter needs nearest or box";
        } else if (arg == "--background") {
            options.background = ParseColour(value);
            if (!options.background) error = "--background needs #rrggbb or a colour name";
        } else if (arg == "--jobs") {
            const auto n = ParseWholeNumber(value);
            if (!n || *n < 1 || *n > 256)
                error = "--jobs needs a number 1..256";
            else
                options.jobs = static_cast<unsigned>(*n);
        } else if (arg == "--threads") {
            const auto n = ParseWholeNumber(value);
            if (!n || *n < 1 || *n > 256)
                error = "--threads needs a number 1..256";
            else
                options.threads = *n;
        }
        if (error) return UsageError(*error);
    }
    if (options.fit && options.conversion.resizeMode != ResizeMode::None)
        return UsageError("--fit cannot be combined with --resize or --scale");
    if (!options.listFile.empty() && !options.files.empty())
        return UsageError("files cannot be given both on the command line and in a list");
    if (options.files.empty() && options.listFile.empty()) return UsageError("no files given");
    if (!options.outFolder.empty()) {
        if (const auto error = PrepareOutFolder(options.outFolder)) return UsageError(*error);
        if (options.outFolder.back() != '/') options.outFolder += '/';
    }
    if (options.jobs == 0) options.jobs = static_cast<unsigned>(MachineCores());
    if (options.threads == 0) options.threads = MachineCores();
    return -1;
}

// Output names for parallel jobs. Files take their names strictly in command-line order, and
// a name given to an earlier file counts as taken even before its file exists, so the names
// are exactly those of a one-at-a-time run.
class OrderedNaming {
  public:
    // Waits for file `index`'s turn, takes a name for each requested file name and ends the
    // turn. Every file must take its turn, with no names when it writes nothing.
    std::vector<std::optional<std::string>> ReserveInTurn(std::size_t index,
                                                          const std::string& folder,
                                                          const std::vector<std::string>& names) {
        std::vector<std::optional<std::string>> paths;
        {
            std::unique_lock lock(mutex_);
            turnChanged_.wait(lock, [&] { return turn_ == index; });
            for (const std::string& name : names) paths.push_back(TakeFree(folder, name));
            turn_ = index + 1;
        }
        turnChanged_.notify_all();
        return paths;
    }
    // A name given out earlier was found taken by another program when the file was put in
    // place: the next free one, outside the turn order (the order cannot be kept against a
    // program that does not share it).
    std::optional<std::string> ReserveAgain(const std::string& folder, const std::string& name) {
        std::lock_guard lock(mutex_);
        return TakeFree(folder, name);
    }
    // A written file holds its name on disk, so its reservation can go: the set only ever
    // holds the names of files in flight, however long the batch.
    void Release(const std::string& path) {
        std::lock_guard lock(mutex_);
        reserved_.erase(path);
    }

  private:
    std::optional<std::string> TakeFree(const std::string& folder, const std::string& name) {
        auto path = MakeUniqueOutputPath(folder, name, [this](const std::string& candidate) {
            return reserved_.count(candidate) > 0 || IsNameTaken(candidate);
        });
        if (path) reserved_.insert(*path);
        return path;
    }

    std::mutex mutex_;
    std::condition_variable turnChanged_;
    std::size_t turn_ = 0;
    std::set<std::string> reserved_;
};

// The names of file `index`, all taken in its turn once the file is ready to be written, then
// handed to the pipeline format by format. A file that ends before its writes (unreadable,
// failed) still takes its turn, without names, when its namer goes away, so that it can never
// hold up the files after it.
class TurnNamer : public OutputNamer {
  public:
    TurnNamer(OrderedNaming& naming, std::size_t index, const FormatTicks& formats)
        : naming_(naming), index_(index), formats_(formats) {}
    ~TurnNamer() override {
        if (!tookTurn_) naming_.ReserveInTurn(index_, {}, {});
    }
    TurnNamer(const TurnNamer&) = delete;
    TurnNamer& operator=(const TurnNamer&) = delete;

    void BeginFile(const std::string& baseOutputPath) override {
        std::string folder;
        std::vector<std::string> names;
        for (const ImageFormat* row : WrittenFormats()) {
            if (!formats_.Ticked(row->code)) continue;
            OutputName named = OutputNameFor(baseOutputPath, row->extension);
            folder = std::move(named.folder);
            names.push_back(std::move(named.name));
        }
        const auto paths = naming_.ReserveInTurn(index_, folder, names);
        tookTurn_ = true;
        for (std::size_t k = 0; k < names.size(); ++k) byName_[folder + names[k]] = paths[k];
    }
    std::optional<std::string> Reserve(std::string_view folder,
                                       std::string_view fileName) override {
        const auto it = byName_.find(std::string(folder) + std::string(fileName));
        return it == byName_.end() ? std::nullopt : it->second;
    }
    std::optional<std::string> ReserveAgain(std::string_view folder,
                                            std::string_view fileName) override {
        return naming_.ReserveAgain(std::string(folder), std::string(fileName));
    }

  private:
    OrderedNaming& naming_;
    std::size_t index_;
    FormatTicks formats_;
    bool tookTurn_ = false;
    std::map<std::string, std::optional<std::string>> byName_;
};

// What one file printed, kept until the files before it have printed theirs.
struct FileReport {
    std::string out;
    std::string err;
    bool ok = false;
    int written = 0;
};

// How paths appear in what the program prints.
struct PrintStyle {
    bool escapeOut = false;  // stdout is a terminal
    bool escapeErr = false;  // stderr is a terminal
    char separator = '\n';   // after each written path on stdout
    std::string Out(const std::string& path) const {
        return escapeOut ? EscapeForTerminal(path) : path;
    }
    std::string Err(const std::string& path) const {
        return escapeErr ? EscapeForTerminal(path) : path;
    }
};

// The size the resize options make of an upright picture of width x height.
ResizeTarget ExtendedTarget(const CliOptions& options, int width, int height) {
    if (options.fit) {
        const FitSize fit = ComputeFitSize(width, height, options.fitWidth, options.fitHeight);
        return {fit.resample, fit.width, fit.height};
    }
    return ComputeResizeTarget(width, height, options.conversion);
}

// The pipeline's host for one file: what it prints goes to the file's report. The photo
// options (orientation, background, --fit, --filter) replace the reader and the resampler,
// the metadata options (--keep-metadata, --colour-manage) the reader; without them the
// pipeline is the desktop program's, exactly.
class CliPipelineHost : public PipelineHost {
  public:
    CliPipelineHost(const CliOptions& options, const std::string& source, FileReport& report,
                    const PrintStyle& style, OrderedNaming& naming)
        : options_(options), source_(source), report_(report), style_(style), naming_(naming) {}

    ConversionOptions Options() override { return options_.conversion; }
    int TransformThreads() const override { return options_.threads; }
    bool StopRequested() override { return StopAsked(); }
    bool ReadSource(const std::string& source, Bitmap& bitmap, std::string* reason) override;
    bool Resample(Bitmap& bitmap, const ConversionOptions& options, std::string* reason) override;
    const PhotoMetadata* WrittenMetadata(const Bitmap& bitmap) override;

    void ReaderMessage(const std::string& text) override {
        report_.err += "ozmconv: " + style_.Err(source_) + ": " + text + "\n";
    }
    void ReadFailed(const std::string& source, const std::string& reason) override {
        report_.err += "ozmconv: cannot read " + style_.Err(source) + ": " + reason + "\n";
    }
    void ConvertFailed(const std::string& source, const std::string& reason) override {
        report_.err += "ozmconv: cannot convert " + style_.Err(source) + ": " + reason + "\n";
    }
    void FileWritten(const std::string& path) override {
        report_.out += style_.Out(path);
        report_.out += style_.separator;
        ++report_.written;
        naming_.Release(path);
    }
    void WriteFailed(const std::string& path, const std::string& reason) override {
        report_.err += "ozmconv: cannot write " + style_.Err(path) + ": " + reason + "\n";
    }

  private:
    const CliOptions& options_;
    const std::string& source_;
    FileReport& report_;
    const PrintStyle& style_;
    OrderedNaming& naming_;
    // The upright picture's size before any reduced decoding: the resize target is always
    // taken from it, whatever size the reader decoded at.
    int fullWidth_ = 0;
    int fullHeight_ = 0;
    PhotoReadResult read_;      // its metadata as read
    PhotoMetadata written_;     // as the written picture's files carry it
    bool writtenMade_ = false;  // written_ made for this file
};

bool CliPipelineHost::ReadSource(const std::string& source, Bitmap& bitmap, std::string* reason) {
    if (!options_.PhotoReader()) return PipelineHost::ReadSource(source, bitmap, reason);
    PhotoReadOptions read;
    read.autoOrient = options_.autoOrient;
    read.background = options_.background;
    read.keepMetadata = options_.keepMetadata;
    read.colourManage = options_.colourManage;
    if (options_.boxFilter) {
        // A JPEG is decoded at the smallest reduction still above the target size.
        read.neededSize = [this](int w, int h) -> std::optional<std::pair<int, int>> {
            const ResizeTarget t = ExtendedTarget(options_, w, h);
            if (!t.resample || !IsAcceptableImageSize(t.width, t.height)) return std::nullopt;
            return std::pair{static_cast<int>(t.width), static_cast<int>(t.height)};
        };
    }
    const MessageCallback onMessage = [this](const std::string& text) { ReaderMessage(text); };
    const bool ok = ReadPhoto(source, bitmap, read, onMessage, reason, &read_);
    fullWidth_ = read_.fullWidth;
    fullHeight_ = read_.fullHeight;
    writtenMade_ = false;
    return ok;
}

const PhotoMetadata* CliPipelineHost::WrittenMetadata(const Bitmap& bitmap) {
    if (!options_.keepMetadata) return nullptr;
    if (!writtenMade_) {
        writtenMade_ = true;
        written_ = read_.metadata;
        if (!written_.exif.empty()) {
            // The thumbnail shows the stored picture: it goes when the pixels were turned,
            // resized or rotated.
            const bool moved = read_.orientation != 1 || options_.conversion.rotateDegrees > 0 ||
                               bitmap.Width() != fullWidth_ || bitmap.Height() != fullHeight_;
            ExifChanges changes;
            if (read_.upright) changes.orientation = 1;
            changes.width = bitmap.Width();
            changes.height = bitmap.Height();
            changes.dropThumbnail = moved;
            if (!ChangeExif(written_.exif, changes)) {
                written_.exif.clear();
                ReaderMessage("damaged EXIF data not kept");
            }
            if (written_.exif.size() > kMaxJpegExifBytes &&
                (options_.conversion.formats.Ticked(FormatCode::Jpg) ||
                 options_.conversion.formats.Ticked(FormatCode::Jpeg))) {
                ReaderMessage("EXIF block too large for a JPEG file, left out there");
            }
        }
    }
    return written_.Empty() ? nullptr : &written_;
}

bool CliPipelineHost::Resample(Bitmap& bitmap, const ConversionOptions& options,
                               std::string* reason) {
    if (!options_.Extended()) return PipelineHost::Resample(bitmap, options, reason);
    // A target side below 1 leaves the image as it is, as the resize rules say.
    const ResizeTarget target = ExtendedTarget(options_, fullWidth_, fullHeight_);
    if (!target.resample || target.width < 1 || target.height < 1) return true;
    if (!IsAcceptableImageSize(target.width, target.height)) {
        return Refuse(reason, "cannot resize: " + ImageSizeReason(target.width, target.height));
    }
    Bitmap resized;
    const int w = static_cast<int>(target.width), h = static_cast<int>(target.height);
    const bool ok = options_.boxFilter ? BoxResampleTo24(bitmap, resized, w, h, TransformThreads())
                                       : PointSampleTo24(bitmap, resized, w, h);
    if (!ok) return Refuse(reason, "cannot resize: out of memory");
    bitmap = std::move(resized);
    return true;
}

class Converter {
  public:
    Converter(const CliOptions& options, NameList& names) : options_(options), names_(names) {
        showProgress_ = ::isatty(STDERR_FILENO) == 1;
        style_.escapeErr = showProgress_;
        style_.escapeOut = ::isatty(STDOUT_FILENO) == 1 && !options.nullSeparated;
        if (options.nullSeparated) style_.separator = '\0';
    }

    void Run() {
        const std::optional<std::size_t> total = names_.Total();
        const unsigned jobs =
            total ? std::min<unsigned>(options_.jobs, static_cast<unsigned>(*total))
                  : options_.jobs;
        std::vector<std::thread> workers;
        for (unsigned j = 1; j < jobs; ++j) workers.emplace_back([this] { Work(); });
        Work();
        for (auto& w : workers) w.join();
        if (showProgress_) std::fputs("\r\033[K", stderr);
    }

    int Converted() const { return converted_; }
    int Failed() const { return static_cast<int>(printed_) - converted_; }
    // Nothing when a list was left unread, as after a stop.
    std::optional<std::size_t> NotStarted() const {
        const auto total = names_.Total();
        if (!total) return std::nullopt;
        return *total - printed_;
    }
    int Written() const { return written_; }
    // The first error a print to stdout hit (EPIPE, ENOSPC ...), 0 when none.
    int StdoutError() const { return stdoutError_; }
    // Why the list of files could not be read to its end; empty when it could.
    const std::string& ListError() const { return listError_; }

  private:
    // Finished files wait for the ones before them to print; a worker that runs this far ahead
    // of the oldest file still in hand waits too, so the waiting reports stay few.
    static constexpr std::size_t kMaxAhead = 4096;

    struct Taken {
        std::size_t index;
        std::string source;
        std::string nameError;  // a name the list could not give whole
    };

    // The next file in list order, or nothing at the end or after a stop.
    std::optional<Taken> Take() {
        std::unique_lock lock(takeMutex_);
        printedChanged_.wait(lock, [&] { return next_ - printed_ < kMaxAhead || StopAsked(); });
        if (StopAsked()) return std::nullopt;
        Taken taken;
        std::string error;
        std::optional<std::string> name = names_.Next(&error);
        if (!name) {
            if (!error.empty()) listError_ = error;
            return std::nullopt;
        }
        taken.index = next_++;
        taken.source = std::move(*name);
        taken.nameError = std::move(error);
        return taken;
    }

    void Work() {
        // Each job keeps a core of the budget for itself; the bands of its images borrow only
        // the cores no job holds (all of them once the other jobs have run out of files).
        const BudgetShare core(ThreadBudget::Process(), 1);
        Bitmap bitmap;  // each worker its own
        // A stop is honoured before each file: indexes are taken in order, so every file
        // before a taken one is being converted by some worker and takes its naming turn.
        while (std::optional<Taken> file = Take()) {
            FileReport report;
            if (file->nameError.empty()) {
                ConvertFile(file->index, file->source, bitmap, report);
            } else {
                naming_.ReserveInTurn(file->index, {}, {});
                report.err = "ozmconv: " + file->nameError + "\n";
            }
            Finish(file->index, std::move(report));
        }
    }

    // One file through the pipeline, into its report. The namer's turn ends before the
    // report is printed.
    void ConvertFile(std::size_t index, const std::string& source, Bitmap& bitmap,
                     FileReport& report) {
        CliPipelineHost host(options_, source, report, style_, naming_);
        TurnNamer namer(naming_, index, options_.conversion.formats);
        const FileOutcome outcome =
            ConvertOneFile(source, OutputFolder(source), bitmap, host, namer);
        report.ok = outcome.Converted();
    }

    std::string OutputFolder(const std::string& source) const {
        if (!options_.outFolder.empty()) return options_.outFolder;
        const std::string own(ExtractFilePath(source));
        return own.empty() ? "./" : own;
    }

    // Prints the reports of every finished file whose predecessors have printed, so that the
    // output is in list order whatever the number of jobs.
    void Finish(std::size_t index, FileReport report) {
        {
            std::lock_guard lock(printMutex_);
            waiting_.emplace(index, std::move(report));
            for (auto it = waiting_.begin(); it != waiting_.end() && it->first == printed_;
                 it = waiting_.erase(it)) {
                Print(it->second);
                ++printed_;
            }
            if (std::fflush(stdout) != 0 && stdoutError_ == 0)
                stdoutError_ = errno != 0 ? errno : EIO;
            if (showProgress_) ShowProgress();
        }
        // Taken and released so that a worker between its test and its wait cannot miss this.
        { std::lock_guard lock(takeMutex_); }
        printedChanged_.notify_all();
    }

    void Print(const FileReport& r) {
        if (showProgress_) std::fputs("\r\033[K", stderr);
        if (!r.out.empty() && std::fwrite(r.out.data(), 1, r.out.size(), stdout) != r.out.size() &&
            stdoutError_ == 0) {
            stdoutError_ = errno != 0 ? errno : EIO;
        }
        std::fputs(r.err.c_str(), stderr);
        converted_ += r.ok ? 1 : 0;
        written_ += r.written;
    }

    void ShowProgress() {
        std::lock_guard lock(takeMutex_);
        const std::optional<std::size_t> total = names_.Total();
        if (!total) {
            std::fprintf(stderr, "\r%zu done", printed_.load());
        } else if (*total > 0) {
            const int width = 30;
            const int filled = static_cast<int>(printed_ * width / *total);
            std::fprintf(stderr, "\r[%.*s%*s] %zu/%zu", filled, "##############################",
                         width - filled, "", printed_.load(), *total);
        }
        std::fflush(stderr);
    }

    const CliOptions& options_;
    NameList& names_;
    std::mutex takeMutex_;  // the list, next_ and listError_
    std::condition_variable printedChanged_;
    std::size_t next_ = 0;
    std::string listError_;
    OrderedNaming naming_;
    std::mutex printMutex_;
    std::map<std::size_t, FileReport> waiting_;
    std::atomic<std::size_t> printed_{0};
    int converted_ = 0;
    int written_ = 0;
    int stdoutError_ = 0;
    bool showProgress_ = false;
    PrintStyle style_;
};

// Opens the list of --files-from / --files0-from; stdin for "-". -1 with errno set on failure.
int OpenList(const std::string& name) {
    if (name == "-") return STDIN_FILENO;
    return ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
}

}  // namespace

int main(int argc, char** argv) {
    InstallSignalHandlers();
    CliOptions options;
    if (const int code = ParseArguments(argc, argv, options); code >= 0) return code;
    int list = -1;
    if (!options.listFile.empty()) {
        list = OpenList(options.listFile);
        if (list < 0) {
            std::fprintf(stderr, "ozmconv: cannot read %s: %s\n", options.listFile.c_str(),
                         SystemErrorText(errno).c_str());
            return 2;
        }
    }
    NameList names = list >= 0 ? NameList(list, options.listSeparator, options.listFile, StopAsked)
                               : NameList(std::move(options.files));
    const auto start = std::chrono::steady_clock::now();
    Converter converter(options, names);
    converter.Run();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (list > STDIN_FILENO) ::close(list);
    const int stopSignal = gStopSignal;
    if (stopSignal != 0) {
        if (const auto notStarted = converter.NotStarted()) {
            std::fprintf(stderr, "ozmconv: stopped by %s; %zu files not started\n",
                         SignalName(stopSignal), *notStarted);
        } else {
            std::fprintf(stderr, "ozmconv: stopped by %s; the rest of the list not started\n",
                         SignalName(stopSignal));
        }
    }
    // A read of the list that a stop interrupted is no fault of the list.
    if (stopSignal == 0 && !converter.ListError().empty())
        std::fprintf(stderr, "ozmconv: %s\n", converter.ListError().c_str());
    std::fprintf(stderr, "ozmconv: %d converted, %d failed, %d files written, %.2f s\n",
                 converter.Converted(), converter.Failed(), converter.Written(), seconds);
    if (converter.StdoutError() != 0) {
        std::fprintf(stderr, "ozmconv: cannot write to standard output: %s\n",
                     SystemErrorText(converter.StdoutError()).c_str());
    }
    if (stopSignal != 0) return 128 + stopSignal;
    const bool ok = converter.Failed() == 0 && converter.StdoutError() == 0 &&
                    converter.ListError().empty();
    return ok ? 0 : 1;
}
