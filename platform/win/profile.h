#pragma once
// Where this machine's and this user's files are.
//
// An installed program finds its machine-wide files under the root it runs from, so a
// package unpacked into another folder (dpkg -x, DESTDIR) runs from there as from "/".
// A program that does not run from its installed place (a build tree) has none.

#include <optional>
#include <string>

namespace platform {

// The folder of the running executable, symbolic links resolved; "" when unknown.
std::string ProgramFolder();

// Where the installed program lives, as configured (/usr/libexec/halvora); "" in a build
// configured without an install layout.
std::string InstalledProgramFolder();
// The install root of a program running from ProgramFolder: ProgramFolder without the
// installed program folder at its end ("" for "/"); nullopt when it does not end so.
std::optional<std::string> InstallRootOf(const std::string& programFolder);

// <root><sysconfdir>/halvora and <root><datadir>/halvora; "" when not installed.
std::string MachineConfigFolder();
std::string MachineDataFolder();
// Tests stand in a root of their own; nullopt goes back to the program's own.
void SetInstallRootForTests(std::optional<std::string> root);

// $HOME, else the home named in the password database; "" when there is none.
std::string UserHome();

enum class UserFolderKind { Config, Data, State };
// $XDG_CONFIG_HOME, $XDG_DATA_HOME or $XDG_STATE_HOME when absolute, else ~/.config,
// ~/.local/share or ~/.local/state; "" without a home.
std::string UserBaseFolder(UserFolderKind kind);
// The user's own data folder: <data home>/halvora.
std::string UserDataFolder();

// mkdir -p, new folders private to the user.
bool MakeFolders(const std::string& path);

// Makes User hold every file that Machine holds, as a link to it: missing entries and
// links whose file is gone are (re)linked, anything else is the user's own and stays.
// Folders are made as real, private folders. Nothing happens when the two are one folder.
bool SeedFolder(const std::string& machine, const std::string& user);
// Seeds the user's data folder from the machine's, once per process (installed programs).
void PrepareUserDataFolder();

// %HOME%, %XDG_CONFIG_HOME%, %XDG_DATA_HOME% and %XDG_STATE_HOME%, spelt so, replaced by
// the folders above; other %...% texts, and those with no folder, stay as written.
std::string ExpandUserFolders(const std::string& text);

}  // namespace platform
