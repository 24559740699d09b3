// tarnwell-screenshots, which makes the README's pictures, walks the real pages; it must keep
// working as they change.
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(ScreenshotTour, SavesEveryPageAndFinishes)
{
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TARNWELL_COM1"), QStringLiteral("/dev/null/not-a-port")); // the tool ignores it
    tool.setProcessEnvironment(env);
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(QStringLiteral(TARNWELL_SCREENSHOTS_PATH), {out.path()});
    // The demo program plays for 16 seconds.
    ASSERT_TRUE(tool.waitForFinished(120000));
    EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tool.exitCode(), 0);

    QSize size;
    for (const char* name : {"control-en.png", "program-en.png", "record-en.png", "control-zh.png", "record-zh.png"}) {
        const QImage image(QDir(out.path()).filePath(QLatin1String(name)));
        EXPECT_FALSE(image.isNull()) << name;
        if (size.isEmpty())
            size = image.size();
        EXPECT_EQ(image.size(), size) << name; // every picture is the whole window
    }
    // Each path is printed as its picture is saved.
    EXPECT_EQ(QString::fromLocal8Bit(tool.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(),
              5);
}
