#include "program/BitmapFile.h"
#include "program/DlgProgram.h"
#include "platform/Dialogs.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

std::uint32_t U32(const QByteArray& b, int at)
{
    return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8
           | std::uint32_t(std::uint8_t(b[at + 2])) << 16 | std::uint32_t(std::uint8_t(b[at + 3])) << 24;
}

std::uint16_t U16(const QByteArray& b, int at)
{
    return std::uint16_t(std::uint8_t(b[at]) | std::uint8_t(b[at + 1]) << 8);
}

// A picture whose top row is red, bottom row blue, everything else white.
QImage MarkedImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int x = 0; x < width; ++x) {
        image.setPixel(x, 0, qRgb(255, 0, 0));
        image.setPixel(x, height - 1, qRgb(0, 0, 255));
    }
    return image;
}

void ExpectHeaders(const QByteArray& b, int width, int height, int bits, int table, int rowBytes)
{
    ASSERT_GE(b.size(), 54);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(U32(b, 2), std::uint32_t(54 + table + rowBytes * height));
    EXPECT_EQ(U32(b, 2), std::uint32_t(b.size()));
    EXPECT_EQ(U16(b, 6), 0);
    EXPECT_EQ(U16(b, 8), 0);
    EXPECT_EQ(U32(b, 10), std::uint32_t(54 + table));
    EXPECT_EQ(U32(b, 14), 40u);
    EXPECT_EQ(U32(b, 18), std::uint32_t(width));
    EXPECT_EQ(U32(b, 22), std::uint32_t(height));
    EXPECT_EQ(U16(b, 26), 1);
    EXPECT_EQ(U16(b, 28), bits);
    for (int at = 30; at < 54; at += 4)
        EXPECT_EQ(U32(b, at), 0u) << "field at " << at;
}

} // namespace

TEST(BitmapFile, DepthFollowsTheDisplay)
{
    const struct { int display, bits, table; } cases[] = {
        {1, 1, 8}, {2, 4, 64}, {4, 4, 64}, {5, 8, 1024}, {8, 8, 1024},
        {15, 24, 0}, {16, 24, 0}, {24, 24, 0}, {32, 32, 0},
        {48, 32, 0}, // deeper than any BMP reader knows: still a 32-bit file
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BitmapBitsPerPixel(c.display), c.bits) << c.display;
        EXPECT_EQ(BitmapColorTableBytes(BitmapBitsPerPixel(c.display)), c.table) << c.display;
    }
}

TEST(BitmapFile, ThirtyTwoBitRowsAreBottomUpWithoutTable)
{
    const QByteArray b = EncodeBitmapFile(MarkedImage(5, 3), 32);
    ExpectHeaders(b, 5, 3, 32, 0, 20);
    EXPECT_EQ(b.size(), 54 + 4 * 5 * 3);
    // First stored row is the bottom (blue) row: B, G, R, 0.
    EXPECT_EQ(std::uint8_t(b[54]), 255);
    EXPECT_EQ(std::uint8_t(b[55]), 0);
    EXPECT_EQ(std::uint8_t(b[56]), 0);
    EXPECT_EQ(std::uint8_t(b[57]), 0);
    // Last stored row is the top (red) row.
    const int top = 54 + 2 * 20;
    EXPECT_EQ(std::uint8_t(b[top]), 0);
    EXPECT_EQ(std::uint8_t(b[top + 2]), 255);
    EXPECT_EQ(std::uint8_t(b[top + 3]), 0);
}

TEST(BitmapFile, TwentyFourBitRowsArePaddedToFourBytes)
{
    // 181 * 3 = 543 bytes of pixels, padded to 544.
    const QByteArray b = EncodeBitmapFile(MarkedImage(181, 4), 24);
    ExpectHeaders(b, 181, 4, 24, 0, 544);
    EXPECT_EQ(b.size(), 54 + 544 * 4);
    // The pad byte after the last pixel of each row is 0; the next row starts on a 4-byte boundary.
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(b[54 + row * 544 + 543], '\0') << row;
    EXPECT_EQ(std::uint8_t(b[54 + 180 * 3]), 255);          // bottom row, last pixel blue
    EXPECT_EQ(std::uint8_t(b[54 + 544]), 255);              // second row white
    EXPECT_EQ(std::uint8_t(b[54 + 3 * 544 + 2]), 255);      // top row red
    EXPECT_EQ(std::uint8_t(b[54 + 3 * 544]), 0);
}

TEST(BitmapFile, IndexedDepthsCarryTheirColourTable)
{
    const QImage image = MarkedImage(3, 2);
    {
        const QByteArray b = EncodeBitmapFile(image, 8);
        ExpectHeaders(b, 3, 2, 8, 1024, 4);
        EXPECT_EQ(U32(b, 10), 1078u);
        // Bottom row blue, top row red: look the indices up in the table.
        const auto colour = [&](int index) {
            const int at = 54 + 4 * index;
            return qRgb(std::uint8_t(b[at + 2]), std::uint8_t(b[at + 1]), std::uint8_t(b[at]));
        };
        EXPECT_EQ(colour(std::uint8_t(b[1078])), qRgb(0, 0, 255));
        EXPECT_EQ(colour(std::uint8_t(b[1078 + 4])), qRgb(255, 0, 0));
    }
    {
        const QByteArray b = EncodeBitmapFile(image, 4);
        ExpectHeaders(b, 3, 2, 4, 64, 4);
        // Blue is entry 12 and red entry 9 of the sixteen colours; two pixels per byte.
        EXPECT_EQ(std::uint8_t(b[118]), 0xCC);
        EXPECT_EQ(std::uint8_t(b[119]), 0xC0);
        EXPECT_EQ(std::uint8_t(b[122]), 0x99);
    }
    {
        QImage mono(10, 1, QImage::Format_RGB32);
        mono.fill(Qt::white);
        mono.setPixel(1, 0, qRgb(0, 0, 0));
        const QByteArray b = EncodeBitmapFile(mono, 1);
        ExpectHeaders(b, 10, 1, 1, 8, 4);
        EXPECT_EQ(std::uint8_t(b[62]), 0xBF); // 1011 1111: the second pixel black
        EXPECT_EQ(std::uint8_t(b[63]), 0xC0);
    }
    EXPECT_TRUE(EncodeBitmapFile(QImage(), 32).isEmpty());
    EXPECT_TRUE(EncodeBitmapFile(image, 16).isEmpty());
}

TEST(BitmapFile, CaptureIsClippedToTheScreen)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect geometry = screen->geometry();

    QWidget window;
    window.resize(200, 120);
    window.move(geometry.right() - 79, geometry.bottom() - 49); // 80 x 50 of it on the screen
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QRect rc(window.mapToGlobal(QPoint(0, 0)), window.size());

    // Past the right and bottom edges: only the part on the screen.
    const QImage right = CaptureScreenArea(rc, &window);
    const QSize onRight(geometry.right() + 1 - rc.left(), geometry.bottom() + 1 - rc.top());
    ASSERT_LT(onRight.width(), 200);
    ASSERT_LT(onRight.height(), 120);
    EXPECT_EQ(right.size() / right.devicePixelRatio(), onRight);

    // Past the left and top edges: clipped at the screen's origin.
    window.move(geometry.left() - 30, geometry.top() - 20);
    const QRect rcLeft(window.mapToGlobal(QPoint(0, 0)), window.size());
    ASSERT_LT(rcLeft.left(), geometry.left());
    const QImage left = CaptureScreenArea(rcLeft, &window);
    EXPECT_EQ(left.size() / left.devicePixelRatio(),
              QSize(rcLeft.right() + 1 - geometry.left(), rcLeft.bottom() + 1 - geometry.top()));

    EXPECT_TRUE(CaptureScreenArea(QRect(), &window).isNull());
    EXPECT_TRUE(CaptureScreenArea(rc.translated(geometry.width() * 3, 0), &window).isNull());
}

TEST(BitmapFile, PrintWritesTheListAsShownAndReportsFailures)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QStringList messages;
    QString chosen = dir.filePath(QStringLiteral("list.bmp"));
    QString title;
    platform::SetDialogHandlers([&](const QString& text) { messages << text; },
                                [&](const platform::FileDialogRequest& r) -> std::optional<QString> {
                                    title = r.title;
                                    return chosen;
                                });
    CDlgProgram page;
    page.resize(700, 420); // wholly on the screen
    page.move(QGuiApplication::primaryScreen()->geometry().topLeft() + QPoint(20, 20));
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    page.OnBnClickedAdd();

    page.OnBnClickedPrint();
    EXPECT_EQ(title, QStringLiteral("Save Data As Bmp..."));
    EXPECT_TRUE(messages.isEmpty());
    QFile file(chosen);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray b = file.readAll();
    file.close();
    const qreal ratio = page.m_list.devicePixelRatioF();
    const int width = int(page.m_list.width() * ratio);
    const int height = int(page.m_list.height() * ratio);
    const int bits = BitmapBitsPerPixel(page.m_list.screen()->depth());
    const int rowBytes = ((width * bits + 31) / 32) * 4;
    ExpectHeaders(b, width, height, bits, BitmapColorTableBytes(bits), rowBytes);
    // An image reader sees the list as the screen shows it, right way up.
    const QImage loaded = QImage::fromData(b, "BMP");
    ASSERT_FALSE(loaded.isNull());
    const QImage shown = page.m_list.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(loaded.size(), shown.size());
    for (int y = 0; y < shown.height(); y += 7)
        for (int x = 0; x < shown.width(); x += 5)
            ASSERT_EQ(loaded.pixel(x, y) & 0xFFFFFF, shown.pixel(x, y) & 0xFFFFFF) << x << "," << y;

    // Saving over an existing file replaces it.
    ASSERT_TRUE(WriteTestFile(chosen, "old"));
    page.OnBnClickedPrint();
    EXPECT_EQ(ReadTestFile(chosen), b);

    // A folder that does not exist cannot take the picture: the user is told why.
    chosen = dir.filePath(QStringLiteral("missing/list.bmp"));
    page.OnBnClickedPrint();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Cann't save file: "))) << messages[0].toStdString();
    EXPECT_GT(messages[0].size(), QStringLiteral("Cann't save file: ").size());
    EXPECT_FALSE(QFile::exists(chosen));

    platform::SetDialogHandlers({}, {});
}
