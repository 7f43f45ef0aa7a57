#pragma once
// The source list's names, selection and current entry as a worker thread may read them
// without a trip to the window's thread, which can take long on a loaded machine. The window
// replaces them, under the lock, whenever its list changes; an index past the current end
// counts as not selected and has no text.

#include <mutex>
#include <string>
#include <vector>

namespace ozm {

class SharedListView {
  public:
    void Set(std::vector<std::string> entries, std::vector<bool> selected, int currentIndex);
    void SetSelected(std::vector<bool> selected, int currentIndex);
    int EntryCount() const;
    int CurrentIndex() const;
    bool IsSelected(int index) const;
    std::string EntryText(int index) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
    std::vector<bool> selected_;
    int currentIndex_ = -1;
};

}  // namespace ozm
