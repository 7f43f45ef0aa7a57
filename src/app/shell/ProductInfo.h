#pragma once
// The product constants, fixed before any window exists, and the main window's caption.

#include <chrono>
#include <string>
#include <string_view>

#include "app/shell/ProductVersion.h"

namespace ozm {

inline constexpr std::string_view kApplicationTitle = "图片批量转换";
// Replaces the application title when the main window fills its interface texts.
inline constexpr std::string_view kDisplayTitle = "OZM图片批量转换器";
inline constexpr std::string_view kUninstallTitle = "卸载OZM软件 - 图片批量转换";
// From the build's OZM_VERSION (major.minor).
inline constexpr float kProductVersion = OZM_PRODUCT_VERSION_NUMBER;
inline constexpr std::string_view kProductVersionText = OZM_PRODUCT_VERSION_TEXT;
inline constexpr std::string_view kMakerHomePage = "https://www.ozmware.example/";
inline constexpr std::string_view kProductPage = "https://www.ozmware.example/qv/";
inline constexpr std::string_view kUpdatePackagePath = "ozmware/update/qv/setupQV.exe";
inline constexpr std::string_view kUpdateFolderPath = "ozmware/update/qv/";
inline constexpr std::string_view kUpdatePackageName = "setupQV.exe";

// "%s v%1.1f " + the date as yyyy-mm-dd + " - " + the maker's home page: completed once at
// start-up with that day's date.
std::string MakeCaptionFormat(std::chrono::year_month_day startupDate);

// The local date now, for MakeCaptionFormat.
std::chrono::year_month_day TodayLocal();

// Fills the caption format's two placeholders ("%s" and "%1.1f") with the title and the
// version with one decimal. Other text, "%" included, is kept as it stands.
std::string FormatMainCaption(std::string_view captionFormat, std::string_view title,
                              float version);

}  // namespace ozm
