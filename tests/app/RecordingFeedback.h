#pragma once
// A WindowFeedback that records what the logic asked of the window.

#include <string>
#include <vector>

#include "app/convert/WindowFeedback.h"

namespace ozm::test {

class RecordingFeedback : public WindowFeedback {
  public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void Focus(FocusTarget target) override { focused.push_back(target); }
    void ShowConversionPage() override { ++pageShown; }
    void StepProgress() override { ++progress; }
    void ResetProgress() override { progress = 0; }
    void SetHint(const std::string& text) override { hint = text; }
    void ShowProgressBar(bool visible) override { progressBarShown = visible; }
    void SetStopFace(bool stopping) override { stopFace = stopping; }

    std::vector<std::string> messages;
    std::vector<FocusTarget> focused;
    int pageShown = 0;
    int progress = 0;
    std::string hint = "unchanged";
    bool progressBarShown = false;
    bool stopFace = false;
};

}  // namespace ozm::test
