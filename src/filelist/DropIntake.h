#pragma once
// Which dropped names become rows of the file list: shortcuts are followed to their targets,
// only four file types are taken, "." and ".." are taken out of a name, and a file already
// listed is skipped, whether under the same name (ignoring ASCII case) or under another name
// of the same file (a symbolic or hard link): its first name is the one listed.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TFileListModel;

// The text from the last "." after the last path separator or drive colon, dot included, with
// ASCII letters lower-cased; empty when there is none.
std::string LowerExtension(std::string_view Name);

// The name a dropped item is listed under: a shortcut's target, or the name itself; nullopt when
// it is not one of the four file types. Whether it exists is not asked.
std::optional<std::string> ListableName(const std::string& Name);

// Every file below Folder, in its sub-folders too, sorted by name; folders that cannot be read
// are passed over, and links to folders are not followed.
std::vector<std::string> FilesBelow(const std::string& Folder);

// Appends each listable name that is not yet listed, in the order given; returns how many rows
// were added.
int AppendDroppedNames(const std::vector<std::string>& Names, TFileListModel& Files);
