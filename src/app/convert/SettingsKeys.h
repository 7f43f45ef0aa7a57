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

// The ten format tick boxes in the order they are loaded and saved. CBICO and CBPCX are
// hidden: they are only stored and restored.
enum class FormatBox : std::size_t {
    CbJPG,
    CbPNG,
    CBBMP,
    CBJPEG,
    CBGIF,
    CBICO,
    CBEMF,
    CBWMF,
    CBPCX,
    CBTIFF
};
inline constexpr std::size_t kFormatBoxCount = 10;

struct FormatBoxInfo {
    SettingKey key;
    bool defaultValue;
    ImageFormatCode outputCode;  // the format the box ticks, 0 for the hidden boxes
};

inline constexpr std::array<FormatBoxInfo, kFormatBoxCount> kFormatBoxes = {{
    {{kDefaultSection, "CbJPG"}, true, FormatCode::Jpg},
    {{kDefaultSection, "CbPNG"}, false, FormatCode::Png},
    {{kDefaultSection, "CBBMP"}, false, FormatCode::Bmp},
    {{kDefaultSection, "CBJPEG"}, false, FormatCode::Jpeg},
    {{kDefaultSection, "CBGIF"}, false, FormatCode::Gif},
    {{kDefaultSection, "CBICO"}, false, 0},
    {{kDefaultSection, "CBEMF"}, false, FormatCode::Emf},
    {{kDefaultSection, "CBWMF"}, false, FormatCode::Wmf},
    {{kDefaultSection, "CBPCX"}, false, 0},
    {{kDefaultSection, "CBTIFF"}, false, FormatCode::Tiff},
}};

}  // namespace ozm
