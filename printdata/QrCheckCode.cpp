#include "printdata/QrCheckCode.h"

#include <QByteArray>
#include <QVector>

#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "printdata/HtmlLog.h"

namespace {

// glibc's CP936 is Windows code page 936: GBK plus the euro sign at 0x80.
const char kAnsiCodePage[] = "CP936";
const char kUnmappable = '?';
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
const char kUcs4[] = "UTF-32LE";
#else
const char kUcs4[] = "UTF-32BE";
#endif

class Converter {
public:
    explicit Converter(const char *codePage) : m_cd(iconv_open(codePage, kUcs4)) {}
    ~Converter()
    {
        if (ok())
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

} // namespace

// A character the code page lacks becomes one "?", the default character the
// Windows conversion writes; iconv's own transliteration would write other
// bytes.
QByteArray QrCheckBytes(const QString &text, const char *codePage)
{
    // Invalid UTF-16 (a lone surrogate) arrives here as U+FFFD, which is
    // unmappable as well.
    QVector<uint> ucs = text.toUcs4();
    QByteArray out;
    Converter converter(codePage);
    if (!converter.ok()) {
        const int err = errno;
        VLOG_WARNING() << "cannot convert to" << codePage << std::strerror(err)
                       << "- the QR check code counts each non-ASCII character as ?";
        for (uint c : ucs)
            out.append(c < 0x80 ? static_cast<char>(c) : kUnmappable);
        return out;
    }
    // At most two bytes a character in code page 936.
    out.resize(ucs.size() * 2);
    char *in = reinterpret_cast<char *>(ucs.data());
    size_t inLeft = static_cast<size_t>(ucs.size()) * sizeof(uint);
    char *to = out.data();
    size_t toLeft = static_cast<size_t>(out.size());
    while (inLeft > 0 &&
           iconv(converter.get(), &in, &inLeft, &to, &toLeft) == static_cast<size_t>(-1)) {
        // Whole UTF-32 units into room for two bytes each: the only failure
        // is a character without a mapping.
        if (errno != EILSEQ)
            break;
        *to++ = kUnmappable;
        --toLeft;
        in += sizeof(uint);
        inLeft -= sizeof(uint);
    }
    out.resize(static_cast<int>(to - out.data()));
    return out;
}

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
    QByteArray bytes = QrCheckBytes(text, kAnsiCodePage);
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
