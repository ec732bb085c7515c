#pragma once
// The desktop session: a private directory that scopes broadcasts and named
// objects. Every process with windows listens on a socket there; two
// directories are two separate desktops.
//
// The directory is ZORVANE_DESKTOP when set, else $XDG_RUNTIME_DIR/zorvane-desktop,
// else /tmp/zorvane-desktop-<uid>. It is created with mode 0700 and refused when
// it belongs to another user, is open to others (any group or other permission
// bit), is not a directory, or is a link owned by another user.
#include <string>

// The directory this process would use, from the environment (no checks).
std::string desktopDirectoryFromEnvironment();

// Creates the directory (mode 0700, its parent must exist) when missing and
// checks it. On refusal returns false and sets error to a readable reason.
bool prepareDesktopDirectory(const std::string& path, std::string& error);

// The process's desktop, chosen and checked once on first use. Empty when the
// directory was refused; the reason is traced and kept in desktopError().
const std::string& desktopDirectory();
const std::string& desktopError();

// Whether path is a socket of this user itself: a symbolic link (to
// anything) or another kind of file is not, so it is never followed.
bool isDesktopSocket(const std::string& path);
