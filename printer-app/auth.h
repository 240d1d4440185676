// Who may do what (see README.md, "Who may do what").
//
// Anyone who reaches the server may print, look at printers and jobs, and cancel their
// own jobs. Everything that changes the system (adding, changing, pausing and deleting
// printers, shutting down, log settings, reading the log, cancelling other people's
// jobs) takes an administrator: the server's own user or root, known from the kernel
// (the control socket only lets them connect; a loopback TCP client is looked up in
// the kernel's socket table), or anyone with the administrator password
// (HTTP Basic, any user name), which `inkrow-printer-app passwd` stores hashed.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace inkrow::app {

// Puts the rules in force on a system being set up; `stateDirectory` holds the hash.
void InstallAccessRules(pappl_system_t* system, const std::string& stateDirectory);

// Makes the control socket reachable by the server's own user only (PAPPL creates it
// for everybody); called once the server listens.
void ProtectControlSocket(const std::string& path);

// The `passwd` sub-command: reads a password (8 to 256 bytes) from standard input and
// stores its hash in the state directory. Exit status.
int SetAdminPassword(const std::string& stateDirectory);

// The user id of the process at the other end of a loopback TCP connection `fd`, from
// /proc/net/tcp or tcp6; false when it is not a loopback connection or not found.
bool FindLoopbackPeer(int fd, uid_t* uid);

// The name of the local user at the other end of a loopback TCP client, or "".
std::string FindLoopbackUser(pappl_client_t* client);

}  // namespace inkrow::app
