#pragma once
// The command line's forms of the resize and rotation settings. Every number goes through the
// whole-number rule (ParseWholeNumber). Each function fills only the fields its option sets,
// and on a bad value leaves the options alone and returns a message naming the option.
//
//   --resize WxH   to W x H pixels (mode 1, proportions not kept)
//   --resize Wx    to W pixels wide, the height derived (mode 1, proportions kept)
//   --resize xH    to H pixels high, the width derived (mode 1, proportions kept)
//   --scale P      to P percent of both sides (mode 2; 100 leaves the image alone)
//   --rotate DEG[.HH]  clockwise by DEG degrees and HH hundredths: "32.5" is 32 degrees and 50
//                      hundredths, "32.05" 32 degrees and 5 hundredths; "0" turns nothing

#include <optional>
#include <string>
#include <string_view>

#include "core/transforms/TransformSettings.h"

namespace ozm {

// Each returns nullopt on success, else the message to show.
std::optional<std::string> ApplyResizeArgument(std::string_view text, TransformSettings& options);
std::optional<std::string> ApplyScaleArgument(std::string_view text, TransformSettings& options);
std::optional<std::string> ApplyRotateArgument(std::string_view text, TransformSettings& options);

}  // namespace ozm
