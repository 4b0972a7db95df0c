#pragma once

#include <string>
#include <vector>

namespace tamro {

// The security identifier of a service's virtual account, NT SERVICE\NAME, as text
// ("S-1-5-80-..."): derived from the name alone, so it is known before the service exists.
std::string service_account_sid(const std::string& service);

// One entry of a folder's access list, handed down to everything in the folder.
struct folder_access {
  enum rights { full_control, modify, read_and_execute };
  std::string account;  // as people read it, "BUILTIN\Administrators"
  std::string sid;      // "S-1-5-32-544" or an SDDL alias, "BA"
  rights granted;
};

// The list as icacls writes it: "BUILTIN\Administrators:(OI)(CI)(F) ...".
std::string access_text(const std::vector<folder_access>& entries);

// Makes the entries the folder's whole access list, not inherited from the folder's parent;
// what the folder holds inherits it. Throws std::runtime_error naming the folder and the
// system's reason.
void protect_folder(const std::string& folder, const std::vector<folder_access>& entries);

}  // namespace tamro
