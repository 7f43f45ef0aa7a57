#include "core/formats/ImgConvertUnit.h"

#include <string_view>

#include "core/formats/io/OutputFile.h"
#include "core/text/TextRules.h"

namespace ozm {

bool ReadImageFile(const std::filesystem::path& path, Bitmap& target,
                   const MessageCallback& onMessage, std::string* reason) {
    std::string why;
    const std::string ext = AsciiLower(ExtractFileExt(path.native()));
    bool ok = false;
    bool known = false;
    if (const ImageFormat* format = FormatForReadExtension(ext); format && format->decoder) {
        known = true;
        try {
            ok = format->decoder(path, target, onMessage, &why);
        } catch (...) {
            Refuse(&why, CurrentExceptionReason());
        }
    }
    if (!ok && reason) {
        if (!known) why = "not a supported image type";
        *reason = why.empty() ? "damaged or unsupported image data" : why;
    }
    return ok;
}

std::filesystem::path OutputNameFor(const std::filesystem::path& path, ImageFormatCode code) {
    const std::string_view ext = OutputExtension(code);
    if (ext.empty()) return {};
    const std::string& text = path.native();
    if (AsciiLower(ExtractFileExt(text)) == ext) return path;
    return ChangeFileExt(text, ext);
}

namespace {

// Starts a write's report: the output name of `path` for `code`, or empty with the reason.
std::filesystem::path StartReport(const std::filesystem::path& path, ImageFormatCode code,
                                  ImageWriteReport& r) {
    r = ImageWriteReport{};
    const std::filesystem::path name = OutputNameFor(path, code);
    r.written = name.empty() ? path : name;
    if (name.empty()) r.reason = "unknown output format";
    return name;
}

}  // namespace

std::unique_ptr<OutputFile> EncodeImageFile(const Bitmap& bitmap, const std::filesystem::path& path,
                                            ImageFormatCode code, const WriteSettings& settings,
                                            ImageWriteReport* report) {
    ImageWriteReport local;
    ImageWriteReport& r = report ? *report : local;
    const std::filesystem::path name = StartReport(path, code, r);
    if (name.empty()) return nullptr;
    try {
        auto out = std::make_unique<OutputFile>(
            name, settings.replaceExisting ? ExistingFile::Replace : ExistingFile::Keep);
        if (!out->IsOpen()) {
            r.reason = out->FailureReason();
            return nullptr;
        }
        if (!FormatForCode(code)->encoder(bitmap, out->Stream(), settings)) {
            // A failed write (full disk, size limit) is the likelier cause; the stream knows.
            out->Flush();
            r.reason = out->FailureReason().empty() ? "the image cannot be stored in this format"
                                                    : out->FailureReason();
            return nullptr;
        }
        return out;
    } catch (...) {
        r.reason = CurrentExceptionReason();
    }
    return nullptr;
}

bool CommitImageFile(OutputFile& file, const std::filesystem::path& path, ImageFormatCode code,
                     const WriteSettings& settings, ImageWriteReport* report) {
    ImageWriteReport local;
    ImageWriteReport& r = report ? *report : local;
    const std::filesystem::path name = StartReport(path, code, r);
    if (name.empty()) return false;
    try {
        file.Retarget(name);
        const bool ok = file.Commit(settings.nextFreeName);
        r.written = file.Target();
        if (!ok) r.reason = file.FailureReason();
        return ok;
    } catch (...) {
        r.reason = CurrentExceptionReason();
    }
    return false;
}

bool WriteImageFile(const Bitmap& bitmap, const std::filesystem::path& path, ImageFormatCode code,
                    const WriteSettings& settings, ImageWriteReport* report) {
    ImageWriteReport local;
    ImageWriteReport& r = report ? *report : local;
    const std::unique_ptr<OutputFile> out = EncodeImageFile(bitmap, path, code, settings, &r);
    return out && CommitImageFile(*out, path, code, settings, &r);
}

bool WriteImageFile(const Bitmap& bitmap, const std::filesystem::path& path, ImageFormatCode code) {
    return WriteImageFile(bitmap, path, code, WriteSettings{});
}

}  // namespace ozm
