/* Random GUIDs.
 *
 * GuidNew fills 16 bytes from getrandom() and sets the version-4 and variant
 * bits.  GuidFormat writes them as 8-4-4-4-12 upper-case hexadecimal digits
 * without braces (36 characters and a NUL), the first three groups read as
 * the 32-bit and two 16-bit fields and the rest as bytes in order.  Wrap the
 * text in braces where a name wants them ("Global\{...}").
 *
 * GuidNew returns 0 or a positive errno value (the random source failed).
 */
#ifndef PLENWICK_PLATFORM_GUID_H
#define PLENWICK_PLATFORM_GUID_H

#include <cstdint>

namespace plenwick {

constexpr int kGuidTextLength = 36;

int GuidNew(uint8_t guid[16]);
void GuidFormat(const uint8_t guid[16], char text[kGuidTextLength + 1]);

}  // namespace plenwick

#endif
