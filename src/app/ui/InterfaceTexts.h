#pragma once
// The texts the main window and its messages read, in one place: filled once when the main
// window is created, before its caption is composed. Texts the engine shows itself are its
// own constants, referred to here, never copied.

#include <array>
#include <string_view>

#include "app/convert/ConversionRun.h"
#include "app/convert/FolderLists.h"
#include "app/convert/RotationSettings.h"
#include "app/shell/ProductInfo.h"

namespace ozm {

struct InterfaceTexts {
    // Messages and labels.
    std::string_view choosePath = kChoosePathMessage;
    std::string_view chooseValidFolderName = "请选择一个合法的文件夹名称";
    std::string_view driveMissing = "磁盘%s不存在，请重选择一个路径。";
    std::string_view confirmDelete = "你确定要删除吗？";
    std::string_view reminder = "提醒";
    std::string_view renameCaption = "更改名称";
    std::string_view renameLabel = "名称";

    // Main window texts.
    std::string_view displayTitle = kDisplayTitle;
    std::string_view formatGroup = "转换格式";
    std::string_view zoomTypeGroup = "图片比例类型";
    std::array<std::string_view, 3> zoomTypes = {"不缩放", "指定尺寸缩放", "按比例缩放"};
    std::string_view widthLabel = "宽";
    std::string_view heightLabel = "高";
    std::string_view sourceListCaption = "“转换前文件夹”图片列表";
    std::string_view targetListCaption = "“转换后文件夹”图片列表";
    std::string_view selectPaths = "请选择一个或多个路径";
    std::string_view previewWidth = "宽度";
    std::string_view previewHeight = "高度";
    std::string_view converted = kConvertedHint;
    std::string_view allDone = kAllDoneHint;
    std::string_view selectImage = kSelectImageMessage;

    // Control texts set after the caption.
    std::string_view sizeGroup = "";
    std::array<std::string_view, 4> rotateItems = kRotateListItems;
    std::string_view keepAspect = "按原图比例";
};

// The one set of texts, filled on first use.
const InterfaceTexts& Texts();

}  // namespace ozm
