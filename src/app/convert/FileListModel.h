#pragma once
// The content of one file list of the main window (source or target): the bare file names,
// which of them are selected, and the current (focused) entry. The list widget shows it and
// forwards the user's clicks; selection with Shift and Ctrl is the widget's own business.

#include <cstdint>
#include <string>
#include <vector>

namespace ozm {

class FileListModel {
  public:
    const std::vector<std::string>& Entries() const { return entries_; }
    int Count() const { return static_cast<int>(entries_.size()); }

    // Replaces the entries. Nothing is selected afterwards; the current entry is the first
    // one (where the focus of a freshly filled list sits), or none for an empty list.
    void SetEntries(std::vector<std::string> names);
    void Clear() { SetEntries({}); }
    // Adds a name at the end, not selected; the current entry stays.
    void Append(std::string name) {
        entries_.push_back(std::move(name));
        selected_.push_back(false);
        ++generation_;
    }
    // Changes whenever the entries change (not the selection or the current entry): a view
    // that shows generation G of the entries need not rebuild them while it stays G.
    std::uint64_t Generation() const { return generation_; }

    // -1 when there is no current entry.
    int CurrentIndex() const { return current_; }
    // An index outside the entries is ignored, except -1, which clears the current entry.
    void SetCurrentIndex(int index);
    // The current entry's text, or nullptr.
    const std::string* CurrentEntry() const;

    bool IsSelected(int index) const;
    void SetSelected(int index, bool selected);
    void SelectAll();
    void ClearSelection();
    std::vector<int> SelectedIndexes() const;
    // One flag per entry.
    const std::vector<bool>& SelectedFlags() const { return selected_; }
    // Flags past the entries are ignored; entries past the flags are not selected.
    void SetSelectedFlags(std::vector<bool> flags);

  private:
    std::vector<std::string> entries_;
    std::vector<bool> selected_;
    int current_ = -1;
    std::uint64_t generation_ = 0;
};

}  // namespace ozm
