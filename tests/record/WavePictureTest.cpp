// The wave display on a 200 % screen, and saving what it shows from its context menu.
#include "device/PowerSupply.h"
#include "record/DlgRecord.h"
#include "widgets/StaticWave.h"
#include "support/DialogRecorder.h"
#include "support/TestFiles.h"

#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace {

void Load(CPowerSupply& supply, const std::vector<float>& volts, const std::vector<float>& amps)
{
    std::lock_guard<std::mutex> guard(supply.m_hLock);
    supply.m_logVoltage.assign(volts.begin(), volts.end());
    supply.m_logCurrent.assign(amps.begin(), amps.end());
    supply.m_nPointsPerCycle = static_cast<int>(volts.size());
    supply.m_nWindow = static_cast<int>(volts.size());
}

int CountInRow(const QImage& image, int y, QRgb colour)
{
    int n = 0;
    for (int x = 0; x < image.width(); ++x)
        n += image.pixel(x, y) == colour ? 1 : 0;
    return n;
}

QAction* SaveEntry(CStaticWave& wave)
{
    for (QAction* action : wave.actions())
        if (action->text() == QLatin1String("Save Picture..."))
            return action;
    return nullptr;
}

} // namespace

TEST(WavePicture, AtRatioTwoTheBufferHoldsDevicePixelsAndLinesStayOnePixelWide)
{
    CPowerSupply supply;
    CStaticWave wave;
    wave.resize(540, 340);
    wave.m_pSupply = &supply;
    wave.m_bRecordMode = 1;
    wave.Render(2.0);
    ASSERT_EQ(wave.m_bmpBack.size(), QSize(1080, 680));
    EXPECT_EQ(wave.m_bmpBack.devicePixelRatio(), 2.0);
    EXPECT_EQ(wave.m_rcPlot, QRect(20, 20, 500, 300)) << "geometry stays in logical pixels";
    // The plot's left border: one device pixel, with black on both sides.
    const QImage& image = wave.m_bmpBack;
    const int y = 2 * 170;
    EXPECT_NE(image.pixel(40, y), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(39, y), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(41, y), qRgb(0, 0, 0));

    // A 100-hour record: the envelope has a line in every device column, not every other one.
    Load(supply, std::vector<float>(360000, 10.0f), std::vector<float>(360000, 0.0f));
    wave.m_bDrawWaves = 1;
    wave.m_nTimeScale = 6;
    wave.Render(2.0);
    const int level = 640 - 171; // 10 V of 35 on 600 device rows
    EXPECT_EQ(CountInRow(wave.m_bmpBack, level, qRgb(255, 0, 0)), 1000);
    // The widget's own ratio again at the next paint.
    wave.Render();
    EXPECT_EQ(wave.m_bmpBack.size(), QSize(540, 340));
}

TEST(WavePicture, ContextMenuSavesWhatTheDisplayShows)
{
    CDlgRecord page;
    CStaticWave live;
    ASSERT_NE(SaveEntry(live), nullptr) << "the Control page's display has the entry too";
    EXPECT_EQ(live.contextMenuPolicy(), Qt::ActionsContextMenu);
    CStaticWave& wave = page.m_wave;
    wave.resize(540, 340);
    std::vector<float> volts(50, 10.0f);
    volts[20] = 35.0f;
    Load(page.m_supply, volts, std::vector<float>(50, 1.0f));
    wave.m_bDrawWaves = 1;
    wave.Render();
    const QImage shown = wave.m_bmpBack.convertToFormat(QImage::Format_RGB32);

    QTemporaryDir dir;
    DialogRecorder dialogs;
    QAction* save = SaveEntry(wave);
    ASSERT_NE(save, nullptr);
    const QString png = dir.filePath(QStringLiteral("wave.png"));
    dialogs.answerNext(png);
    save->trigger();
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_TRUE(dialogs.requests.front().save);
    EXPECT_EQ(QImage(png).convertToFormat(QImage::Format_RGB32), shown);

    const QString svg = dir.filePath(QStringLiteral("wave.svg"));
    dialogs.answerNext(svg);
    save->trigger();
    EXPECT_TRUE(ReadTestFile(svg).contains("stroke=\"#ff0000\""));

    // Failures are said, and a good file is left as it was.
    ASSERT_TRUE(WriteTestFile(dir.filePath("old.jpg"), "older"));
    dialogs.answerNext(dir.filePath("old.jpg"));
    dialogs.answerNext(dir.filePath("missing/wave.pdf"));
    dialogs.answerNext(std::nullopt);
    save->trigger();
    save->trigger();
    save->trigger();
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Cannot save the picture")) << dialogs.messages[0].toStdString();
    EXPECT_TRUE(dialogs.messages[0].contains(".png, .svg or .pdf"));
    EXPECT_TRUE(dialogs.messages[1].contains("No such file or directory")) << dialogs.messages[1].toStdString();
    EXPECT_EQ(ReadTestFile(dir.filePath("old.jpg")), QByteArray("older"));
}
