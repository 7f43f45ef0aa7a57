#pragma once
// What the settings, list and control logic asks of the main window besides changing its
// model: modal messages, the keyboard focus, the conversion page, the progress bar and the
// hint line. The window implements it; the tests record the calls.

#include <string>

#include "app/convert/ProfileFile.h"

namespace ozm {

enum class FocusTarget { EdtPath, EdtOutput, EdtZoomPei };

class WindowFeedback {
  public:
    virtual ~WindowFeedback() = default;
    // A modal message box; returns when the user has closed it.
    virtual void ShowMessage(const std::string& text) = 0;
    virtual void Focus(FocusTarget target) {}
    // Brings the first page of the main page control ("图片转换") to the front.
    virtual void ShowConversionPage() {}
    virtual void StepProgress() {}
    virtual void ResetProgress() {}
    virtual void SetHint(const std::string& text) {}
};

// Shows the first failed write of a handler, once: when the folder refuses one write it
// refuses the rest, and one message says it all.
class WriteReport {
  public:
    void Add(const WriteResult& result) {
        if (error_.empty()) error_ = result.error;
    }
    void ShowTo(WindowFeedback& feedback) const {
        if (!error_.empty()) feedback.ShowMessage(error_);
    }

  private:
    std::string error_;
};

}  // namespace ozm
