// ozmconv: the headless batch converter. Same engine and same results as the desktop program.
//
//   ozmconv [--to LIST] [--out DIR] [--quality N] [--resize WxH|Wx|xH] [--scale P]
//           [--rotate DEG[.HH]] [--jobs N] [--] FILE...
//
// Exit status: 0 when every file was written in every format, 1 when anything failed,
// 2 on a usage error.

#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/convert/ConversionRun.h"
#include "app/convert/OutputNaming.h"
#include "core/bitmap/Bitmap.h"
#include "core/formats/ImageFormats.h"
#include "core/text/TextRules.h"
#include "core/transforms/TransformArguments.h"

namespace {

using namespace ozm;

constexpr const char* kUsage =
    "usage: ozmconv [options] [--] FILE...\n"
    "  --to LIST         comma list of bmp, jpg, jpeg, png, emf, wmf, gif, tif (default jpg)\n"
    "  --out DIR         folder for the converted files (default: each file's own folder)\n"
    "  --quality N       JPEG quality 1..100 (default 75)\n"
    "  --resize WxH      resize to W x H pixels; Wx or xH keep the proportions\n"
    "  --scale P         resize to P percent\n"
    "  --rotate DEG[.HH] rotate clockwise by degrees and hundredths (32.5 = 32 deg 50/100)\n"
    "  --jobs N          files converted at once (default: the number of cores)\n";

struct CliOptions {
    ConversionOptions conversion;
    std::string outFolder;  // empty: each file's own folder
    unsigned jobs = 0;
    std::vector<std::string> files;
};

int UsageError(const std::string& why) {
    std::fprintf(stderr, "ozmconv: %s\n%s", why.c_str(), kUsage);
    return 2;
}

bool ParseFormats(std::string_view list, std::array<bool, 8>& formats) {
    formats.fill(false);
    bool any = false;
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string item = AsciiLower(TrimControl(list.substr(0, comma)));
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        if (item.empty()) continue;
        const std::string_view name = item == "tiff" ? std::string_view("tif") : item;
        bool found = false;
        const auto& table = OutputFormatTable();
        for (std::size_t i = 0; i < table.size(); ++i) {
            if (table[i].extension.substr(1) == name) formats[i] = found = any = true;
        }
        if (!found) return false;
    }
    return any;
}

// Returns -1 when parsing succeeded, else the exit code.
int ParseArguments(int argc, char** argv, CliOptions& options) {
    options.conversion.formats[1] = true;  // JPG
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
            std::fputs(kUsage, stdout);
            return 0;
        }
        const bool takesValue = arg == "--to" || arg == "--out" || arg == "--quality" ||
                                arg == "--resize" || arg == "--scale" || arg == "--rotate" ||
                                arg == "--jobs";
        if (!takesValue) return UsageError("unknown option " + std::string(arg));
        if (i + 1 >= argc) return UsageError(std::string(arg) + " needs a value");
        const std::string_view value = argv[++i];
        std::optional<std::string> error;
        if (arg == "--to") {
            if (!ParseFormats(value, options.conversion.formats)) error = "bad --to list";
        } else if (arg == "--out") {
            options.outFolder = value;
            NormalizeFolderPath(options.outFolder);
            if (TrimControl(options.outFolder).empty()) error = "--out needs a folder";
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
        } else if (arg == "--jobs") {
            const auto n = ParseWholeNumber(value);
            if (!n || *n < 1 || *n > 256)
                error = "--jobs needs a number 1..256";
            else
                options.jobs = static_cast<unsigned>(*n);
        }
        if (error) return UsageError(*error);
    }
    if (options.files.empty()) return UsageError("no files given");
    if (options.jobs == 0) options.jobs = std::max(1u, std::thread::hardware_concurrency());
    return -1;
}

// Output names for parallel jobs. Files take their names strictly in command-line order, and
// a name given to an earlier file counts as taken even before its file exists, so the names
// are exactly those of a one-at-a-time run.
class OrderedNaming {
  public:
    // Waits for file `index`'s turn, then takes a name for each requested file name.
    std::vector<std::optional<std::string>> ReserveInTurn(std::size_t index,
                                                          const std::string& folder,
                                                          const std::vector<std::string>& names) {
        std::unique_lock lock(mutex_);
        turnChanged_.wait(lock, [&] { return turn_ == index; });
        std::vector<std::optional<std::string>> paths;
        for (const std::string& name : names) paths.push_back(TakeFree(folder, name));
        return paths;
    }
    // Ends file `index`'s turn; every file must pass, whether it reserved or not.
    void PassTurn(std::size_t index) {
        {
            std::lock_guard lock(mutex_);
            turn_ = index + 1;
        }
        turnChanged_.notify_all();
    }

  private:
    std::optional<std::string> TakeFree(const std::string& folder, const std::string& name) {
        auto path = MakeUniqueOutputPath(folder, name, [this](const std::string& candidate) {
            return reserved_.count(candidate) > 0 || IsExistingFile(candidate);
        });
        if (path) reserved_.insert(*path);
        return path;
    }

    std::mutex mutex_;
    std::condition_variable turnChanged_;
    std::size_t turn_ = 0;
    std::set<std::string> reserved_;
};

// Hands SaveInTickedFormats the names reserved for its file, in format order.
class ReservedNamer : public OutputNamer {
  public:
    std::map<std::string, std::optional<std::string>> byName;
    std::optional<std::string> Reserve(std::string_view folder,
                                       std::string_view fileName) override {
        const auto it = byName.find(std::string(folder) + std::string(fileName));
        return it == byName.end() ? std::nullopt : it->second;
    }
};

// What one file printed, kept until the files before it have printed theirs.
struct FileReport {
    std::string out;
    std::string err;
    bool ok = false;
    int written = 0;
};

class CliPipelineHost : public PipelineHost {
  public:
    CliPipelineHost(const ConversionOptions& options, const std::string& source, FileReport& report)
        : options_(options), source_(source), report_(report) {}
    ConversionOptions Options() override { return options_; }
    void ReaderMessage(const std::string& text) override {
        report_.err += "ozmconv: " + source_ + ": " + text + "\n";
    }
    void FileWritten(const std::string& path) override {
        report_.out += path + "\n";
        ++report_.written;
    }
    void WriteFailed(const std::string& path) override {
        report_.err += "ozmconv: " + source_ + ": cannot write " + path + "\n";
    }

  private:
    const ConversionOptions& options_;
    const std::string& source_;
    FileReport& report_;
};

class Converter {
  public:
    explicit Converter(const CliOptions& options)
        : options_(options), reports_(options.files.size()), done_(options.files.size(), false) {
        showProgress_ = ::isatty(STDERR_FILENO) == 1;
    }

    void Run() {
        const unsigned jobs =
            std::min<unsigned>(options_.jobs, static_cast<unsigned>(options_.files.size()));
        std::vector<std::thread> workers;
        for (unsigned j = 1; j < jobs; ++j) workers.emplace_back([this] { Work(); });
        Work();
        for (auto& w : workers) w.join();
        if (showProgress_) std::fputs("\r\033[K", stderr);
    }

    int Converted() const { return converted_; }
    int Failed() const { return static_cast<int>(options_.files.size()) - converted_; }
    int Written() const { return written_; }

  private:
    void Work() {
        Bitmap bitmap;  // each worker its own
        for (std::size_t i; (i = next_.fetch_add(1)) < options_.files.size();) {
            ConvertFile(i, bitmap);
        }
    }

    void ConvertFile(std::size_t index, Bitmap& bitmap) {
        const std::string& source = options_.files[index];
        FileReport& report = reports_[index];
        CliPipelineHost host(options_.conversion, source, report);
        bool read = false;
        try {
            read = PrepareWorkBitmap(source, bitmap, options_.conversion, host);
        } catch (const std::exception&) {
            read = false;
        }
        if (!read) {
            report.err += "ozmconv: " + source + ": cannot read\n";
            naming_.ReserveInTurn(index, {},
                                  {});  // a file that takes no names still waits its turn
            naming_.PassTurn(index);
            Finish(index);
            return;
        }
        std::string folder = options_.outFolder;
        if (folder.empty()) {
            folder = std::string(ExtractFilePath(source));
            if (folder.empty()) folder = "./";
        }
        const std::string baseName(ExtractFileName(source));
        std::vector<std::string> names;
        const auto& table = OutputFormatTable();
        for (std::size_t row = 0; row < table.size(); ++row) {
            if (options_.conversion.formats[row])
                names.push_back(ChangeFileExt(baseName, table[row].extension));
        }
        ReservedNamer namer;
        try {
            const auto paths = naming_.ReserveInTurn(index, folder, names);
            for (std::size_t k = 0; k < names.size(); ++k)
                namer.byName[folder + names[k]] = paths[k];
        } catch (...) {
        }
        naming_.PassTurn(index);
        const FileOutcome outcome = SaveInTickedFormats(bitmap, folder + baseName, host, namer);
        report.ok = outcome.Converted();
        Finish(index);
    }

    // Prints the reports of every finished file whose predecessors have printed, so that the
    // output is in command-line order whatever the number of jobs.
    void Finish(std::size_t index) {
        std::lock_guard lock(printMutex_);
        done_[index] = true;
        while (printed_ < reports_.size() && done_[printed_]) {
            const FileReport& r = reports_[printed_];
            if (showProgress_) std::fputs("\r\033[K", stderr);
            std::fputs(r.out.c_str(), stdout);
            std::fputs(r.err.c_str(), stderr);
            converted_ += r.ok ? 1 : 0;
            written_ += r.written;
            ++printed_;
        }
        std::fflush(stdout);
        if (showProgress_) {
            const std::size_t total = reports_.size();
            const int width = 30;
            const int filled = static_cast<int>(printed_ * width / total);
            std::fprintf(stderr, "\r[%.*s%*s] %zu/%zu", filled, "##############################",
                         width - filled, "", printed_, total);
            std::fflush(stderr);
        }
    }

    const CliOptions& options_;
    std::atomic<std::size_t> next_{0};
    OrderedNaming naming_;
    std::vector<FileReport> reports_;
    std::mutex printMutex_;
    std::vector<bool> done_;
    std::size_t printed_ = 0;
    int converted_ = 0;
    int written_ = 0;
    bool showProgress_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    CliOptions options;
    if (const int code = ParseArguments(argc, argv, options); code >= 0) return code;
    const auto start = std::chrono::steady_clock::now();
    Converter converter(options);
    converter.Run();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "ozmconv: %d converted, %d failed, %d files written, %.2f s\n",
                 converter.Converted(), converter.Failed(), converter.Written(), seconds);
    return converter.Failed() == 0 ? 0 : 1;
}
