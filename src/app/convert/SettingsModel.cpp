#include "app/convert/SettingsModel.h"

#include "core/text/TextRules.h"

namespace ozm {

ConversionOptions SettingsModel::Options() const {
    ConversionOptions options;
    for (std::size_t i = 0; i < kFormatBoxCount; ++i) {
        options.formats.Tick(kFormatBoxes[i].outputCode, formatBoxes[i]);
    }
    options.resizeMode = resizeMode == 1   ? ResizeMode::ToSize
                         : resizeMode == 2 ? ResizeMode::ByPercent
                                           : ResizeMode::None;
    options.width = ParseWholeNumber(edtWidth);
    options.height = ParseWholeNumber(edtHeight);
    options.keepAspect = keepAspect;
    options.percentage = ParseWholeNumber(edtZoomPei);
    options.rotateDegrees = rotateDegrees;
    options.rotateHundredths = rotateHundredths;
    options.jpegQuality = jpegQuality;
    options.sourceFolder = source.currentFolder;
    options.targetFolder = target.currentFolder;
    return options;
}

}  // namespace ozm
