#include "app/convert/SharedListView.h"

namespace ozm {

void SharedListView::Set(std::vector<std::string> entries, std::vector<bool> selected,
                         int currentIndex) {
    std::lock_guard lock(mutex_);
    entries_ = std::move(entries);
    selected_ = std::move(selected);
    currentIndex_ = currentIndex;
}

void SharedListView::SetSelected(std::vector<bool> selected, int currentIndex) {
    std::lock_guard lock(mutex_);
    selected_ = std::move(selected);
    currentIndex_ = currentIndex;
}

int SharedListView::EntryCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(entries_.size());
}

int SharedListView::CurrentIndex() const {
    std::lock_guard lock(mutex_);
    return currentIndex_;
}

bool SharedListView::IsSelected(int index) const {
    std::lock_guard lock(mutex_);
    return index >= 0 && static_cast<std::size_t>(index) < entries_.size() &&
           static_cast<std::size_t>(index) < selected_.size() &&
           selected_[static_cast<std::size_t>(index)];
}

std::string SharedListView::EntryText(int index) const {
    std::lock_guard lock(mutex_);
    return index >= 0 && static_cast<std::size_t>(index) < entries_.size()
               ? entries_[static_cast<std::size_t>(index)]
               : std::string();
}

}  // namespace ozm
