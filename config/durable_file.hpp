#pragma once

#include <string>

namespace tamro {

// Writes text to a new file and has the system put it on the disk before returning, so that
// renaming it over an old file afterwards leaves either file whole even after a power loss.
// Before any text is in it, the file gets the permissions and, where the system permits, the
// owner of the regular file at `replaced` (a devices file holds communities); without one it
// is for its owner alone. Throws std::runtime_error naming the file and the system's reason.
void write_durable_file(const std::string& path, const std::string& text,
                        const std::string& replaced);

// After a rename into it: has the system put the folder's entry on the disk as well.
void sync_folder(const std::string& folder);

}  // namespace tamro
