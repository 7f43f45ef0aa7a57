#pragma once
// What the main window shows of the settings, as plain values: the window binds its controls
// to these fields and forwards its events to the logic classes (FolderLists, ResizeControls,
// RotationSettings, SettingsStore), which change the fields and store the keys. Defaults of
// the members are the window's state before the settings are loaded.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "app/convert/FileListModel.h"
#include "app/convert/RecentFolders.h"
#include "app/convert/SettingsKeys.h"
#include "app/convert/ConversionOptions.h"

namespace ozm {

// One side of the conversion page: the source (EdtPath, LbDocList) or the target
// (EdtOutput, LbTarget).
struct FolderSide {
    FileListModel list;
    std::string editText;        // EdtPath / EdtOutput: the folder the next refresh lists
    std::string currentFolder;   // CurrentSourceFolder / CurrentTargetFolder
    std::string caption;         // caption of the list's group box
    std::string currentImage;    // CurrentSourceImage / CurrentTargetImage
    bool previewSwitch = false;  // CbPreviewSourceImg / CbTargetImgPreview
    bool previewPanelVisible = false;
    bool splitterVisible = true;
};

struct SettingsModel {
    FolderSide source;
    FolderSide target;
    std::string dialogFolder;  // initial folder of the open and save dialogs

    std::array<bool, kFormatBoxCount> formatBoxes = FormatBoxDefaults();  // by FormatBox

    // Resize controls.
    int resizeMode = 0;  // item index of rgZoomType: 0 none, 1 size, 2 percent, -1 no item
    bool sizeGroupVisible = false;     // GbZoomSize222
    bool percentGroupVisible = false;  // GbZoomBei
    std::string edtWidth;
    std::string edtHeight;
    bool keepAspect = false;  // CbZoomAuto
    std::string edtZoomPei;
    std::int32_t zoomPreset = 100;  // the remembered preset, "MnZoomNumTag"
    std::optional<std::int32_t>
        zoomMenuCheckedTag;  // entries of MnZoom/ResizeandConvert1 with this tag are checked

    // Rotation controls.
    int rotateListIndex = -1;  // LbRoateType
    std::string edtRotate1 = "0";
    std::string edtRotate2 = "0";
    std::int32_t rotateDegrees = 0;
    std::int32_t rotateHundredths = 0;
    std::optional<std::int32_t> rotateMenuCheckedTag;  // entries of MnRotate/RotateandConvert1

    std::int32_t lastUsedFormat = defaults::LastUseImageTypeTag;  // LastUsedFormat
    std::int32_t jpegQuality = defaults::MnJPGQualityTag;         // JpegQuality
    std::string favouriteFolder;                                  // FavouriteFolder
    std::string lastSourceFolder;                                 // LastSourceFolder
    std::int32_t toolBarWidth = defaults::SbToollBarWidth;        // SbToollBar
    bool autoShowTargetFolder = defaults::AutoShowTargetFolder1;  // AutoShowTargetFolder1

    RecentFolders recentFolders;

    bool FormatBoxChecked(FormatBox box) const {
        return formatBoxes[static_cast<std::size_t>(box)];
    }

    // The values a conversion reads, as they stand now.
    ConversionOptions Options() const;
};

}  // namespace ozm
