#include "media/Wbmp.h"

#include <vector>

namespace tess::media {

QByteArray wbmpMultibyte(quint32 value) {
    QByteArray bytes(1, char(value & 0x7f));
    for (value >>= 7; value != 0; value >>= 7)
        bytes.prepend(char(0x80 | (value & 0x7f)));
    return bytes;
}

QByteArray wbmpFromRgb(const QByteArray& rgb, int width, int height) {
    if (width <= 0 || height <= 0 || rgb.size() < qsizetype(width) * height * 3)
        return {};
    QByteArray out;
    out.append('\0'); // TypeField 0: B/W, no compression
    out.append('\0'); // FixHeaderField: no extension headers
    out.append(wbmpMultibyte(quint32(width)));
    out.append(wbmpMultibyte(quint32(height)));
    const int rowBytes = (width + 7) / 8;
    const qsizetype start = out.size();
    out.append(QByteArray(qsizetype(rowBytes) * height, '\0'));
    uchar* bits = reinterpret_cast<uchar*>(out.data()) + start;
    const auto* px = reinterpret_cast<const uchar*>(rgb.constData());

    // Two rows of error, one pixel of margin each side so the kernel needs no bounds checks.
    std::vector<float> here(size_t(width) + 2), next(size_t(width) + 2);
    for (int y = 0; y < height; ++y) {
        std::fill(next.begin(), next.end(), 0.0f);
        const bool leftToRight = (y % 2) == 0;
        const int dir = leftToRight ? 1 : -1;
        for (int i = 0; i < width; ++i) {
            const int x = leftToRight ? i : width - 1 - i;
            const uchar* p = px + (qsizetype(y) * width + x) * 3;
            // Rec. 601 luma of the sRGB values, as the eye weighs the three.
            const float grey = 0.299f * p[0] + 0.587f * p[1] + 0.114f * p[2] + here[size_t(x) + 1];
            const bool white = grey >= 127.5f;
            if (white)
                bits[qsizetype(y) * rowBytes + x / 8] |= uchar(0x80 >> (x % 8));
            const float err = grey - (white ? 255.0f : 0.0f);
            here[size_t(x + dir) + 1] += err * 7.0f / 16.0f;
            next[size_t(x - dir) + 1] += err * 3.0f / 16.0f;
            next[size_t(x) + 1] += err * 5.0f / 16.0f;
            next[size_t(x + dir) + 1] += err * 1.0f / 16.0f;
        }
        here.swap(next);
    }
    return out;
}

} // namespace tess::media
