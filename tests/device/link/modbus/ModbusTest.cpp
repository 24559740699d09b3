// The Modbus-RTU dialect's pure parts: frames, models and modules.csv, detection, the poll.

#include "device/NumberText.h"
#include "device/link/modbus/ModbusModels.h"
#include "device/link/modbus/ModbusPoll.h"
#include "device/link/modbus/ModbusProtocol.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <tuple>
#include <vector>

using namespace pslink;
using namespace pslink::modbus;

namespace {

std::string hex(const char* text)
{
    std::string out;
    for (std::string_view s = text; !s.empty();) {
        if (s.front() == ' ') {
            s.remove_prefix(1);
            continue;
        }
        out.push_back(static_cast<char>(std::stoi(std::string(s.substr(0, 2)), nullptr, 16)));
        s.remove_prefix(2);
    }
    return out;
}

} // namespace

TEST(Modbus, CrcAndRequestFrames)
{
    EXPECT_EQ(crc16("123456789"), 0x4B37); // the published check value
    EXPECT_EQ(readRequest(1, 0, 2), hex("01 03 00 00 00 02 C4 0B"));
    EXPECT_EQ(readRequest(0x11, 0x6B, 3), hex("11 03 00 6B 00 03 76 87"));
    EXPECT_EQ(writeRequest(1, 1, 3), hex("01 06 00 01 00 03 98 0B"));
    EXPECT_EQ(replyLength(readRequest(1, 8, 11)), 27u);
    EXPECT_EQ(replyLength(writeRequest(1, 18, 1)), 8u);
    EXPECT_EQ(replyLength(hex("01 03 00")), 0u);
}

TEST(Modbus, RepliesParseOrSayWhy)
{
    const std::string read2 = readRequest(1, 8, 2);
    const std::string write = writeRequest(1, 18, 1);
    const std::string good = withCrc(hex("01 03 04 01 F4 03 E8"));
    std::string damaged = good;
    damaged[4] ^= 0x10;
    const std::string otherFunction = withCrc(hex("01 04 04 01 F4 03 E8"));
    const std::string tooLong = withCrc(hex("01 03 04 01 F4 03 E8 00"));
    const struct
    {
        std::optional<std::string> frame;
        std::string request;
        std::optional<Fault> fault;
        std::vector<std::uint16_t> registers;
        const char* reason;
    } rows[] = {
        {good, read2, std::nullopt, {500, 1000}, "a whole reply"},
        {std::nullopt, read2, Fault::Silence, {}, "no reply"},
        {good.substr(0, 6), read2, Fault::CutShort, {}, "a reply cut short"},
        {hex("01 03"), read2, Fault::CutShort, {}, "a reply cut short"},
        {damaged, read2, Fault::BadCrc, {}, "a reply with a bad CRC"},
        {withCrc(hex("02 03 04 01 F4 03 E8")), read2, Fault::OtherAddress, {}, "a reply from address 2"},
        {withCrc(hex("01 83 02")), read2, Fault::Exception, {}, "exception 2 (illegal data address)"},
        {withCrc(hex("01 86 03")), write, Fault::Exception, {}, "exception 3 (illegal data value)"},
        {otherFunction, read2, Fault::WrongFunction, {}, "a reply to another function"},
        {withCrc(hex("01 03 02 01 F4")), read2, Fault::WrongLength, {}, "a reply of the wrong length"},
        {tooLong, read2, Fault::WrongLength, {}, "a reply of the wrong length"},
        {write, write, std::nullopt, {18, 1}, "a whole reply"},
        {writeRequest(1, 18, 0), write, Fault::WrongEcho, {}, "a write echoed with another value"},
    };
    for (const auto& r : rows) {
        const Reply reply = parseReply(r.frame, r.request);
        EXPECT_EQ(reply.fault, r.fault) << r.reason;
        EXPECT_EQ(reply.registers, r.registers) << r.reason;
        EXPECT_EQ(describe(reply), r.reason);
    }
}

TEST(Modbus, FramesEndAtTheirLengthOrSilence)
{
    const std::string reply = withCrc(hex("01 03 04 01 F4 03 E8")); // 9 bytes
    FrameReader framer(9);
    framer.feed(reply.substr(0, 4));
    EXPECT_FALSE(framer.complete());
    framer.feed(reply.substr(4) + "\x01"); // a stray byte after it is not the reply's
    EXPECT_TRUE(framer.complete());
    EXPECT_EQ(framer.take(), reply);
    framer.reset();
    EXPECT_EQ(framer.take(), std::nullopt);
    framer.feed(withCrc(hex("01 83 02"))); // an exception reply is whole at five bytes
    EXPECT_TRUE(framer.complete());
    framer.reset();
    framer.feed(reply.substr(0, 5)); // cut: silence ends it, the parser says so
    EXPECT_FALSE(framer.complete());
    EXPECT_EQ(parseReply(framer.take(), readRequest(1, 8, 2)).fault, Fault::CutShort);

    using std::chrono::microseconds;
    using std::chrono::milliseconds;
    EXPECT_EQ(frameSilence(9600), microseconds(4011)); // 3.5 characters of 11 bits
    EXPECT_EQ(frameSilence(2400), microseconds(16042));
    EXPECT_EQ(frameSilence(115200), microseconds(1750)); // fixed above 19200 baud
    EXPECT_EQ(replyTiming(9600).between, kBridgeSilence);
    EXPECT_EQ(replyTiming(1200).between, milliseconds(33));
    EXPECT_GE(replyTiming(115200).firstByte, kFirmwareLatency + milliseconds(50));
    EXPECT_GT(replyTiming(1200).firstByte, replyTiming(115200).firstByte); // the request's own wire time
}

TEST(Modbus, ScalesOfEveryModelAndDecimalKind)
{
    const ModelTable table;
    const struct
    {
        int id;
        std::uint16_t decimals; // layout C's own description; 0 for table models
        int rawVolts;
        int rawAmps;
        int centivolts;
        int milliamps;
        int maxCentivolts;
        int maxMilliamps;
    } rows[] = {
        {60062, 0, 1234, 1500, 1234, 1500, 6000, 6000},
        {60065, 0, 12345, 15000, 1235, 1500, 6000, 6000}, // 1/1000 V, 1/10000 A, rounded half up
        {60121, 0, 1234, 150, 1234, 1500, 6000, 9999},    // 12 A is more than the digit buffer holds
        {60181, 0, 1234, 150, 1234, 1500, 6000, 9999},
        {5005, 0, 1234, 1500, 1234, 1500, 5000, 5000},
        {3005, 0, 1234, 1500, 1234, 1500, 3000, 5000},
        {5020, 0, 1234, 150, 1234, 1500, 5000, 9999},
        {3010, 0x0233, 1234, 1500, 1234, 1500, 3000, 9999},
        {6005, 0x0142, 123, 15000, 1230, 1500, 6000, 5000},
        {3010, 0x0233, 65535, 65535, 9999, 9999, 3000, 9999}, // held to what the link counts
    };
    for (const auto& r : rows) {
        const auto described = selfDescribedModel(r.id, r.decimals);
        const Model model = r.decimals != 0 ? *described : *table.find(r.id);
        EXPECT_EQ(centivoltsOf(r.rawVolts, model), r.centivolts) << r.id;
        EXPECT_EQ(milliampsOf(r.rawAmps, model), r.milliamps) << r.id;
        EXPECT_EQ(maxCentivolts(model), r.maxCentivolts) << r.id;
        EXPECT_EQ(maxMilliamps(model), r.maxMilliamps) << r.id;
        if (r.centivolts < numtext::kMaxCount) { // what is written reads back the same
            EXPECT_EQ(centivoltsOf(voltsRegister(r.centivolts, model), model), r.centivolts) << r.id;
            EXPECT_EQ(milliampsOf(ampsRegister(r.milliamps, model), model), r.milliamps) << r.id;
        }
    }
    EXPECT_EQ(voltsRegister(1235, *selfDescribedModel(6005, 0x0142)), 124); // 12.35 V at 0.1 V
    EXPECT_EQ(ampsRegister(1000, *table.find(60065)), 10000);
    EXPECT_EQ(ampsRegister(1000, *table.find(5020)), 100);
    for (const auto word : {0x1233, 0x0253, 0x0033, 0x0203}) // a field past 4, bits above, no decimals
        EXPECT_EQ(decodeDecimals(static_cast<std::uint16_t>(word)), std::nullopt) << word;
    EXPECT_EQ(selfDescribedModel(3, 0x0233), std::nullopt);    // no volts in the id
    EXPECT_EQ(selfDescribedModel(3010, 0x0243), std::nullopt); // 10 A at 1/10000 A overflows
}

TEST(Modbus, PollDecodesEveryLayout)
{
    const ModelTable table;
    const Model c = *selfDescribedModel(3010, 0x0233);
    const struct
    {
        Model model;
        Registers registers;
        Poll expected;
    } rows[] = {
        // Layout A, 60065: set 12.000 V / 1.5000 A, out 11.999 V / 1.5000 A, CC, on.
        {*table.find(60065),
         {{8, 12000}, {9, 15000}, {10, 11999}, {11, 15000}, {16, 0}, {17, 1}, {18, 1}},
         {1200, 1500, 1200, 1500, true, true, {}}},
        {*table.find(60121),
         {{8, 500}, {9, 150}, {10, 0}, {11, 0}, {16, 2}, {17, 0}, {18, 0}},
         {500, 1500, 0, 0, false, false, Protection::of(Trip::OverCurrent)}},
        {*table.find(5005),
         {{0, 500}, {1, 1000}, {2, 500}, {3, 500}, {7, 0}, {8, 0}, {9, 1}},
         {500, 1000, 500, 500, true, false, {}}},
        {*table.find(5020),
         {{0, 500}, {1, 100}, {2, 0}, {3, 0}, {7, 4}, {8, 1}, {9, 0}},
         {500, 1000, 0, 0, false, false, Protection::of(Trip::OverTemperature)}},
        {*table.find(3005),
         {{0, 500}, {1, 1000}, {2, 0}, {3, 0}, {7, 9}, {8, 0}, {9, 0}},
         {500, 1000, 0, 0, false, false, Protection::of(Trip::Other)}},
        // Layout C: no mode register; the current on its limit with the voltage sagging is CC.
        {c,
         {{1, 1}, {2, 0}, {0x10, 200}, {0x11, 1000}, {0x30, 500}, {0x31, 1000}},
         {500, 1000, 200, 1000, true, true, {}}},
        {c,
         {{1, 1}, {2, 0}, {0x10, 500}, {0x11, 500}, {0x30, 500}, {0x31, 1000}},
         {500, 1000, 500, 500, true, false, {}}},
        {c,
         {{1, 0}, {2, 0x12}, {0x10, 0}, {0x11, 0}, {0x30, 500}, {0x31, 1000}},
         {500, 1000, 0, 0, false, false, {0x12}}}, // OCP and short circuit at once
    };
    for (const auto& r : rows) {
        const auto p = decodePoll(r.model, r.registers);
        ASSERT_TRUE(p) << r.model.id;
        EXPECT_EQ(std::tie(p->setCentivolts, p->setMilliamps, p->centivolts, p->milliamps, p->outputOn,
                           p->constantCurrent),
                  std::tie(r.expected.setCentivolts, r.expected.setMilliamps, r.expected.centivolts,
                           r.expected.milliamps, r.expected.outputOn, r.expected.constantCurrent))
            << r.model.id;
        EXPECT_EQ(p->protection, r.expected.protection) << r.model.id;
    }
    Registers missing = rows[0].registers;
    missing.erase(17);
    EXPECT_EQ(decodePoll(rows[0].model, missing), std::nullopt);
}

TEST(Modbus, DetectionFindsTheLayoutOrRefusesNamingTheId)
{
    const ModelTable table;
    const struct
    {
        Registers unit; // registers the unit has; the rest raise exception 2
        bool silent;
        const char* found; // the layout and identity found, or a part of the reason why not
    } rows[] = {
        {{{0, 60062}, {1, 0}, {2, 0}, {3, 128}}, false, "A: Modbus module 60062 fw 1.28"},
        // A B unit set to 30.05 V holds a B id in register 0: only register 11 counts for B.
        {{{0, 3005}, {1, 0}, {2, 0}, {3, 0}, {11, 5005}, {12, 110}}, false, "B: Modbus module 5005 fw 1.10"},
        {{{3, 3010}, {4, 0}, {5, 0x0233}}, false, "C: Modbus module 3010"},
        {{{3, 3010}, {5, 0x0233}}, false, "C: Modbus module 3010"}, // read around the gap
        // Register 3 of an A unit holds its firmware: no decimals word makes that a C id.
        {{{0, 60241}, {1, 0}, {2, 0}, {3, 128}, {4, 0}, {5, 0}}, false, "unknown Modbus module model 60241"},
        {{{0, 500}, {1, 0}, {2, 0}, {3, 0}, {11, 3010}, {12, 110}},
         false,
         "unknown Modbus module model 3010"},
        {{}, true, "no reply"},
        {{}, false, "exception 2 (illegal data address)"},
    };
    for (const auto& r : rows) {
        int requests = 0;
        const ReadRegisters read = [&](int start, int count) {
            ++requests;
            Reply reply;
            for (int reg = start; reg < start + count && !reply.fault; ++reg) {
                const auto value = r.unit.find(reg);
                if (value == r.unit.end()) {
                    reply.fault = r.silent ? Fault::Silence : Fault::Exception;
                    reply.exceptionCode = kIllegalAddress;
                } else {
                    reply.registers.push_back(value->second);
                }
            }
            return reply;
        };
        const Detection d = detect(read, table);
        if (d.found) {
            EXPECT_EQ(layoutLetter(d.found->model.layout) + (": " + identityText(*d.found)), r.found);
        } else {
            EXPECT_NE(d.reason.find(r.found), std::string::npos) << d.reason;
        }
        if (r.silent) {
            EXPECT_EQ(requests, 1); // nothing at the address: no use asking further
        }
    }
}

TEST(Modbus, UserModelsFileAddsAndOverridesAndReportsBadLines)
{
    ModelTable table;
    const auto issues = table.read("# id,layout,voltDecimals,ampDecimals,voltsMax,ampsMax\n"
                                   "60241, A, 2, 2, 60, 24\r\n"
                                   "\n"
                                   "5005,b,2,2,50,5.5\n" // corrects a built-in
                                   "60242,D,2,2,60,24\n"
                                   "60243,A,2,2,60\n"
                                   "60244,A,5,2,60,24\n"
                                   "60245,A,2,2,sixty,24\n"
                                   "60246,A,3,2,80,24\n" // 80 V at 1/1000 V does not fit a register
                                   "0,A,2,2,60,24\n");
    ASSERT_EQ(issues.size(), 6u);
    const char* expected[] = {"line 5:", "line 6:", "line 7:", "line 8:", "line 9:", "line 10:"};
    for (size_t i = 0; i < issues.size(); ++i)
        EXPECT_EQ(issues[i].rfind(expected[i], 0), 0u) << issues[i];
    ASSERT_TRUE(table.find(60241));
    EXPECT_EQ(table.find(60241)->ampDecimals, 2);
    EXPECT_EQ(maxMilliamps(*table.find(60241)), numtext::kMaxCount);
    EXPECT_EQ(table.find(5005)->ampDecimals, 2);
    EXPECT_EQ(maxMilliamps(*table.find(5005)), 5500);
    EXPECT_FALSE(table.find(60242));
    EXPECT_TRUE(table.find(60062)); // the other built-ins stay

    QTemporaryDir dir;
    const std::string path = dir.filePath("modules.csv").toStdString();
    ModelTable fromFile;
    EXPECT_TRUE(fromFile.readFile(path).empty()); // no file yet: nothing wrong
    EXPECT_NE(fromFile.refusal(60241).find(path), std::string::npos);
    std::ofstream(path) << "60241,A,2,2,60,24\nbad\n";
    EXPECT_EQ(fromFile.readFile(path).size(), 1u);
    ASSERT_EQ(fromFile.issues().size(), 1u);
    EXPECT_EQ(fromFile.issues()[0].rfind(path + ", line 2:", 0), 0u) << fromFile.issues()[0];
    EXPECT_TRUE(fromFile.find(60241));
}
