// Rules of the client that the vendor's tools check before anything is
// published, where the updater's own code has no function to call for them.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "common/client_limits.h"
#include "common/log_messages.h"
#include "feed/feed.h"

namespace tamsel::tool {

// Why a version text should not be published, with what clients would make
// of it; nothing when it is written as clients write the installed version
// (major.minor.build, each 0 to 65535 without leading zeros, from Tamsel.exe's
// file version). Clients judge an offer by its first three numbers, so a
// fourth piece or a leading zero is still found installed; but stop orders
// and the failed list compare the text as written, and a fourth piece is
// ignored when a later release is judged newer.
std::optional<std::string> version_text_problem(std::string_view version);

// A line of the client's log, quoted, for advice: taken from the updater's
// message table, so a message renamed there fails this build instead of
// leaving the advice wrong.
inline std::string said(LogMessage message) { return "\"" + std::string(message.text()) + "\""; }
// The client's text as a finding's heading, then what is wrong in detail.
inline std::string client_says(LogMessage message, std::string_view detail = {}) {
    return std::string(message.text()) + (detail.empty() ? "" : ": ") + std::string(detail);
}

// The files prefix of a client built for this host: https://HOST/tamsel/files/.
std::string files_prefix_for(std::string_view host);
// The feed address of that client.
std::string feed_url_for(std::string_view host);
// Whether a text is a plain host name, as the build takes it.
bool is_plain_host(std::string_view host);

// The product version in a Windows program's version resource (the fixed
// file information in its resource section), as "a.b.c.d"; nothing when the
// file is no PE image or has none.
std::optional<std::string> product_version_of(std::string_view image);

// Why clients of `host` send no reports for a feed's [report], or nothing
// when they send them: a refused prefix (report_prefix_refusal's reason) or
// a section of the wrong shape. No [report] is no fault.
std::optional<std::string> report_problem(const FeedSection<Report>& report, std::string_view host);
// The same as one line for lint and dry-run: where clients report, or that
// (and why) they do not.
std::string report_setting(const FeedSection<Report>& report, std::string_view host);

// Whether a file starts with a signature line (and so is a feed answer, not
// a bare document).
bool looks_signed(std::string_view file);

}  // namespace tamsel::tool
