// The remote servers Kelvorn may talk to for updates and uploads.
//
// Any web page can call /v1/print/update and /v1/print/upload, and an update
// installs what it downloads (as root in service mode). So the remote base and
// every package address must be https on a host that the machine's
// administrator listed in <program folder>server/update-hosts: one host name
// or IP literal a line, "#" starts a comment, case does not matter. The file
// counts only when it is a regular file (not a link) that neither group nor
// others may write; scripts/install.sh --update-host HOST writes it.
#pragma once

#include <string>
#include <vector>

// <program folder>server/update-hosts
std::string UpdateHostsPath();

// The hosts listed in the file at path (lower case, IPv6 without brackets).
// False when the file is absent, not a regular file, writable by group or
// others, or too large.
bool ReadUpdateHosts(const std::string& path, std::vector<std::string>* hosts);

// Whether url is an https address without user, query or fragment whose host
// is in hosts.
bool UpdateHostAllowed(const std::string& url, const std::vector<std::string>& hosts);
