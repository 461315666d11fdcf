// Rules of the client that the vendor's tools check before anything is
// published, where the updater's own code has no function to call for them.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "common/client_limits.h"

namespace tamsel::tool {

// Why the installed version text (major.minor.build, each 0 to 65535 without
// leading zeros, read from Tamsel.exe's version resource) can never equal
// this version text; nothing when it can. A client compares the two as whole
// texts after an installation, so such a version is never found installed,
// and with a fourth piece that is not 0 it stays newer than what is installed
// and is offered again every day.
std::optional<std::string> version_text_problem(std::string_view version);

// The files prefix of a client built for this host: https://HOST/tamsel/files/.
std::string files_prefix_for(std::string_view host);
// The feed address of that client.
std::string feed_url_for(std::string_view host);
// Whether a text is a plain host name, as the build takes it.
bool is_plain_host(std::string_view host);

// Whether a file starts with a signature line (and so is a feed answer, not
// a bare document).
bool looks_signed(std::string_view file);

}  // namespace tamsel::tool
