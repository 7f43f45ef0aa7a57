#include "app/convert/Pipeline.h"

#include <filesystem>

#include "app/convert/OutputNaming.h"
#include "core/formats/ImgConvertUnit.h"
#include "core/text/TextRules.h"
#include "core/transforms/Resize.h"
#include "core/transforms/Rotate.h"

namespace ozm {

namespace {

bool RotateStep(Bitmap& bitmap, const ConversionOptions& options, TransformHost& host,
                std::string* reason) {
    if (options.rotateDegrees <= 0) return true;
    const RotatedSize size =
        ComputeRotatedSize(bitmap.Width(), bitmap.Height(),
                           ComputeRotationAngle(options.rotateDegrees, options.rotateHundredths));
    if (!IsAcceptableImageSize(size.width, size.height)) {
        return Refuse(reason, "cannot rotate: " + ImageSizeReason(size.width, size.height));
    }
    if (!RotateWorkBitmap(bitmap, options, host))
        return Refuse(reason, "cannot rotate: out of memory");
    return true;
}

// The write settings of one format at its turn, or ahead of it (no metadata, no name yet).
WriteSettings SettingsFor(const ConversionOptions& options, int threads) {
    WriteSettings settings;
    settings.jpegQuality = options.jpegQuality;
    settings.lossless = options.lossless;
    settings.threads = threads;
    settings.replaceExisting = false;
    return settings;
}

// The file encoded ahead for this format when the options still ask for it as it was
// encoded, taken out of `encoded`; null otherwise.
std::unique_ptr<OutputFile> TakeEncoded(EncodedFormats* encoded, const ImageFormat& format,
                                        const ConversionOptions& options,
                                        const std::string& baseOutputPath) {
    if (!encoded) return nullptr;
    for (EncodedFormat& e : *encoded) {
        if (e.code == format.code && e.file && e.jpegQuality == options.jpegQuality &&
            e.lossless == options.lossless && e.baseOutputPath == baseOutputPath) {
            return std::move(e.file);
        }
    }
    return nullptr;
}

// One format of the file: true when it was written. `ready`: the format encoded ahead, put in
// place under the name reserved now.
bool WriteOneFormat(const Bitmap& bitmap, const std::string& baseOutputPath,
                    const ImageFormat& format, const ConversionOptions& options, PipelineHost& host,
                    OutputNamer& namer, std::unique_ptr<OutputFile> ready) {
    const OutputName named = OutputNameFor(baseOutputPath, format.extension);
    const auto path = namer.Reserve(named.folder, named.name);
    WriteSettings settings = SettingsFor(options, host.TransformThreads());
    settings.metadata = host.WrittenMetadata(bitmap);
    // A file encoded ahead carries no metadata.
    if (settings.metadata) ready.reset();
    bool exhausted = !path;
    settings.nextFreeName = [&]() -> std::optional<std::filesystem::path> {
        auto next = namer.ReserveAgain(named.folder, named.name);
        if (!next) {
            exhausted = true;
            return std::nullopt;
        }
        return std::filesystem::path(*next);
    };
    ImageWriteReport report;
    const bool written =
        path && (ready ? CommitImageFile(*ready, *path, format.code, settings, &report)
                       : WriteImageFile(bitmap, *path, format.code, settings, &report));
    if (written) {
        host.FileWritten(report.written.string());
        return true;
    }
    // Every name taken: the plain name stands for them all, none of them was touched.
    if (exhausted) {
        host.WriteFailed(named.folder + named.name, std::string(kAllNamesTakenReason));
    } else {
        host.WriteFailed(report.written.string(), report.reason);
    }
    return false;
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

OutputName OutputNameFor(const std::string& baseOutputPath, std::string_view extension) {
    const std::string named = ChangeFileExt(baseOutputPath, extension);
    return {std::string(ExtractFilePath(named)), std::string(ExtractFileName(named))};
}

bool PipelineHost::ReadSource(const std::string& source, Bitmap& bitmap, std::string* reason) {
    const MessageCallback onMessage = [this](const std::string& text) { ReaderMessage(text); };
    return ReadImageFile(source, bitmap, onMessage, reason);
}

bool PipelineHost::Resample(Bitmap& bitmap, const ConversionOptions& options, std::string* reason) {
    if (options.resizeMode != ResizeMode::ToSize && options.resizeMode != ResizeMode::ByPercent)
        return true;
    // A target side below 1 leaves the image as it is, by the resize rules; only a result
    // that cannot exist or cannot be allocated fails.
    const ResizeTarget target = ComputeResizeTarget(bitmap.Width(), bitmap.Height(), options);
    const bool wanted = target.resample && target.width >= 1 && target.height >= 1;
    if (wanted && !IsAcceptableImageSize(target.width, target.height)) {
        return Refuse(reason, "cannot resize: " + ImageSizeReason(target.width, target.height));
    }
    if (!ResizeWorkBitmap(bitmap, options, *this) && wanted) {
        return Refuse(reason, "cannot resize: out of memory");
    }
    return true;
}

EncodedFormats EncodeTickedFormats(const Bitmap& bitmap, const std::string& baseOutputPath,
                                   const ConversionOptions& options, int threads,
                                   const std::function<bool()>& stop) {
    EncodedFormats encoded;
    const WriteSettings settings = SettingsFor(options, threads);
    for (const ImageFormat* format : WrittenFormats()) {
        if (!options.formats.Ticked(format->code)) continue;
        if (stop()) break;
        const OutputName named = OutputNameFor(baseOutputPath, format->extension);
        std::unique_ptr<OutputFile> file =
            EncodeImageFile(bitmap, named.folder + named.name, format->code, settings);
        if (!file) continue;
        encoded.push_back({format->code, options.jpegQuality, options.lossless, baseOutputPath,
                           std::move(file)});
    }
    return encoded;
}

FileOutcome SaveInTickedFormats(const Bitmap& bitmap, const std::string& baseOutputPath,
                                PipelineHost& host, OutputNamer& namer, EncodedFormats* encoded) {
    FileOutcome outcome;
    outcome.read = true;
    namer.BeginFile(baseOutputPath);
    // The desktop program never ticks the formats past its eight (WebP).
    const auto& table = WrittenFormats();
    for (std::size_t row = 0; row < table.size(); ++row) {
        const ConversionOptions options = host.Options();
        if (!options.formats.Ticked(table[row]->code)) continue;
        if (WriteOneFormat(bitmap, baseOutputPath, *table[row], options, host, namer,
                           TakeEncoded(encoded, *table[row], options, baseOutputPath))) {
            ++outcome.written;
        } else {
            ++outcome.failed;
        }
        // A stop is honoured between formats, never after the last one.
        if (row + 1 < table.size() && host.StopRequested()) {
            outcome.stopped = true;
            break;
        }
    }
    return outcome;
}

FileOutcome PrepareFile(const std::string& source, const ConversionOptions& options,
                        Bitmap& bitmap, PipelineHost& host) {
    FileOutcome outcome;
    const auto stopped = [&] {
        outcome.stopped = true;
        return outcome;
    };
    try {
        const bool read = host.ReadSource(source, bitmap, &outcome.reason);
        if (host.StopBeforeWriting()) return stopped();
        if (!read) {
            host.ReadFailed(source, outcome.reason);
            return outcome;
        }
        const bool resized = host.Resample(bitmap, options, &outcome.reason);
        if (host.StopBeforeWriting()) return stopped();
        const bool rotated = resized && RotateStep(bitmap, options, host, &outcome.reason);
        if (host.StopBeforeWriting()) return stopped();
        if (rotated) {
            outcome.read = true;
            return outcome;
        }
    } catch (...) {
        outcome.reason = CurrentExceptionReason();
    }
    // The bitmap may be half-made; the next file starts from a fresh one.
    bitmap = Bitmap();
    host.ConvertFailed(source, outcome.reason);
    return outcome;
}

std::string BaseOutputPath(const std::string& source, const std::string& targetFolder) {
    return targetFolder + std::string(ExtractFileName(source));
}

FileOutcome WritePreparedFile(const std::string& source, const std::string& targetFolder,
                              const Bitmap& bitmap, PipelineHost& host, OutputNamer& namer,
                              EncodedFormats* encoded) {
    host.WritingFile(source);
    return SaveInTickedFormats(bitmap, BaseOutputPath(source, targetFolder), host, namer,
                               encoded);
}

FileOutcome ConvertOneFile(const std::string& source, const std::string& targetFolder,
                           Bitmap& workBitmap, PipelineHost& host, OutputNamer& namer) {
    try {
        host.StepProgress();
        const FileOutcome outcome = PrepareFile(source, host.Options(), workBitmap, host);
        if (!outcome.read) return outcome;
        return WritePreparedFile(source, targetFolder, workBitmap, host, namer);
    } catch (...) {
        return FailThrown(source, workBitmap, host);
    }
}

FileOutcome FailThrown(const std::string& source, Bitmap& workBitmap, PipelineHost& host) {
    FileOutcome outcome;
    outcome.reason = CurrentExceptionReason();
    workBitmap = Bitmap();
    host.ConvertFailed(source, outcome.reason);
    return outcome;
}

}  // namespace ozm
