// What the update and upload handlers share: the remote address from the
// request, the headers they forward, the texts of network failures, the
// base64 decoder, the MD5 digest and the version probes of the component
// libraries.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/HttpRequest.h"

// Replies of a remote address that must not be used.
extern const char kRemoteUrlInvalid[];   // "url" is no base64
extern const char kRemoteHostRefused[];  // not https, or its host is not listed

// The eight header lines passed on to the remote service, in order: the
// browser's User-Agent and Content-Type (with defaults), then the query
// values cookie, SSO_SECURITY_CHECK_TOKEN, X_B3_Sampled, X-B3-SpanId,
// X-B3-TraceId, X-Tsf-Client-Timestamp. An absent value leaves its line
// empty, and libcurl sends no header for an empty line.
std::vector<std::string> ForwardedHeaders(const HttpRequest& request);

// The remote endpoint: base64-decoded query value "url" + path. False with the
// reply text in *message (and a log line under label) when "url" does not
// decode or the endpoint is not an allowed host (UpdateHosts.h).
bool RemoteEndpoint(const HttpRequest& request, const char* path, const char* label,
                    std::string* url, std::string* message);

// Whether address may be fetched; false logs the refusal under label.
bool RemoteAddressAllowed(const std::string& address, const char* label);

// The reply text of a failed libcurl transfer.
std::string NetworkErrorText(int code);

// Base64 in both alphabets ("+/" and "-_"), "=" or "." as padding. False with
// the reason in *error for any other character or a final group of one.
bool Base64Decode(const std::string& text, std::string* bytes, std::string* error = nullptr);

// MD5 of the bytes as 32 upper-case hex digits.
std::string Md5Hex(const void* bytes, size_t length);

// fnVersion of <program folder>library (a zero-filled 1024-byte buffer, the
// text up to its NUL); "" when the library or the export is missing.
std::string LoadDllVersion(const char* library);

// fnZorvHardwareInformation of <program folder>libTirrel.so, the same way.
std::string TirrelHardwareInformation();

extern const char kVornelLibrary[];  // "libVornel.so"
extern const char kTirrelLibrary[];  // "libTirrel.so"
