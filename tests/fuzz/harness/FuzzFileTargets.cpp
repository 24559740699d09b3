// Targets for the files: LoadFile as the DataRecord page (display mode), a run (normal mode, then
// playback and the record written) and the Control page's count use it, and the Program page's
// open. Every input is a file on disk, read by the real code.
#include "fuzz/harness/FuzzOracles.h"
#include "fuzz/harness/FuzzTargets.h"

#include "device/NumberText.h"
#include "device/PowerSupply.h"
#include "device/RecordFormat.h"
#include "device/link/SimulatedSupply.h"
#include "device/pslink.h"
#include "program/DlgProgram.h"

#include <QFile>

#include <algorithm>
#include <climits>

namespace fuzz {

namespace {

// What LoadFile should take from a file: its lines, and the rows of the first pass (line 1 is
// the header; a row whose time does not follow the previous one ends the pass).
struct Expected
{
    std::vector<std::string_view> lines;
    std::vector<long long> times;
    std::vector<float> volts;
    std::vector<float> amps;
    std::vector<std::string> texts;
};

Expected Expect(std::string_view data, bool takeRows)
{
    Expected e;
    recordfile::ForEachLine(data, [&](std::string_view line) { e.lines.push_back(line); });
    for (std::size_t i = 1; takeRows && i < e.lines.size(); ++i) {
        const recordfile::RowTexts row = recordfile::SplitRow(e.lines[i]);
        const long long time = ReferenceInt(row.time);
        if (!e.times.empty() && time != e.times.back() + 1)
            break;
        e.times.push_back(time);
        e.volts.push_back(static_cast<float>(ReferenceFloat(row.voltage)));
        e.amps.push_back(static_cast<float>(ReferenceFloat(row.current)));
        e.texts.push_back(std::string(row.voltage) + "," + std::string(row.current));
    }
    return e;
}

template <typename A, typename B>
bool SameList(const A& a, const B& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
               if constexpr (std::is_floating_point_v<std::decay_t<decltype(x)>>)
                   return x == y || (x != x && y != y);
               else
                   return x == y;
           });
}

void CheckProgram(const CPowerSupply& ps, const Expected& e)
{
    Check(SameList(ps.m_progTime, e.times), "the program's times differ from the file's first pass");
    Check(SameList(ps.m_progVoltage, e.volts), "the program's voltages differ from the file");
    Check(SameList(ps.m_progCurrent, e.amps), "the program's currents differ from the file");
    Check(ps.m_nPointsPerCycle.load() == static_cast<int>(e.times.size()), "the point count differs from the rows");
    Check(ps.m_nPlayIndex.load() == 0, "a load left a playback position");
}

int LoadChecked(CPowerSupply& ps, Scratch& scratch, std::string_view input, int bCountOnly)
{
    const QString path = QString::fromStdString(scratch.write(input));
    const int before = scratch.messages();
    const int loaded = bCountOnly < 0 ? ps.LoadFile(path) : ps.LoadFile(path, bCountOnly);
    Check(loaded == 1, "a readable .csv file was refused");
    Check(scratch.messages() == before, "a message box for a readable file");
    return loaded;
}

void RunLoadDisplay(Scratch& scratch, std::string_view input)
{
    CPowerSupply ps;
    ps.m_bDisplayMode = 1;
    ps.m_nCycles = 1 + static_cast<int>(Hash(input) % 3); // a record has one pass whatever was set
    LoadChecked(ps, scratch, input, 0);
    ps.ExpandProgram();
    const Expected e = Expect(input, true);
    CheckProgram(ps, e);
    Check(ps.m_lines.empty() && ps.m_progTexts.empty(), "display mode kept texts");
    Check(ps.m_nCycles.load() == 1 && ps.m_nRecordPasses.load() == 1, "a record with more than one pass");
    Check(SameList(ps.m_logTime, e.times) && SameList(ps.m_logVoltage, e.volts) && SameList(ps.m_logCurrent, e.amps),
          "the drawn series differ from the record");
    std::vector<float> series;
    Check(ps.CopySeries(series, 1) == static_cast<int>(e.times.size()) && SameList(series, e.volts),
          "the voltage series copied differs");
    Check(ps.CopySeries(series, 2) == static_cast<int>(e.times.size()) && SameList(series, e.amps),
          "the current series copied differs");
}

// Plays the loaded program on the built-in simulated supply: one point a call, round the pass,
// never past the end, and the point sent is the row's.
void CheckPlayback(CPowerSupply& ps, const Expected& e, long long total)
{
    auto sim = pslink::SimulatorFor(ps.m_nDevice);
    Check(sim != nullptr, "no simulated supply on the device");
    const long long steps = std::min<long long>(total, 40);
    for (long long k = 0; k < steps; ++k) {
        ps.ApplyNextPoint();
        Check(ps.m_bFinished.load() == 0, "playback finished early");
        Check(ps.m_nPlayIndex.load() == k + 1, "playback skipped or repeated a point");
        const std::size_t row = static_cast<std::size_t>(k) % e.times.size();
        unsigned char digits[5];
        numtext::EncodeVolts(e.volts[row], digits);
        Check(sim->setCentivolts() == numtext::CountFromDigits(digits), "the voltage sent is not the row's");
        numtext::EncodeAmps(e.amps[row], digits);
        Check(sim->setMilliamps() == numtext::CountFromDigits(digits), "the current sent is not the row's");
    }
    if (total <= steps) {
        ps.ApplyNextPoint();
        Check(ps.m_bFinished.load() == 1, "playback went on past the last point");
        Check(ps.m_nPlayIndex.load() == total, "playback moved past the last point");
    }
}

void RunLoadRun(Scratch& scratch, std::string_view input)
{
    // Now and then more cycles than a playback counter holds: the total stops at its limit.
    static constexpr int kCycles[] = {1, 1, 2, 3, 0, 1, 2, 3, INT_MAX};
    const int cycles = kCycles[Hash(input) % std::size(kCycles)];
    CPowerSupply ps;
    ps.m_nCycles = cycles;
    ps.m_rows.push_back("1,5.00,0.500\n"); // a previous run's rows: a load replaces them
    ps.m_nPlayIndex = 7;
    LoadChecked(ps, scratch, input, Hash(input) % 2 == 0 ? -1 : 0);
    const Expected e = Expect(input, cycles > 0);
    CheckProgram(ps, e);
    Check(ps.m_lines.size() == e.lines.size(), "the lines kept differ from the file's");
    for (std::size_t i = 0; i < e.lines.size(); ++i) {
        const std::string& kept = ps.m_lines[i];
        Check(!kept.empty() && kept.back() == '\n' && std::string_view(kept).substr(0, kept.size() - 1) == e.lines[i],
              "a line kept differs from the file's");
    }
    Check(SameList(ps.m_progTexts, e.texts), "the row texts kept differ from the file's");
    Check(ps.m_rows.empty(), "a load kept an earlier run's rows");
    Check(ps.m_nRecordPasses.load() == cycles, "the record passes are not the cycles");

    ps.ExpandProgram();
    const long long total = std::min<long long>(static_cast<long long>(e.times.size()) * cycles, INT_MAX);
    Check(ps.m_nPlayTotal.load() == total, "the playback length is not rows times cycles");
    Check(total == 0 ? ps.m_playTime.empty() : SameList(ps.m_playVoltage, e.volts) && SameList(ps.m_playCurrent, e.amps),
          "the playback lists are not one pass of the program");
    if (total > 0)
        CheckPlayback(ps, e, total);

    // The record: the header, then the pass renumbered over the cycles.
    const long long rows = static_cast<long long>(e.times.size());
    if (rows * cycles > 100000)
        return; // a record of a billion rows says nothing more
    std::string written;
    Check(ps.WriteRecord([&](std::string_view chunk) {
        written.append(chunk);
        return true;
    }),
          "the record writer stopped");
    std::string want;
    recordfile::AppendLine(want, recordfile::kHeader);
    bool timesFit = true;
    for (long long pass = 0; pass < (rows > 0 ? cycles : 0); ++pass) {
        for (long long i = 0; i < rows; ++i) {
            const long long time = rows * pass + e.times[static_cast<std::size_t>(i)];
            timesFit = timesFit && time >= INT_MIN && time <= INT_MAX;
            numtext::AppendInt(want, time);
            want += ',';
            recordfile::AppendLine(want, e.texts[static_cast<std::size_t>(i)]);
        }
    }
    if (written != want)
        Fail("the record written differs: \"" + Escape(written, 600) + "\"");

    // Opened as a record again, it holds every pass: the times follow on from pass to pass.
    if (!timesFit)
        return;
    CPowerSupply again;
    again.m_bDisplayMode = 1;
    LoadChecked(again, scratch, written, 0);
    Check(again.m_nPointsPerCycle.load() == rows * (rows > 0 ? cycles : 0), "the record read back lost rows");
    for (std::size_t i = 0; i < again.m_progVoltage.size(); ++i) {
        Check(again.m_progVoltage[i] == e.volts[i % e.volts.size()] && again.m_progCurrent[i] == e.amps[i % e.amps.size()],
              "the record read back holds other values");
    }
}

void RunLoadCount(Scratch& scratch, std::string_view input)
{
    CPowerSupply ps;
    ps.m_nCycles = 2;
    const bool sharedFlag = Hash(input) % 2 == 0;
    ps.m_bCountOnly = sharedFlag ? 1 : 0;
    LoadChecked(ps, scratch, input, sharedFlag ? -1 : 1);
    const Expected e = Expect(input, false);
    Check(ps.m_nPointsPerCycle.load() == static_cast<long long>(e.lines.size()) - 1, "the count is not lines - 1");
    Check(ps.m_progTime.empty() && ps.m_rows.empty() && ps.m_nRecordPasses.load() == 0, "a count took rows");
    Check(ps.m_lines.size() == e.lines.size(), "the lines kept differ from the file's");

    // A closing window cuts a load short: nothing changes.
    ps.m_bAbortLoad = 1;
    const int count = ps.m_nPointsPerCycle.load();
    Check(ps.LoadFile(QString::fromStdString(scratch.write(input)), 0) == 0 && ps.m_nPointsPerCycle.load() == count,
          "a load after the window closed changed something");
}

QString Latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void CheckPage(CDlgProgram& page, const std::vector<std::string_view>& lines)
{
    CListCtrlEX& list = page.m_list;
    Check(list.m_stepLines.size() == lines.size(), "the page stored a different number of lines");
    for (std::size_t i = 0; i < lines.size(); ++i)
        Check(list.m_stepLines[i] == Latin1(lines[i]), "a stored line differs from the file's");
    const int rows = lines.empty() ? 0 : static_cast<int>(lines.size()) - 1;
    Check(list.m_nRowCount == rows && list.rowCount() == rows, "the list shows a different number of rows");
    Check(list.m_bFileOpened == (lines.empty() ? 0 : 1), "the opened state is wrong");
    for (int r = 0; r < rows; ++r) {
        const recordfile::RowTexts row = recordfile::SplitRow(lines[static_cast<std::size_t>(r) + 1]);
        Check(list.GetItemText(r, 0) == QStringLiteral("*") && list.GetItemText(r, 1) == Latin1(row.time)
                  && list.GetItemText(r, 2) == Latin1(row.voltage) && list.GetItemText(r, 3) == Latin1(row.current),
              "a row shows other texts than the file's");
    }
}

void RunProgramOpen(Scratch& scratch, std::string_view input)
{
    CDlgProgram& page = scratch.page();
    const int before = scratch.messages();
    Check(page.LoadProgramFile(QString::fromStdString(scratch.write(input))) == 1, "a readable file was refused");
    Check(scratch.messages() == before, "a message box for a readable file");
    const Expected e = Expect(input, false);
    CheckPage(page, e.lines);

    // Saved and opened again, the page holds the same.
    page.m_strSavePath = QString::fromStdString(scratch.secondPath());
    Check(page.SaveProgramFile() == 1, "the program could not be saved");
    QFile file(page.m_strSavePath);
    Check(file.open(QIODevice::ReadOnly), "the saved program cannot be read");
    const QByteArray saved = file.readAll();
    std::string want;
    if (e.lines.empty())
        recordfile::AppendLine(want, recordfile::kHeader);
    for (const std::string_view line : e.lines)
        recordfile::AppendLine(want, line);
    Check(saved.toStdString() == want, "the saved program differs from the lines opened");
    Check(page.LoadProgramFile(page.m_strSavePath) == 1, "the saved program could not be opened");
    const std::string savedText = saved.toStdString();
    CheckPage(page, Expect(savedText, false).lines);
    Check(page.m_list.m_stepLines.size() == (e.lines.empty() ? 1 : e.lines.size()), "saving changed the lines");
}

// Files as the program writes them: programs, records of user-mode runs and of programs over
// several cycles, the Program page's save, and the variants other writers make.
std::vector<std::string> FileCorpus(Scratch& scratch)
{
    const std::string header = std::string(recordfile::kHeader) + "\r\n";
    std::vector<std::string> corpus{header + "1,5.00,0.500\r\n2,9.00,0.900\r\n", header, "", "1,5.00,0.500"};

    std::string program = header;
    for (int t = 1; t <= 16; ++t) {
        recordfile::AppendRow(program, t, numtext::Fixed(2.0 + t * 1.5, 2), numtext::Fixed(0.25 * (t % 5), 3));
        program += "\r\n";
    }
    corpus.push_back(program);
    std::string lf = program;
    for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;)
        lf.erase(at, 1);
    corpus.push_back(lf);

    std::string record = header;
    for (int s = 1; s <= 40; ++s) {
        recordfile::AppendSampleRow(record, s, 5.0 + (s % 7) * 0.5, s % 9 == 0 ? 5.1 : 0.125 * (s % 4));
        record += "\r\n";
    }
    corpus.push_back(record);
    corpus.push_back(header + "1,1.00,0.100\r\n2,2.00,0.200\r\n3,3.00,0.300\r\n7,7.00,0.700\r\n8,8.00,0.800\r\n");
    corpus.push_back(header + "0,0.00,0.000\r\n1,32.00,5.100\r\n2,32.01,5.101\r\n");
    corpus.push_back(header + "-2,1.5,0.5\r\n-1,2,1\r\n0,3.25,0.125\r\n");
    corpus.push_back("h\n2,5.00\n3,5.00,0.500,x\n4,,\n5\n");
    corpus.push_back(header + "2147483646,1.00,1.000\r\n2147483647,2.00,2.000\r\n");

    // A program played over three cycles and saved with a run's rows after it.
    CPowerSupply ps;
    ps.m_nCycles = 3;
    ps.LoadFile(QString::fromStdString(scratch.write(program)), 0);
    ps.m_rows = {"49,5.00,0.500\n", "50,5.00,0.499\n"};
    std::string written;
    ps.WriteRecord([&](std::string_view chunk) {
        written.append(chunk);
        return true;
    });
    corpus.push_back(written);

    // A program composed and saved on the Program page.
    CDlgProgram& page = scratch.page();
    for (const char* values : {"5,0.5,1", "12.6,1.25,2", "0,0,3"}) {
        const QStringList v = QString::fromLatin1(values).split(QLatin1Char(','));
        page.m_editVoltage.setText(v[0]);
        page.m_editCurrent.setText(v[1]);
        page.m_editTime.setText(v[2]);
        page.OnBnClickedAdd();
    }
    page.m_strSavePath = QString::fromStdString(scratch.secondPath());
    page.SaveProgramFile();
    QFile saved(page.m_strSavePath);
    if (saved.open(QIODevice::ReadOnly))
        corpus.push_back(saved.readAll().toStdString());
    return corpus;
}

} // namespace

std::vector<Target> FileTargets(Scratch& scratch)
{
    const std::vector<std::string> corpus = FileCorpus(scratch);
    const std::vector<std::string> words{std::string(recordfile::kHeader), ",", "\r\n", "\n", "\r", "5.00", "0.500",
                                         "32.00", "5.100", "-1", "0", "2147483647", "1,", ",,", "\xff", " ", "1e999"};
    constexpr std::size_t kHuge = 3 << 20; // past the reader's 1 MiB chunk
    Scratch* s = &scratch;
    return {
        {"LoadFile.display", [s](std::string_view in) { RunLoadDisplay(*s, in); }, corpus, words, 8192, kHuge, 10},
        {"LoadFile.run", [s](std::string_view in) { RunLoadRun(*s, in); }, corpus, words, 8192, kHuge, 10},
        {"LoadFile.count", [s](std::string_view in) { RunLoadCount(*s, in); }, corpus, words, 8192, kHuge, 10},
        {"ProgramPage.open", [s](std::string_view in) { RunProgramOpen(*s, in); }, corpus, words, 2048, 0, 4},
    };
}

} // namespace fuzz
