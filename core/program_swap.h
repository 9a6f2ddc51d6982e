#pragma once

// Replacing a program file so that, whenever the process dies, the folder
// holds a whole program under the program's name. The previous file is kept
// beside the new one as "<name>.old" (a second name of the same file where
// the file system allows it, a copy where not); the new file takes the name
// by a single rename; and each step is on the disk, folder entry included,
// before the next one starts. Every function returns an empty text on
// success and what failed otherwise.

#include <string>
#include <string_view>

namespace pelko::swap {

// "Pelko" keeps its previous file as "Pelko.old".
std::string PreviousName(std::string_view name);

// The template for a temporary file beside `name` (".Pelko.XXXXXX", for
// mkstemp), so that the last rename stays within one file system.
std::string TemporaryTemplate(const std::string& folder, std::string_view name);
// Whether `entry` is a temporary file of `name`'s, or of its previous file's.
bool IsTemporaryOf(std::string_view entry, std::string_view name);

// Makes the folder's entries durable: renames and removals before it
// survive a power cut.
std::string SyncFolder(const std::string& folder);

// Gives the program file its second name, replacing an older one. With no
// program file there is nothing to keep and nothing fails.
std::string KeepPrevious(const std::string& folder, const std::string& name);
// The same, by copying: for file systems without hard links.
std::string CopyPrevious(const std::string& folder, const std::string& name);
// Moves the complete, synced `temporary` file onto the program's name.
std::string Promote(const std::string& temporary, const std::string& folder,
                    const std::string& name);
// Puts the kept previous file back under the program's name.
std::string RestorePrevious(const std::string& folder, const std::string& name);
// Removes the kept previous file, once the new program proved itself.
std::string DiscardPrevious(const std::string& folder, const std::string& name);
bool HasPrevious(const std::string& folder, const std::string& name);

// Clears what an interrupted update left: temporary files always, and the
// kept previous file when it is the program file itself (killed between
// keeping and promoting) or when `previous_unneeded` (the program in place
// has been seen running). A previous file that may still be the only good
// program stays, until the next update replaces it; with no program file
// at all it is put back.
void CleanUp(const std::string& folder, const std::string& name, bool previous_unneeded);

}  // namespace pelko::swap
