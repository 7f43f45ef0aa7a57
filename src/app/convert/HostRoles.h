#pragma once
// What the app logic asks of a window, cut by role. A window implements the roles its logic
// needs; every method is one the window must answer, so none is a silent no-op by default.
// Tests implement them with recorders. A window may get a role along more than one path (the
// main window has its messages both as the run's host and as the controls' feedback), so the
// roles are always inherited virtually: each class has every role once.

#include <string>

namespace ozm {

// Modal messages: the call returns when the user has closed the box.
class MessageRole {
  public:
    virtual ~MessageRole() = default;
    virtual void ShowMessage(const std::string& text) = 0;
};

// The conversion page, its hint line, its progress bar and the convert button's face.
class ProgressRole {
  public:
    virtual ~ProgressRole() = default;
    // Brings the first page of the main page control ("图片转换") to the front.
    virtual void ShowConversionPage() = 0;
    virtual void SetHint(const std::string& text) = 0;
    virtual void ShowProgressBar(bool visible) = 0;
    // Advances the progress bar by one step, or puts it back to 0.
    virtual void StepProgress() = 0;
    virtual void ResetProgress() = 0;
    // The button's face: false "BtnImgCovert", true "BtnStopImgConvert".
    virtual void SetStopFace(bool stopping) = 0;
};

// The folder dialog: the folder picked, or empty when the user cancelled. `startFolder` is
// preselected when it is not empty.
class FolderChooserRole {
  public:
    virtual ~FolderChooserRole() = default;
    virtual std::string ChooseFolder(const std::string& prompt, const std::string& startFolder) = 0;
};

}  // namespace ozm
