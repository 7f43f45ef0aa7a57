#pragma once
// The settings file: a profile file of "[section]" lines and "key=value" lines, read and
// written with the rules of the classic profile functions. Section and key names compare
// without regard to ASCII case; every write goes to the file at once (the file and its
// sections are created on the first write); Booleans are written "1"/"0" and read as true
// for any integer but 0; integers are written in decimal and read in decimal or in
// hexadecimal after "$" or "0x"; a value that is missing or not a number gives the default;
// texts are read up to 2047 characters. Lines the program does not know (other sections,
// other keys, comments) are kept where they are.
//
// Values are kept byte for byte (a folder name on this system is bytes, in whatever
// encoding): nothing is re-encoded, and a value that begins or ends with a blank or a quote
// is written in double quotes, so every value without a line break reads back as written.
// A leading byte-order mark of the file is ignored.
//
// The file is replaced atomically; a symbolic link to it stays a link and the write goes to
// its target. A file that is there but cannot be loaded (unreadable, not a regular file, too
// large) is never overwritten. Each write re-reads the file under an advisory lock shared
// with other processes (the main window and a quick conversion), applies this process's
// keys and replaces the file before letting go, so no process loses another's keys. A
// change made by another process is picked up before the next read. One object may be used
// from several threads (the quick conversion stores its keys from its worker).
//
// Replacing the file waits for the disk (the data is flushed before the rename, so that a
// power cut cannot leave an empty file). WriteSoon hands a value to a thread of the object's
// own instead, for keys stored on every click, where the window must not wait.

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace ozm {

// Longest text a read returns, in characters (Unicode code points).
inline constexpr std::size_t kMaxProfileTextLength = 2047;

// Settings files above this size are not loaded (and not overwritten).
inline constexpr std::size_t kMaxProfileFileBytes = 4 * 1024 * 1024;

// Outcome of a write: empty when it reached the file, else the message to show the user
// ("Unable to write to <file>").
struct WriteResult {
    std::string error;
    bool Ok() const { return error.empty(); }
};

// The message for a file that could not be written.
std::string UnableToWriteMessage(const std::filesystem::path& file);

// One key's value for ProfileFile::WriteChangedValues.
struct ProfileValue {
    std::string_view section;
    std::string_view key;
    std::string value;
};

class ProfileFile {
  public:
    explicit ProfileFile(std::filesystem::path file);
    // Waits until every value given to WriteSoon is in the file (or has failed).
    ~ProfileFile();
    ProfileFile(const ProfileFile&) = delete;
    ProfileFile& operator=(const ProfileFile&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue);
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue);
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue);

    // A value that equals the stored one leaves the file untouched. Values holding a line
    // break are refused: they would split into lines of their own.
    WriteResult WriteString(std::string_view section, std::string_view key, std::string_view value);
    WriteResult WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    WriteResult WriteBool(std::string_view section, std::string_view key, bool value);

    // Stores, in one replacement of the file, the values this process changed: those that
    // differ from what this object first read for the key (the default, when the key was
    // missing; Booleans and integers as they would be written) or last wrote. A key whose
    // value is unchanged keeps whatever another process stored meanwhile. Nothing is
    // written when nothing changed.
    WriteResult WriteChangedValues(const std::vector<ProfileValue>& values);

    // Stores the value as WriteString does, but on the object's own thread: the caller does
    // not wait for the disk. Of several values for one key the last wins; reads see it at
    // once; a later write of the key through the other calls replaces it. A failure reaches
    // the write-failure handler only, on that thread.
    void WriteSoon(std::string_view section, std::string_view key, std::string value);
    // Waits until every value given to WriteSoon so far is in the file (or has failed).
    void Flush();

    // Called with the message of every write that fails, on the writing thread, after the
    // object's lock is let go. Set it before any other thread writes.
    void SetWriteFailureHandler(std::function<void(const std::string& error)> handler) {
        onWriteFailure_ = std::move(handler);
    }

  private:
    struct Stamp {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        bool operator==(const Stamp& other) const;
    };
    struct Position {
        std::size_t index;  // line index of the key, or where a new key goes
        bool keyFound;
        bool sectionFound;
    };

    using KeyName = std::pair<std::string, std::string>;  // section and key, ASCII lower case

    // Loads the file when its stamp changed, or always with `force`.
    void Refresh(bool force = false);
    // Notes the value a read gave, unless this object already knows one for the key.
    void RememberRead(std::string_view section, std::string_view key, std::string value);
    // Puts the value into lines_. False when the file already holds it.
    bool SetLine(std::string_view section, std::string_view key, std::string_view value);
    // Re-reads the file under the lock, lets `apply` change lines_ and replaces the file
    // when `apply` returns true.
    template <typename Apply>
    WriteResult LockedUpdate(Apply&& apply);
    Stamp CurrentStamp() const;
    std::optional<std::string> FindValue(std::string_view section, std::string_view key) const;
    Position Locate(std::string_view section, std::string_view key) const;
    std::string Serialize() const;

    std::filesystem::path path_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::string lineEnd_ = "\n";
    bool unreadable_ = false;  // the file is there but could not be loaded
    std::optional<Stamp> stamp_;
    std::map<KeyName, std::string> known_;  // what this process last saw or wrote per key
    std::function<void(const std::string&)> onWriteFailure_;

    WriteResult Reported(WriteResult result) const {
        if (!result.Ok() && onWriteFailure_) onWriteFailure_(result.error);
        return result;
    }
    WriteResult WriteStringLocked(std::string_view section, std::string_view key,
                                  std::string_view value);
    WriteResult WriteChangedValuesLocked(const std::vector<ProfileValue>& values);
    // Puts the values into the file in one replacement and notes them as known. With mutex_
    // held.
    WriteResult StoreLocked(const std::vector<const ProfileValue*>& values);

    struct Pending {
        std::string section, key, value;
    };
    // The value WriteSoon holds for the key, if any. Called with mutex_ held.
    std::optional<std::string> PendingValue(std::string_view section, std::string_view key);
    // A write of the key in hand replaces what WriteSoon holds for it. With mutex_ held.
    void DropPending(std::string_view section, std::string_view key);
    void WriteBehind();

    // Lock order: mutex_ before pendingMutex_.
    std::mutex pendingMutex_;
    std::condition_variable pendingChanged_;
    std::map<KeyName, Pending> pending_;
    bool writingPending_ = false;  // the thread is writing values it took from pending_
    bool stopping_ = false;
    std::thread writer_;
};

}  // namespace ozm
