#include "window/vendorlink.h"

#include <QImage>

namespace vm {

QCursor vendorLinkCursor() {
    // A 32 x 32 pointing hand: '#' outline, '.' fill, blank transparent.
    static const char* const rows[32] = {
        "           ##                   ", //
        "          #..#                  ", //
        "          #..#                  ", //
        "          #..#                  ", //
        "          #..#                  ", //
        "          #..###                ", //
        "          #..#..###             ", //
        "          #..#..#..##           ", //
        "       ## #..#..#..#.#          ", //
        "      #..##.........#.#         ", //
        "      #...#...........#         ", //
        "       #..............#         ", //
        "        #.............#         ", //
        "        #.............#         ", //
        "         #...........#          ", //
        "         #...........#          ", //
        "          #.........#           ", //
        "          #.........#           ", //
        "          ###########           ", //
    };
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < 32; ++y) {
        const char* row = rows[y];
        for (int x = 0; row && row[x] && x < 32; ++x) {
            if (row[x] == '#')
                image.setPixel(x, y, qRgba(0, 0, 0, 255));
            else if (row[x] == '.')
                image.setPixel(x, y, qRgba(255, 255, 255, 255));
        }
    }
    return QCursor(QPixmap::fromImage(image), 12, 1);
}

} // namespace vm
