#pragma once
// What the batch run asks of the main window, cut by role: the source list, the folders, the
// messages and the progress display, the options and the written files.

#include <string>

#include "app/convert/ConversionOptions.h"
#include "app/convert/HostRoles.h"
#include "core/parallel/ThreadBudget.h"

namespace ozm {

class SharedListView;

// The source list as the run reads it, entry by entry.
class RunLists {
  public:
    virtual ~RunLists() = default;
    virtual int EntryCount() = 0;
    virtual int CurrentIndex() = 0;
    // Only called for indexes below the EntryCount read at the start of the run; a list that
    // shrank since must answer false for an index past its end.
    virtual bool IsSelected(int index) = 0;
    virtual std::string EntryText(int index) = 0;
    // The same list for reading from any thread, kept up to date by the host; null (the
    // default) sends every read of a worker to the host's thread.
    virtual const SharedListView* SharedSourceList() { return nullptr; }
    // Gives the source list the keyboard focus, selecting its first entry when asked.
    virtual void FocusSourceList(bool selectFirst) = 0;
    virtual void RefreshTargetList() = 0;
};

// The folders: chosen when missing, remembered when a run completes.
class RunFolders {
  public:
    virtual ~RunFolders() = default;
    virtual void ChooseSourceFolder() = 0;
    virtual void ChooseTargetFolder() = 0;
    virtual void AddRecentFolder(const std::string& folder) = 0;
    // Sets `LastSourceFolder` and stores it at once ("OZMMyHisPath").
    virtual void StoreLastSourceFolder(const std::string& folder) = 0;
};

// Everything the batch run asks of the main window. With a UiBridge every call but Options()
// and TransformThreads() reaches the host on the window's thread; Options() is called on the
// worker and must be safe there (an OptionsSnapshot is).
class ConversionHost : public virtual MessageRole,
                       public RunLists,
                       public virtual ProgressRole,
                       public RunFolders {
  public:
    // The options as they stand now, read for every file and format.
    virtual ConversionOptions Options() = 0;
    // A reader's own message (the TIFF reader's refusals), shown as any other.
    virtual void ReaderMessage(const std::string& text) { ShowMessage(text); }
    // One output file was written.
    virtual void FileWritten(const std::string& path) {}
    // One format of a file could not be written (see PipelineHost::WriteFailed).
    virtual void WriteFailed(const std::string& path, const std::string& reason) {}
    // Lets pending window work run, during a batch on the window's own thread.
    virtual void ProcessPendingWork() {}
    // How many threads one image's steps may keep busy (see TransformHost).
    virtual int TransformThreads() const { return MachineCores(); }
};

}  // namespace ozm
