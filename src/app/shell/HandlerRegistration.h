#pragma once
// The shell menu handler while it is being removed: the uninstall mode makes one
// TOzmImgConvertMenu and removes the handler's registration (the file-manager hooks and the
// launcher) before its window is used.

namespace ozm {

// Stands for the menu handler during its removal; it holds nothing.
class TOzmImgConvertMenu {};

// The process's one TOzmImgConvertMenu, made on first use.
TOzmImgConvertMenu& OzmImgConvertMenu();

// The file hook, the folder hook and the class registration, at the XDG places of the
// environment. Reports nothing; a second call changes nothing.
void RemoveShellMenuRegistration();

}  // namespace ozm
