#include "printdata/QrCheckCode.h"

#include <QByteArray>

void Crc16Step(unsigned char byte, uint16_t &crc)
{
    for (int bit = 7; bit >= 0; --bit) {
        const bool dataBit = (byte >> bit) & 1;
        const bool topBit = (crc & 0x8000) != 0;
        crc = static_cast<uint16_t>(crc << 1);
        if (topBit != dataBit)
            crc ^= 0x8005;
    }
}

void Crc16(int n, const unsigned char *bytes, unsigned char out[2])
{
    uint16_t crc = 0;
    for (int i = 0; i < n; ++i)
        Crc16Step(bytes[i], crc);
    out[0] = static_cast<unsigned char>(crc >> 8);
    out[1] = static_cast<unsigned char>(crc & 0xFF);
}

void Crc16Hex(int n, const unsigned char *bytes, char out[5])
{
    static const char kHex[] = "0123456789ABCDEF";
    unsigned char crc[2];
    Crc16(n, bytes, crc);
    out[0] = kHex[crc[0] >> 4];
    out[1] = kHex[crc[0] & 0xF];
    out[2] = kHex[crc[1] >> 4];
    out[3] = kHex[crc[1] & 0xF];
    out[4] = '\0';
}

void AppendCrcField(QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.append(',');
    char digits[5];
    Crc16Hex(bytes.size(), reinterpret_cast<const unsigned char *>(bytes.constData()), digits);
    text += QLatin1Char(',');
    text += QLatin1String(digits);
    text += QLatin1Char(',');
}

int AppendQrCheckCode(QString &text)
{
    AppendCrcField(text);
    return 0;
}
