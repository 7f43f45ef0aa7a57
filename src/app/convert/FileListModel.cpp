#include "app/convert/FileListModel.h"

namespace ozm {

void FileListModel::SetEntries(std::vector<std::string> names) {
    entries_ = std::move(names);
    selected_.assign(entries_.size(), false);
    current_ = entries_.empty() ? -1 : 0;
    ++generation_;
}

void FileListModel::SetCurrentIndex(int index) {
    if (index == -1 || (index >= 0 && index < Count())) current_ = index;
}

const std::string* FileListModel::CurrentEntry() const {
    return current_ >= 0 && current_ < Count() ? &entries_[static_cast<std::size_t>(current_)]
                                               : nullptr;
}

bool FileListModel::IsSelected(int index) const {
    return index >= 0 && index < Count() && selected_[static_cast<std::size_t>(index)];
}

void FileListModel::SetSelected(int index, bool selected) {
    if (index >= 0 && index < Count()) selected_[static_cast<std::size_t>(index)] = selected;
}

void FileListModel::SelectAll() { selected_.assign(entries_.size(), true); }

void FileListModel::SetSelectedFlags(std::vector<bool> flags) {
    flags.resize(entries_.size(), false);
    selected_ = std::move(flags);
}

void FileListModel::ClearSelection() { selected_.assign(entries_.size(), false); }

std::vector<int> FileListModel::SelectedIndexes() const {
    std::vector<int> out;
    for (int i = 0; i < Count(); ++i) {
        if (selected_[static_cast<std::size_t>(i)]) out.push_back(i);
    }
    return out;
}

}  // namespace ozm
