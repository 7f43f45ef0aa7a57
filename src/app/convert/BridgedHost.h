#pragma once
// The main window's host as the batch run's worker thread sees it: every call reaches the
// window on its own thread, through the bridge. Posted calls capture the window's host, not
// this adapter, which is gone when they run after the worker has ended. Reads wait for their
// answer; a closed bridge answers "nothing" (no entries, not selected), so a run whose window
// is going away ends at its next check.

#include <string>

#include "app/convert/ConversionHost.h"

namespace ozm {

class SharedListView;
class UiBridge;

class BridgedHost : public ConversionHost {
  public:
    // `shared` is asked for on the window's thread, before the worker starts; when there is
    // one, the list is read from it on the worker, otherwise each read is a round trip.
    BridgedHost(ConversionHost& host, UiBridge& bridge, const SharedListView* shared)
        : host_(host), bridge_(bridge), shared_(shared) {}

    ConversionOptions Options() override { return host_.Options(); }
    int TransformThreads() const override { return host_.TransformThreads(); }
    void ShowMessage(const std::string& text) override;
    void ReaderMessage(const std::string& text) override;
    void FileWritten(const std::string& path) override;
    void WriteFailed(const std::string& path, const std::string& reason) override;

    int EntryCount() override;
    int CurrentIndex() override;
    bool IsSelected(int index) override;
    std::string EntryText(int index) override;
    void FocusSourceList(bool first) override;
    void RefreshTargetList() override;

    void ShowConversionPage() override;
    void SetHint(const std::string& text) override;
    void ShowProgressBar(bool visible) override;
    void StepProgress() override;
    void ResetProgress() override;
    void SetStopFace(bool stopping) override;

    void ChooseSourceFolder() override;
    void ChooseTargetFolder() override;
    void AddRecentFolder(const std::string& folder) override;
    void StoreLastSourceFolder(const std::string& folder) override;

  private:
    // The window's answer, or `otherwise` when the bridge is closed.
    template <typename T, typename F>
    T Ask(T otherwise, F read);

    ConversionHost& host_;
    UiBridge& bridge_;
    const SharedListView* shared_;
};

}  // namespace ozm
