#include <windows.h>
#include <winhttp.h>

#include <array>

#include "platform/win32/implementations.h"
#include "platform/win32/last_error.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {
namespace {

// WinHTTP handles (owned_handle.h) are declared in the order session,
// connection, request, so they close in the reverse order.

constexpr DWORD chunk_size = 8192;

// WinHTTP takes zero-terminated texts: an inner zero would silently cut the
// host or path short, so such a text is not handed over at all.
std::optional<std::wstring> to_terminated_wide(const std::string& text) {
    if (text.find('\0') != std::string::npos) return std::nullopt;
    return to_wide(text);
}

// One GET. With a sink, the body goes there as https_get says; without one,
// the answer's status is the result and the body is not read.
Result<std::uint64_t> exchange(const HttpsRequest& request, const BodySink* sink) {
    // A failure that no call reports (a text that cannot be handed over, a
    // body beyond the limit, a sink that refused) has the cause 0.
    const auto host = to_terminated_wide(request.host);
    const auto path = to_terminated_wide(request.path);
    const auto verb = to_terminated_wide(request.verb);
    if (!host || !path || !verb) return Failure{};
    std::optional<std::wstring> proxy;
    if (!request.proxy.empty()) {
        proxy = to_terminated_wide(request.proxy);
        if (!proxy) return Failure{};
    }

    // An administrator's named proxy replaces the automatic choice; the
    // system account has no user's proxy settings to fall back on.
    const InternetHandle session(
        proxy ? WinHttpOpen(L"Tamsel", WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy->c_str(), WINHTTP_NO_PROXY_BYPASS, 0)
              : WinHttpOpen(L"Tamsel", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return last_failure();

    // A failure to set the time-outs leaves WinHTTP's defaults, which still
    // end every wait; the fetch goes on.
    WinHttpSetTimeouts(session.get(), static_cast<int>(request.resolve_timeout_ms),
                       static_cast<int>(request.connect_timeout_ms), static_cast<int>(request.send_timeout_ms),
                       static_cast<int>(request.receive_timeout_ms));

    const InternetHandle connection(WinHttpConnect(session.get(), host->c_str(), request.port, 0));
    if (!connection) return last_failure();

    const InternetHandle handle(WinHttpOpenRequest(connection.get(), verb->c_str(), path->c_str(), nullptr,
                                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                   request.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!handle) return last_failure();

    // The receive time-out of WinHttpSetTimeouts does not cover the wait for
    // the response headers (Windows allows 90 s there; Wine waits without end,
    // even through a stalled TLS handshake). This option bounds that wait by
    // the same receive time-out. Ignored on failure like the time-outs above.
    DWORD response_timeout = request.receive_timeout_ms;
    WinHttpSetOption(handle.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                     sizeof(response_timeout));

    if (!WinHttpSendRequest(handle.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        return last_failure();
    if (!WinHttpReceiveResponse(handle.get(), nullptr)) return last_failure();

    DWORD status = 0;
    DWORD status_size = sizeof(status);
    if (!WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX)) {
        status = 0;
    }
    if (sink == nullptr) {
        if (status == 0) return last_failure();
        return status;
    }
    if (status != request.expected_status) {
        // The status is the cause an administrator can act on (404, 407,
        // 5xx); a status that could not be read is told by the query's error.
        if (status == 0) return last_failure();
        return Failure{status};
    }

    std::array<std::uint8_t, chunk_size> buffer;
    std::uint64_t count = 0;
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(handle.get(), buffer.data(), chunk_size, &got)) return last_failure();
        if (got == 0) return count;
        count += got;
        if (count > sink->limit) return Failure{};
        if (!sink->write || !sink->write(std::span<const std::uint8_t>(buffer.data(), got))) return Failure{};
    }
}

}  // namespace

Result<std::uint64_t> Win32Https::https_get(const HttpsRequest& request, const BodySink& sink) {
    return exchange(request, &sink);
}

Result<std::uint32_t> Win32Https::https_get_status(const HttpsRequest& request) {
    const auto status = exchange(request, nullptr);
    if (!status) return status.error();
    return static_cast<std::uint32_t>(*status);
}

}  // namespace tamsel::win32
