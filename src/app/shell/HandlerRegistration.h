#pragma once
// The shell menu handler: what its file hooks offer to take, and its removal. The uninstall
// mode makes one TOzmImgConvertMenu and removes the handler's registration (the file-manager
// hooks and the launcher) before its window is used.

#include "platform/FileManagerHooks.h"

namespace ozm {

// Stands for the menu handler during its removal; it holds nothing.
class TOzmImgConvertMenu {};

// The process's one TOzmImgConvertMenu, made on first use.
TOzmImgConvertMenu& OzmImgConvertMenu();

// The file hook, the folder hook and the class registration, at the XDG places of the
// environment. Reports nothing; a second call changes nothing.
void RemoveShellMenuRegistration();

// The files the file hooks offer to take: every extension the desktop program reads (the
// listed rows with a decoder, ".tiff" included, ".ico" not) and their MIME types, in the
// order the file managers' filters list them.
HookFilter ImageHookFilter();

}  // namespace ozm
