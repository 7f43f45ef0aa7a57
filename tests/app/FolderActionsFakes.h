#pragma once
// Fakes for the folder actions: a host that records and answers as told, a shell that
// records what it was asked to open, a volume table that can change, and HOME with every
// XDG folder inside a scratch folder.

#include <cstdlib>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/shell/FolderShortcuts.h"

namespace ozm::test {

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// HOME and the XDG folders the program reads, all under `home`.
struct ScopedHome {
    explicit ScopedHome(const std::filesystem::path& home)
        : h("HOME", home.string()),
          c("XDG_CONFIG_HOME", (home / ".config").string()),
          d("XDG_DATA_HOME", (home / ".local/share").string()),
          s("XDG_STATE_HOME", (home / ".local/state").string()),
          k("XDG_CACHE_HOME", (home / ".cache").string()) {}
    ScopedEnv h, c, d, s, k;
};

class FakeFolderHost : public FolderActionsHost {
  public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::string ChooseFolder(const std::string& prompt, const std::string& start) override {
        chooserCalls.emplace_back(prompt, start);
        if (answers.empty()) return {};
        std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }
    bool AskYesNo(const std::string& text, const std::string& title) override {
        questions.push_back(title + ": " + text);
        return yes;
    }
    void FocusPathBox(ListSide side) override {
        focused.push_back(side == ListSide::Source ? "EdtPath" : "EdtOutput");
    }
    void FocusList(ListSide side) override {
        focused.push_back(side == ListSide::Source ? "LbDocList" : "LbTarget");
    }
    void StepProgress() override { ++steps; }
    void ResetProgress() override {
        ++resets;
        steps = 0;
    }
    bool StopRequested() override { return stopAtStep > 0 && steps >= stopAtStep; }
    std::string AskNewName(const std::string& oldName) override {
        renameAsked.push_back(oldName);
        return newName ? *newName : oldName;
    }

    std::vector<std::string> messages;
    std::vector<std::pair<std::string, std::string>> chooserCalls;
    std::deque<std::string> answers;
    std::vector<std::string> questions;
    bool yes = true;
    std::vector<std::string> focused;
    int steps = 0;
    int resets = 0;
    int stopAtStep = 0;
    std::vector<std::string> renameAsked;
    std::optional<std::string> newName;  // nullopt: the window was closed
};

class RecordingShell : public ShellOpen {
  public:
    void Open(const std::filesystem::path& path) override {
        calls.push_back("open " + path.string());
    }
    void OpenInImageEditor(const std::filesystem::path& file) override {
        calls.push_back("editor " + file.string());
    }
    void OpenAddress(const std::string& address) override { calls.push_back("address " + address); }
    std::vector<std::string> calls;
};

class TableDrives : public Drives {
  public:
    TableDrives() { Add("/"); }
    void Add(const std::filesystem::path& mountPoint, bool removable = false) {
        MountedVolume v;
        v.mountPoint = mountPoint;
        v.root = "/";
        v.removable = removable;
        volumes.push_back(v);
    }
    std::vector<MountedVolume> Volumes() const override { return volumes; }
    std::vector<MountedVolume> volumes;
};

}  // namespace ozm::test
