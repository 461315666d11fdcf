// "/prepare": the updater makes its own folders as the folder guard wants
// them, for the MSI and the install script, which run it as the system
// account. It judges the program folder first: a folder that others may
// change would let them replace what the system account runs every hour.
#pragma once
#include <string>

#include "platform/platform.h"

namespace tamsel {

// What /prepare did, in lines for whoever runs it, and its exit code.
struct PrepareResult {
    int exit_code = 0;
    std::string text;
};

// Makes `folder` (in `parent`) a real folder with the kit's descriptor:
// created with it, or an existing one given it by handle, or, when the
// existing entry is a file, a link or junction or owned by somebody else,
// moved aside to a dated name in `parent` and made anew. Appends what it did
// to `text`; false when the folder could not be made safe.
bool prepare_folder(const std::string& folder, const std::string& stamp, Platform& platform, std::string& text);

// Takes out of the update folder what the updater did not write: folders
// (whatever their name) are moved aside into the data folder, files owned by
// anybody but the system account or the Administrators, and links, are
// removed; a file of theirs that anybody else may even read gets the kit's
// descriptor. The state file, the log and the other files of passes stay.
// False when an entry could not be taken out.
bool clear_update_folder(const std::string& update_dir, const std::string& data_dir, const std::string& stamp,
                         Platform& platform, std::string& text);

// The whole mode over the folders a pass uses. The caller has checked the
// account already.
PrepareResult prepare(Platform& platform);

// The mode: prepare, its text on standard output, its exit code.
int prepare_mode(Platform& platform);

}  // namespace tamsel
