#include "core/formats/raster/ExifOrientation.h"

#include <libexif/exif-data.h>
#include <libexif/exif-log.h>

#include <cstdarg>
#include <memory>

namespace ozm {

namespace {

struct ExifDataFree {
    void operator()(ExifData* d) const { exif_data_unref(d); }
};
struct ExifLogFree {
    void operator()(ExifLog* l) const { exif_log_unref(l); }
};

// Counts what libexif reports as damaged; its other messages are for debugging only.
void CountDamage(ExifLog*, ExifLogCode code, const char*, const char*, va_list, void* data) {
    if (code == EXIF_LOG_CODE_CORRUPT_DATA) ++*static_cast<int*>(data);
}

}  // namespace

int ExifOrientation(std::span<const std::uint8_t> exif, std::string* note) {
    if (exif.empty()) return 1;
    std::unique_ptr<ExifData, ExifDataFree> data(exif_data_new());
    std::unique_ptr<ExifLog, ExifLogFree> log(exif_log_new());
    if (!data || !log) return 1;
    int damage = 0;
    exif_log_set_func(log.get(), CountDamage, &damage);
    exif_data_log(data.get(), log.get());
    // Only the orientation is wanted: nothing is rewritten to follow the standard.
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data.get(), exif.data(), static_cast<unsigned int>(exif.size()));
    ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (entry && entry->format == EXIF_FORMAT_SHORT && entry->components >= 1 && entry->data &&
        entry->size >= 2) {
        const int value = exif_get_short(entry->data, exif_data_get_byte_order(data.get()));
        if (value >= 1 && value <= 8) return value;
        if (note) *note = "EXIF orientation " + std::to_string(value) + " ignored";
        return 1;
    }
    // A block in which libexif finds no entry at all is as good as damaged, whether or not
    // it said so.
    bool anyEntry = false;
    for (const ExifContent* ifd : data->ifd) anyEntry = anyEntry || (ifd && ifd->count > 0);
    if (entry || damage > 0 || !anyEntry) {
        if (note) *note = "damaged EXIF data ignored";
    }
    return 1;
}

}  // namespace ozm
