#pragma once
// A main window with a session of its own, made as the program's start-up makes them: the
// session first, ended last.

#include <filesystem>
#include <utility>

#include "app/session/AppSession.h"
#include "app/ui/MainForm.h"

namespace ozm::test {

struct OwnSession {
    explicit OwnSession(std::filesystem::path programFolder) : session(std::move(programFolder)) {}
    AppSession session;
};

class SessionForm : private OwnSession, public TMainForm {
  public:
    explicit SessionForm(std::filesystem::path programFolder)
        : OwnSession(std::move(programFolder)), TMainForm(session) {}
    AppSession& Session() { return session; }
};

}  // namespace ozm::test
