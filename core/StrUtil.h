/* Small text routines shared by both programs.
 *
 *  - Utf8ToAnsi / AnsiToUtf8: the system's code page is UTF-8, so both are the
 *    identity; the result ends at the first NUL byte.
 *  - ToLower: A-Z become a-z in place, every other byte stays.
 *  - BytesToHex: 16 bytes as 32 upper-case hex digits, high nibble first.
 *  - IntToString: decimal text of a 32-bit signed value.
 *  - NewGuidText: prefix + new random GUID "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"
 *    (upper case, no braces); "" when no random bytes could be had.
 *  - ReplaceAll: replaces occurrences until none is left, including ones that a
 *    replacement forms with its neighbours.  An empty search text does nothing.
 *  - SplitKeyValue: "key=value" (first "=") into the map, replacing an earlier
 *    value; a piece without "=" is ignored.
 *  - SplitString: cuts text at every match of separator (an ECMAScript regular
 *    expression, in practice "&") and gives each piece to SplitKeyValue.
 *  - MapToJson: a formatted JSON object (cJSON's printer, tab indentation) with
 *    the members in key order; a value starting "{" or "[{" is embedded as
 *    parsed JSON, or left out when it does not parse; any other value becomes
 *    a JSON string.
 */
#ifndef PLENWICK_CORE_STRUTIL_H
#define PLENWICK_CORE_STRUTIL_H

#include <cstdint>
#include <map>
#include <string>

/* Ordered by byte-wise key comparison; an equal key replaces the value. */
using StringMap = std::map<std::string, std::string>;

std::string Utf8ToAnsi(const std::string& text);
std::string AnsiToUtf8(const std::string& text);
void ToLower(std::string& text);
std::string BytesToHex(const unsigned char bytes[16]);
std::string IntToString(int32_t value);
std::string NewGuidText(const std::string& prefix);
void ReplaceAll(std::string& text, const std::string& search, const std::string& replacement);
void SplitKeyValue(const std::string& piece, StringMap& map);
void SplitString(const std::string& text, const std::string& separator, StringMap& map);
void MapToJson(const StringMap& map, std::string& out);

#endif
