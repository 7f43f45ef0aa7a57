#pragma once
// Sections and keys of the settings file "defualt.ini" (the name is spelled so), with the
// defaults a missing key gives. The keys repeat the names of the controls they belong to.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/formats/ImageFormats.h"

namespace ozm {

inline constexpr std::string_view kSettingsFileName = "defualt.ini";

inline constexpr std::string_view kDefaultSection = "default";
inline constexpr std::string_view kImgConvertSection = "ImgConvert";

struct SettingKey {
    std::string_view section;
    std::string_view name;
};

namespace keys {
// Section "default".
// Their defaults are the program folder + "source/" and + "target/".
inline constexpr SettingKey SourcePath{kDefaultSection, "SourcePath"};
inline constexpr SettingKey TargetPath{kDefaultSection, "TargetPath"};
inline constexpr SettingKey EdtWidth{kDefaultSection, "edtwidth"};
inline constexpr SettingKey EdtHeight{kDefaultSection, "edtheight"};
inline constexpr SettingKey LastUseImageTypeTag{kDefaultSection, "LastUseImageTypeTag"};
inline constexpr SettingKey OZMMyFavPath{kDefaultSection, "OZMMyFavPath"};
inline constexpr SettingKey OZMMyHisPath{kDefaultSection, "OZMMyHisPath"};
inline constexpr SettingKey ZoomAuto{kDefaultSection, "ZoomAuto"};
inline constexpr SettingKey ZoomType{kDefaultSection, "zoomtype"};
inline constexpr SettingKey EdtZoomPei{kDefaultSection, "EdtZoomPei"};
inline constexpr SettingKey PreviewSourceImg{kDefaultSection, "PreviewSourceImg"};
inline constexpr SettingKey TargetImgPreview{kDefaultSection, "TargetImgPreview"};
// Section "ImgConvert".
inline constexpr SettingKey MnJPGQualityTag{kImgConvertSection, "MnJPGQualityTag"};
inline constexpr SettingKey LbRoateType{kImgConvertSection, "LbRoateType"};
inline constexpr SettingKey EdtRoateRate1{kImgConvertSection, "EdtRoateRate1"};
inline constexpr SettingKey EdtRoateRate2{kImgConvertSection, "EdtRoateRate2"};
inline constexpr SettingKey MnZoomNumTag{kImgConvertSection, "MnZoomNumTag"};
inline constexpr SettingKey LbDocListInd{kImgConvertSection, "LbDocListInd"};
inline constexpr SettingKey LbTargetInd{kImgConvertSection, "LbTargetInd"};
inline constexpr SettingKey SbToollBarWidth{kImgConvertSection, "SbToollBarWidth"};
inline constexpr SettingKey AutoShowTargetFolder1{kImgConvertSection, "AutoShowTargetFolder1"};
inline constexpr SettingKey CbAutoClose{kImgConvertSection, "CbAutoClose"};
}  // namespace keys

// Defaults of the keys that are not texts of the program folder.
namespace defaults {
inline constexpr std::string_view SourceSubfolder = "source/";
inline constexpr std::string_view TargetSubfolder = "target/";
inline constexpr std::string_view EdtWidth = "1024";
inline constexpr std::string_view EdtHeight = "768";
inline constexpr std::int32_t LastUseImageTypeTag = 1;
inline constexpr bool ZoomAuto = false;
inline constexpr std::int32_t ZoomType = 0;
inline constexpr std::string_view EdtZoomPei = "100";
inline constexpr bool PreviewSourceImg = false;
inline constexpr bool TargetImgPreview = false;
inline constexpr std::int32_t MnJPGQualityTag = 75;
inline constexpr std::int32_t LbRoateType = 0;
inline constexpr std::int32_t EdtRoateRate1 = 0;
inline constexpr std::int32_t EdtRoateRate2 = 0;
inline constexpr std::int32_t MnZoomNumTag = 100;
inline constexpr std::int32_t LbDocListInd = 0;
inline constexpr std::int32_t LbTargetInd = 0;
inline constexpr std::int32_t SbToollBarWidth = 157;
inline constexpr bool AutoShowTargetFolder1 = true;
inline constexpr bool CbAutoClose = false;
}  // namespace defaults

// What a stored tool bar width may be, in pixels: narrower hides its controls, wider leaves
// the lists no room on any screen the window is made for. A value read outside is clamped.
inline constexpr std::int32_t kToolBarMinWidth = 120;
inline constexpr std::int32_t kToolBarMaxWidth = 800;

// The format tick boxes, one for each row of the format table that has one, in the order they
// are loaded and saved (the rows' box places). A box is named by its index in that order.
enum class FormatBox : std::size_t {};

struct FormatBoxInfo {
    SettingKey key;  // also the box's object name
    bool defaultValue;
    ImageFormatCode outputCode;  // the format the box ticks, 0 for the hidden boxes
    std::string_view caption;
    int row, column;  // in the window's grid; -1: hidden, only stored and restored
};

inline constexpr auto kFormatBoxes = [] {
    constexpr auto place = [](const ImageFormat& f) { return f.box.place; };
    constexpr auto rows = RowsByPlace<CountPlaced(place)>(place);
    std::array<FormatBoxInfo, rows.size()> boxes{};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ImageFormat& f = *rows[i];
        boxes[i] = {
            {kDefaultSection, f.box.key}, f.box.ticked, f.code, f.name, f.box.row, f.box.column};
    }
    return boxes;
}();
inline constexpr std::size_t kFormatBoxCount = kFormatBoxes.size();

// The boxes' states when the settings file says nothing.
constexpr std::array<bool, kFormatBoxCount> FormatBoxDefaults() {
    std::array<bool, kFormatBoxCount> ticked{};
    for (std::size_t i = 0; i < kFormatBoxCount; ++i) ticked[i] = kFormatBoxes[i].defaultValue;
    return ticked;
}

// The box that ticks `code`; kFormatBoxCount (no box) for a format the window does not offer.
constexpr FormatBox FormatBoxFor(ImageFormatCode code) {
    std::size_t i = 0;
    while (i < kFormatBoxCount && kFormatBoxes[i].outputCode != code) ++i;
    return static_cast<FormatBox>(i);
}

}  // namespace ozm
