// HTTPS: one synchronous GET whose body streams through a caller's sink.
// The feed request and the setup download both fetch through here; the
// Win32 side is WinHTTP.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "common/client_limits.h"
#include "common/result.h"

namespace tamsel {

// What a caller asks for. The defaults are the values both callers use.
// Host and path are UTF-8; the path begins with "/".
struct HttpsRequest {
    std::string host;
    std::string path = "/";
    std::uint16_t port = 443;
    bool secure = true;  // TLS (WINHTTP_FLAG_SECURE)
    std::string verb = "GET";
    std::uint32_t resolve_timeout_ms = tamsel::resolve_timeout_ms;
    std::uint32_t connect_timeout_ms = tamsel::connect_timeout_ms;
    std::uint32_t send_timeout_ms = tamsel::send_timeout_ms;
    std::uint32_t receive_timeout_ms = tamsel::receive_timeout_ms;
    std::uint32_t expected_status = 200;
    // "host:port" of a named proxy set by policy; empty: the automatic choice.
    std::string proxy;
};

// Where the body goes. The sink belongs to the caller; the fetch only calls
// `write` with each chunk, in order, and never hands it more than `limit`
// bytes in total. `write` returns false to stop the fetch.
struct BodySink {
    std::uint64_t limit = 0;
    std::function<bool(std::span<const std::uint8_t> chunk)> write;
};

class Https {
public:
    virtual ~Https() = default;
    // One GET. On success, the number of body bytes handed to the sink.
    // A failure on any ground: no connection, TLS or certificate refused, a
    // status other than the expected one (the body is then not read), a body
    // beyond the sink's limit, a sink that refused a chunk, a time-out. Its
    // cause tells the kinds apart: the WinHTTP (or Win32) error code of the
    // call that failed, or the status (100 to 599) of an answer that was not
    // the expected one; 0 for a body beyond the limit or a sink that refused it.
    virtual Result<std::uint64_t> https_get(const HttpsRequest& request, const BodySink& sink) = 0;
    // One GET whose answer is not read: the status of the final response,
    // whatever it is, or a failure with the cause of the call that failed.
    // `expected_status` plays no part.
    virtual Result<std::uint32_t> https_get_status(const HttpsRequest& request) = 0;
};

}  // namespace tamsel
