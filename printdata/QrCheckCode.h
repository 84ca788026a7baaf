// Check code of the QR texts on the invoice forms.
//
// Contract: AppendQrCheckCode(text) appends ",", the CRC-16/UMTS (polynomial
// 0x8005, initial 0, not reflected, no final XOR) of the text's bytes in code
// page 936 (GBK, as the verifiers compute it) together with that comma as four
// upper-case hex digits, and a final ",". A character code page 936 lacks
// counts as one "?". Only the CRC's input is encoded; the text itself stays
// as it is. "abc" becomes "abc,5957,"; "" becomes ",80EB,". Always returns 0.
#ifndef PLENWICK_PRINTDATA_QRCHECKCODE_H
#define PLENWICK_PRINTDATA_QRCHECKCODE_H

#include <QByteArray>
#include <QString>
#include <cstdint>

int AppendQrCheckCode(QString &text);
void AppendCrcField(QString &text);

// The bytes the check code covers: the text in codePage ("CP936" for the
// check code), a character the code page lacks as one "?". Without a
// converter for codePage (a log line says so) only ASCII keeps its bytes and
// every other character is one "?".
QByteArray QrCheckBytes(const QString &text, const char *codePage);

// out[0] = high byte, out[1] = low byte of the CRC of n bytes.
void Crc16(int n, const unsigned char *bytes, unsigned char out[2]);
// out = four hex digits and a NUL.
void Crc16Hex(int n, const unsigned char *bytes, char out[5]);
// Advances `crc` by one byte.
void Crc16Step(unsigned char byte, uint16_t &crc);

#endif
