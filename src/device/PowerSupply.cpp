#include "device/PowerSupply.h"

// Implementation in progress; these keep the library linking.
CPowerSupply::CPowerSupply() = default;
CPowerSupply::~CPowerSupply() = default;
