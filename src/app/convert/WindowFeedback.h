#pragma once
// What the settings, list and control logic asks of the main window besides changing its
// model: modal messages, the keyboard focus, the conversion page, the progress bar and the
// hint line. The window implements it; the tests record the calls.

#include <string>

#include "app/convert/HostRoles.h"
#include "app/convert/ProfileFile.h"

namespace ozm {

enum class FocusTarget { EdtPath, EdtOutput, EdtZoomPei };

class WindowFeedback : public virtual MessageRole, public virtual ProgressRole {
  public:
    virtual void Focus(FocusTarget target) = 0;
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
