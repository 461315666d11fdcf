// The failures of the feed path after the fetch, and what the check run logs
// for each. The two signature-line kinds share one message on purpose: the
// log does not say which rule the line broke.
#pragma once
#include "common/log_messages.h"

namespace tamsel {

enum class FeedError {
    signature_line,      // no line feed, or a signature line of the wrong form
    signature_encoding,  // the quoted text is no strict Base64 of 64 bytes
    signature,           // neither key verifies
    document,            // the document's syntax or shape
    schema,              // a schema other than 1
};

constexpr LogMessage feed_error_message(FeedError error) {
    switch (error) {
    case FeedError::signature_line:
    case FeedError::signature_encoding: return "feed signature line refused";
    case FeedError::signature: return "feed signature did not verify";
    case FeedError::document: return "feed document refused";
    case FeedError::schema: return "feed from a newer schema";
    }
    return "feed document refused";
}

}  // namespace tamsel
