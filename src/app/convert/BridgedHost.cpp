#include "app/convert/BridgedHost.h"

#include "app/convert/SharedListView.h"
#include "app/convert/UiBridge.h"

namespace ozm {

template <typename T, typename F>
T BridgedHost::Ask(T otherwise, F read) {
    T answer = otherwise;
    bridge_.PostAndWait([&] { answer = read(); });
    return answer;
}

void BridgedHost::ShowMessage(const std::string& text) {
    bridge_.PostAndWait([&] { host_.ShowMessage(text); });
}

void BridgedHost::ReaderMessage(const std::string& text) {
    bridge_.PostAndWait([&] { host_.ReaderMessage(text); });
}

void BridgedHost::FileWritten(const std::string& path) {
    bridge_.Post([h = &host_, path] { h->FileWritten(path); });
}

void BridgedHost::WriteFailed(const std::string& path, const std::string& reason) {
    bridge_.Post([h = &host_, path, reason] { h->WriteFailed(path, reason); });
}

int BridgedHost::EntryCount() {
    if (shared_) return shared_->EntryCount();
    return Ask(0, [this] { return host_.EntryCount(); });
}

int BridgedHost::CurrentIndex() {
    if (shared_) return shared_->CurrentIndex();
    return Ask(-1, [this] { return host_.CurrentIndex(); });
}

bool BridgedHost::IsSelected(int index) {
    // A closed bridge answers "not selected" either way: the window is going away.
    if (shared_) return !bridge_.Closed() && shared_->IsSelected(index);
    return Ask(false,
               [this, index] { return index < host_.EntryCount() && host_.IsSelected(index); });
}

std::string BridgedHost::EntryText(int index) {
    if (shared_) return shared_->EntryText(index);
    return Ask(std::string(), [this, index] {
        return index < host_.EntryCount() ? host_.EntryText(index) : std::string();
    });
}

void BridgedHost::FocusSourceList(bool first) {
    bridge_.Post([h = &host_, first] { h->FocusSourceList(first); });
}

void BridgedHost::RefreshTargetList() {
    bridge_.Post([h = &host_] { h->RefreshTargetList(); });
}

void BridgedHost::ShowConversionPage() {
    bridge_.Post([h = &host_] { h->ShowConversionPage(); });
}

void BridgedHost::SetHint(const std::string& text) {
    bridge_.Post([h = &host_, text] { h->SetHint(text); });
}

void BridgedHost::ShowProgressBar(bool visible) {
    bridge_.Post([h = &host_, visible] { h->ShowProgressBar(visible); });
}

void BridgedHost::StepProgress() {
    bridge_.Post([h = &host_] { h->StepProgress(); });
}

void BridgedHost::ResetProgress() {
    bridge_.Post([h = &host_] { h->ResetProgress(); });
}

void BridgedHost::SetStopFace(bool stopping) {
    bridge_.Post([h = &host_, stopping] { h->SetStopFace(stopping); });
}

void BridgedHost::ChooseSourceFolder() {
    bridge_.Post([h = &host_] { h->ChooseSourceFolder(); });
}

void BridgedHost::ChooseTargetFolder() {
    bridge_.Post([h = &host_] { h->ChooseTargetFolder(); });
}

void BridgedHost::AddRecentFolder(const std::string& folder) {
    bridge_.Post([h = &host_, folder] { h->AddRecentFolder(folder); });
}

void BridgedHost::StoreLastSourceFolder(const std::string& folder) {
    bridge_.Post([h = &host_, folder] { h->StoreLastSourceFolder(folder); });
}

}  // namespace ozm
