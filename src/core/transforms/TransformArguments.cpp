#include "core/transforms/TransformArguments.h"

#include <vector>

#include "core/text/TextRules.h"

namespace ozm {

namespace {

struct SizeSplit {
    std::optional<std::int32_t> width;
    std::optional<std::int32_t> height;
};

// An empty side is absent; any other side must be a whole number.
bool ParseSide(std::string_view text, std::optional<std::int32_t>& side) {
    if (text.empty()) return true;
    side = ParseWholeNumber(text);
    return side.has_value();
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace

std::optional<std::string> ApplyResizeArgument(std::string_view text, TransformSettings& options) {
    const std::string usage =
        "--resize wants WxH, Wx or xH in whole pixels of 1 or more, not " + Quoted(text);
    // The separator is an "x" or "X"; since hexadecimal numbers may contain one too ("0x1F"),
    // every place is tried and exactly one must split the text into valid sides.
    std::vector<SizeSplit> splits;
    for (std::size_t p = 0; p < text.size(); ++p) {
        if (text[p] != 'x' && text[p] != 'X') continue;
        SizeSplit split;
        const std::string_view left = text.substr(0, p), right = text.substr(p + 1);
        if (left.empty() && right.empty()) continue;
        if (ParseSide(left, split.width) && ParseSide(right, split.height)) splits.push_back(split);
    }
    if (splits.size() > 1) return "--resize cannot tell width from height in " + Quoted(text);
    if (splits.empty()) return usage;
    const SizeSplit& split = splits.front();
    if ((split.width && *split.width < 1) || (split.height && *split.height < 1)) return usage;
    options.resizeMode = ResizeMode::ToSize;
    options.keepAspect = !(split.width && split.height);
    options.width = split.width;
    options.height = split.height;
    return std::nullopt;
}

std::optional<std::string> ApplyScaleArgument(std::string_view text, TransformSettings& options) {
    const std::optional<std::int32_t> percent = ParseWholeNumber(text);
    if (!percent || *percent < 1) {
        return "--scale wants a whole percentage of 1 or more, not " + Quoted(text);
    }
    options.resizeMode = ResizeMode::ByPercent;
    options.percentage = percent;
    return std::nullopt;
}

std::optional<std::string> ApplyRotateArgument(std::string_view text, TransformSettings& options) {
    const std::string usage =
        "--rotate wants DEG or DEG.HH (whole degrees, then one or two digits of the fraction), "
        "not " +
        Quoted(text);
    const std::size_t dot = text.find('.');
    const std::optional<std::int32_t> degrees = ParseWholeNumber(text.substr(0, dot));
    if (!degrees) return usage;
    std::int32_t hundredths = 0;
    if (dot != std::string_view::npos) {
        const std::string_view fraction = text.substr(dot + 1);
        if (fraction.empty() || fraction.size() > 2) return usage;
        for (const char c : fraction) {
            if (c < '0' || c > '9') return usage;
            hundredths = hundredths * 10 + (c - '0');
        }
        if (fraction.size() == 1) hundredths *= 10;
    }
    if (*degrees < 0)
        return "--rotate turns clockwise only; give 360 minus the angle, not " + Quoted(text);
    // Hundredths alone never turn an image, so "0.5" would silently do nothing.
    if (*degrees == 0 && hundredths != 0) {
        return "--rotate needs at least 1 whole degree to turn; " + Quoted(text) +
               " would leave the image as it is";
    }
    options.rotateDegrees = *degrees;
    options.rotateHundredths = hundredths;
    return std::nullopt;
}

}  // namespace ozm
