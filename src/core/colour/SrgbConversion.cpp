#include "core/colour/SrgbConversion.h"

#include <lcms2.h>

#include <memory>
#include <vector>

namespace ozm {

namespace {

struct ProfileClose {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
struct TransformDelete {
    void operator()(void* t) const { cmsDeleteTransform(t); }
};
using Profile = std::unique_ptr<void, ProfileClose>;
using Transform = std::unique_ptr<void, TransformDelete>;

bool Fail(std::string* why, const char* text) {
    if (why) *why = text;
    return false;
}

bool AllGrey(const std::vector<RgbQuad>& palette) {
    for (const RgbQuad& c : palette) {
        if (c.red != c.green || c.green != c.blue) return false;
    }
    return true;
}

}  // namespace

bool ConvertToSrgb(Bitmap& bitmap, std::span<const std::uint8_t> icc, std::string* why,
                   int threads) {
    if (icc.empty() || icc.size() > 0xFFFFFFFFu) return Fail(why, "damaged colour profile");
    const Profile source(
        cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
    if (!source) return Fail(why, "damaged colour profile");
    // Signatures as plain numbers: a profile may hold any value, not only the enums' own.
    const std::uint32_t kind = cmsGetDeviceClass(source.get());
    if (kind == cmsSigLinkClass || kind == cmsSigAbstractClass || kind == cmsSigNamedColorClass)
        return Fail(why, "colour profile of a kind that describes no picture");
    const std::uint32_t space = cmsGetColorSpace(source.get());
    const bool grey = space == cmsSigGrayData;
    if (space != cmsSigRgbData && !grey) return Fail(why, "non-RGB colour profile");
    if (grey && !(bitmap.HasPalette() && AllGrey(bitmap.Palette())))
        return Fail(why, "grey colour profile on a colour picture");
    const Profile srgb(cmsCreate_sRGBProfile());
    if (!srgb) return Fail(why, "out of memory");
    // Palette entries and 32-bit pixels are four bytes, the fourth copied as it is.
    const bool four = bitmap.HasPalette() || bitmap.BitCount() == 32;
    const cmsUInt32Number output = four ? TYPE_BGRA_8 : TYPE_BGR_8;
    const cmsUInt32Number input = grey ? TYPE_GRAY_8 : output;
    const Transform transform(cmsCreateTransform(source.get(), input, srgb.get(), output,
                                                 INTENT_PERCEPTUAL,
                                                 four && !grey ? cmsFLAGS_COPY_ALPHA : 0));
    if (!transform) return Fail(why, "damaged colour profile");
    // 16-bit pixels go through 24 bits, once nothing can fail any more but memory.
    if (bitmap.BitCount() == 16 && !ConvertTo24InPlace(bitmap, threads))
        return Fail(why, "out of memory");

    if (bitmap.HasPalette()) {
        std::vector<RgbQuad>& palette = bitmap.Palette();
        std::vector<std::uint8_t> levels;
        for (const RgbQuad& c : palette) levels.push_back(c.green);
        const void* from = grey ? static_cast<const void*>(levels.data()) : palette.data();
        cmsDoTransform(transform.get(), from, palette.data(),
                       static_cast<cmsUInt32Number>(palette.size()));
        return true;
    }
    for (int y = 0; y < bitmap.Height(); ++y)
        cmsDoTransform(transform.get(), bitmap.Row(y), bitmap.Row(y),
                       static_cast<cmsUInt32Number>(bitmap.Width()));
    return true;
}

}  // namespace ozm
