#pragma once

// What the serial tests ask of the device library on COM1 (device 0): one reading with its lamps,
// and a voltage and current setpoint.

#include "device/NumberText.h"
#include "device/pslink.h"

#include <ostream>

struct Reading
{
    int centivolts = -1;
    int milliamps = -1;
    int out = -1, cv = -1, cc = -1;
    bool operator==(const Reading&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Reading& r)
{
    return os << r.centivolts << " cV, " << r.milliamps << " mA, OUT " << r.out << " CV " << r.cv << " CC " << r.cc;
}

inline Reading read()
{
    unsigned char v[5] = {}, i[5] = {};
    Reading r;
    dsoReadVoltage(0, v);
    dsoReadCurrent(0, i);
    dsoReadState(0, &r.out, &r.cv, &r.cc);
    r.centivolts = numtext::CountFromDigits(v);
    r.milliamps = numtext::CountFromDigits(i);
    return r;
}

inline void setPoint(int centivolts, int milliamps)
{
    unsigned char d[5];
    numtext::DigitsFromCount(centivolts, d);
    dsoSetVoltage(0, d);
    numtext::DigitsFromCount(milliamps, d);
    dsoSetCurrent(0, d);
}
